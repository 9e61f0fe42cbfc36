#pragma once

#include <chrono>
#include <optional>

#include <QString>
#include <QStringList>

namespace orvo {

// PipeWire's "default" metadata, where the server keeps the user's configured default devices
// apart from the defaults of the moment. Read and written through the pw-metadata tool of
// the pipewire-bin package, which needs no library of PipeWire's. Every call blocks, bounded
// by the timeout. Any thread; no state beyond the address.
class PipeWireMetadata {
public:
    static constexpr char configuredSinkKey[] = "default.configured.audio.sink";

    // socketPath: the PipeWire socket to ask; absent: the user's own.
    PipeWireMetadata(std::optional<QString> socketPath, std::chrono::milliseconds timeout);

    struct Entry {
        std::optional<QString> value; // absent: the key is not set
    };
    // Absent when the metadata cannot be read (no tool, no PipeWire).
    std::optional<Entry> read(const QString& key) const;
    // Sets the key to a JSON value, or removes it for an absent one. False on failure.
    bool write(const QString& key, const std::optional<QString>& jsonValue) const;

    // The "name" of a JSON object value such as {"name": "speakers"}; absent without one.
    static std::optional<QString> nameOf(const QString& jsonValue);
    // The PipeWire socket beside a PulseAudio socket address "unix:DIR/pulse/native", as
    // pipewire-pulse lays them out in one runtime folder; absent for any other address.
    static std::optional<QString> socketBesidePulse(const QString& pulseAddress);

private:
    std::optional<QByteArray> run(QStringList arguments) const;

    std::optional<QString> socketPath_;
    std::chrono::milliseconds timeout_;
};

} // namespace orvo
