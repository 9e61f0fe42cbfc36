// A desktop entry of any bytes, as a messenger's package may install it: it reads as an
// application entry or not at all, and an entry read is found again by what a window of that
// application tells (its class, or its executable).
#include <cstdint>

#include <QFile>
#include <QTemporaryDir>

#include "FuzzCheck.h"
#include "platform/linux/desktop/DesktopEntries.h"

using orvo::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One folder for the process; each input replaces the one file, and a new DesktopEntries
    // reads it afresh.
    static QTemporaryDir folder;
    const QString path = folder.filePath("org.example.Messenger.desktop");
    {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly) &&
                  file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size),
              "the file is written");
    }
    const auto entry = orvo::DesktopEntries::read(path);
    if (!entry) {
        return 0;
    }
    check(entry->id == "org.example.Messenger", "the id is the file's name");
    orvo::DesktopEntries entries({folder.path()});
    if (!entry->startupWMClass.isEmpty()) {
        const auto found = entries.find({std::nullopt, entry->startupWMClass, QString()});
        check(found && found->path == path, "the entry is found by its window class");
    }
    if (entry->program.startsWith('/')) {
        const auto found = entries.find({entry->program, QString(), QString()});
        check(found && found->path == path, "the entry is found by its executable");
    }
    const auto byId = entries.find({std::nullopt, QString(), "org.example.Messenger"});
    check(byId && byId->path == path, "the entry is found by its id");
    return 0;
}
