#include "platform/linux/sound/PipeWireMetadata.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

namespace orvo {
namespace {
const QString tool = QStringLiteral("pw-metadata");
const QString metadataName = QStringLiteral("default");
// The global object that the defaults belong to.
const QString globalSubject = QStringLiteral("0");
const QString jsonType = QStringLiteral("Spa:String:JSON");
} // namespace

PipeWireMetadata::PipeWireMetadata(std::optional<QString> socketPath,
                                   std::chrono::milliseconds timeout)
    : socketPath_(std::move(socketPath)), timeout_(timeout) {}

std::optional<QByteArray> PipeWireMetadata::run(QStringList arguments) const {
    if (socketPath_) {
        arguments = QStringList{"-r", *socketPath_} + arguments;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(tool, QStringList{"-n", metadataName} + arguments);
    if (!process.waitForFinished(int(timeout_.count()))) {
        process.kill();
        process.waitForFinished(-1);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

std::optional<PipeWireMetadata::Entry> PipeWireMetadata::read(const QString& key) const {
    const auto output = run({globalSubject});
    // A tool that found no such metadata says nothing of it.
    if (!output || !output->startsWith("Found")) {
        return std::nullopt;
    }
    // update: id:0 key:'default.configured.audio.sink' value:'{ "name": "x" }' type:'...'
    const QRegularExpression line(
        QStringLiteral("^update: id:%1 key:'%2' value:'(.*)' type:'[^']*'$")
            .arg(globalSubject, QRegularExpression::escape(key)),
        QRegularExpression::MultilineOption);
    const auto match = line.match(QString::fromUtf8(*output));
    return Entry{match.hasMatch() ? std::optional(match.captured(1)) : std::nullopt};
}

bool PipeWireMetadata::write(const QString& key, const std::optional<QString>& jsonValue) const {
    const auto output = jsonValue ? run({globalSubject, key, *jsonValue, jsonType})
                                  : run({"-d", globalSubject, key});
    return output.has_value();
}

std::optional<QString> PipeWireMetadata::nameOf(const QString& jsonValue) {
    const QJsonDocument document = QJsonDocument::fromJson(jsonValue.toUtf8());
    const QJsonValue name = document.object().value(QStringLiteral("name"));
    return name.isString() ? std::optional(name.toString()) : std::nullopt;
}

std::optional<QString> PipeWireMetadata::socketBesidePulse(const QString& pulseAddress) {
    static const QRegularExpression pattern(QStringLiteral("^unix:(/.+)/pulse/native$"));
    const auto match = pattern.match(pulseAddress);
    return match.hasMatch() ? std::optional(match.captured(1) + "/pipewire-0") : std::nullopt;
}

} // namespace orvo
