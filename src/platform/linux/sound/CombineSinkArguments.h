#pragma once

#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace orvo {

// An aggregate description (see aggregateKey) as the arguments of module-combine-sink.
struct CombineSinkArguments {
    QString sinkName;
    QStringList slaves; // the sub-devices' sink names
    QByteArray text;    // the whole module argument
};

// Absent when the description asks for what the module cannot make, or holds text that the
// server would not take as a name or cannot carry inside quotes. A new device's name must not
// start with a digit: PipeWire's server takes such a name for the number of another object.
std::optional<CombineSinkArguments> combineSinkArguments(const QVariantMap& description);

} // namespace orvo
