// What goes to and comes from the sound server. Bytes as lines: a device name, a UID, the
// sub-devices (comma-separated) and a property value give the combined output's module
// argument, which is refused or reads back exactly (sink name, sub-devices, and through
// libpulse's own parser the description and properties); the last line, as a property list
// the server sends with a device, gives a record whose own properties are exactly the
// "orvo." ones of the list.
#include <cstdint>
#include <map>
#include <memory>

#include <QStringList>
#include <QVariantMap>
#include <pulse/introspect.h>
#include <pulse/proplist.h>

#include "FuzzCheck.h"
#include "platform/AudioHardware.h"
#include "platform/linux/sound/CombineSinkArguments.h"
#include "platform/linux/sound/PulseConversions.h"
#include "platform/linux/sound/PulseDeviceCache.h"

namespace {

using orvo::fuzz::check;

struct ProplistFree {
    void operator()(pa_proplist* list) const { pa_proplist_free(list); }
};
using Proplist = std::unique_ptr<pa_proplist, ProplistFree>;

// The module's key=value words, as the server splits them: a value in double or single
// quotes may hold spaces.
std::map<QString, QString> moduleWords(const QString& text) {
    std::map<QString, QString> words;
    qsizetype at = 0;
    while (at < text.size()) {
        while (at < text.size() && text[at].isSpace()) {
            ++at;
        }
        const qsizetype equals = text.indexOf('=', at);
        if (at >= text.size() || equals < 0) {
            break;
        }
        const QString key = text.mid(at, equals - at);
        at = equals + 1;
        QString value;
        if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
            const QChar quote = text[at];
            const qsizetype end = text.indexOf(quote, at + 1);
            check(end > at, "a quoted value is closed");
            value = text.mid(at + 1, end - at - 1);
            at = end + 1;
        } else {
            const qsizetype start = at;
            while (at < text.size() && !text[at].isSpace()) {
                ++at;
            }
            value = text.mid(start, at - start);
        }
        check(words.count(key) == 0, "each key once");
        words[key] = value;
    }
    return words;
}

void checkModuleArgument(const QStringList& lines) {
    const QString name = lines.value(0);
    const QString uid = lines.value(1);
    const QStringList subDevices = lines.value(2).split(',');
    const QString userSink = lines.value(3);
    QVariantList subDeviceMaps;
    for (const QString& device : subDevices) {
        subDeviceMaps << QVariantMap{{orvo::aggregateKey::subDeviceUID, device}};
    }
    const QVariantMap description{
        {orvo::aggregateKey::name, name},
        {orvo::aggregateKey::uid, uid},
        {orvo::aggregateKey::subDevices, subDeviceMaps},
        {orvo::aggregateKey::stacked, 1},
        {orvo::aggregateKey::properties, QVariantMap{{"orvo.user_sink", userSink}}}};
    const auto arguments = orvo::combineSinkArguments(description);
    if (!arguments) {
        return;
    }
    check(!uid.front().isDigit(), "no name that a server reads as an object's number");
    const auto words = moduleWords(QString::fromUtf8(arguments->text));
    check(words.size() == 3, "sink name, sub-devices and properties");
    check(words.at("sink_name") == uid && arguments->sinkName == uid, "the sink name reads back");
    check(words.at("slaves").split(',') == subDevices && arguments->slaves == subDevices &&
              orvo::pulse::slavesOf(QString::fromUtf8(arguments->text)) == subDevices,
          "the sub-devices read back");
    const Proplist properties(pa_proplist_from_string(words.at("sink_properties").toUtf8()));
    check(properties != nullptr, "the properties parse");
    const char* readName = pa_proplist_gets(properties.get(), PA_PROP_DEVICE_DESCRIPTION);
    check(readName != nullptr && QString::fromUtf8(readName) == name, "the description reads back");
    const char* readSink = pa_proplist_gets(properties.get(), "orvo.user_sink");
    check(readSink != nullptr && QString::fromUtf8(readSink) == userSink,
          "the property reads back");
}

void checkServerProperties(const QByteArray& text) {
    const Proplist list(pa_proplist_from_string(text.constData()));
    if (list == nullptr) {
        return;
    }
    pa_sink_info info{};
    info.name = "sink";
    info.description = "";
    info.proplist = list.get();
    const orvo::PulseSinkRecord record = orvo::toRecord(info);
    check(record.description == "sink", "a sink without a description is named by its name");
    std::map<QByteArray, QByteArray> expected;
    void* state = nullptr;
    while (const char* key = pa_proplist_iterate(list.get(), &state)) {
        if (QByteArray(key).startsWith("orvo.")) {
            const char* value = pa_proplist_gets(list.get(), key);
            expected[key] = value != nullptr ? QByteArray(value) : QByteArray();
        }
    }
    check(record.ownProperties == expected, "the own properties are the orvo. ones");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList lines = QString::fromUtf8(bytes).split('\n');
    checkModuleArgument(lines);
    checkServerProperties(lines.value(4).toUtf8());
    return 0;
}
