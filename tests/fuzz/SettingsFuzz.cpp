// A settings file of any bytes: it reads as a dictionary or as unreadable, never aborts; a
// write to what was read gives a file that reads back with the new value and every other
// string as it was.
#include <cstdint>

#include "FuzzCheck.h"
#include "shell/SettingsFile.h"

using orvo::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    auto settings = orvo::SettingsFile::parse(bytes);
    if (!settings) {
        return 0;
    }
    const QStringList keys = settings->keys();
    for (const QString& key : keys) {
        check(!settings->value(key).contains(QChar(0)), "a value read holds no NUL");
    }
    settings->setValue("QAudio", "2");
    const auto written = orvo::SettingsFile::parse(settings->toXml());
    check(written.has_value(), "a written file reads back");
    check(written->value("QAudio") == "2", "the written value reads back");
    for (const QString& key : keys) {
        check(key == "QAudio" || written->value(key) == settings->value(key),
              "every other value stays as it was");
    }
    return 0;
}
