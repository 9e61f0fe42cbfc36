#include "platform/linux/desktop/DesktopEntries.h"

#include <memory>

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <glib.h>

namespace orvo {
namespace {

constexpr const char* entryGroup = "Desktop Entry";

struct KeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
struct GFree {
    void operator()(gchar* text) const { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFree>;

QString stringKey(GKeyFile* file, const char* key) {
    GText value(g_key_file_get_string(file, entryGroup, key, nullptr));
    return value ? QString::fromUtf8(value.get()) : QString();
}

// The program of an Exec line: its first word, unquoted as the desktop entry format quotes it,
// and "env VAR=value" prefixes skipped.
QString programOf(const QString& exec) {
    gint argc = 0;
    gchar** argv = nullptr;
    if (!g_shell_parse_argv(exec.toUtf8().constData(), &argc, &argv, nullptr)) {
        return {};
    }
    QString program;
    bool afterEnv = false;
    for (gint i = 0; i < argc; ++i) {
        const QString word = QString::fromUtf8(argv[i]);
        if (i == 0 && QFileInfo(word).fileName() == "env") {
            afterEnv = true;
            continue;
        }
        if (afterEnv && word.contains('=')) {
            continue;
        }
        program = word;
        break;
    }
    g_strfreev(argv);
    return program;
}

// Links resolved where the file exists, as /proc/<pid>/exe reports it.
QString resolvedPath(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

bool sameProgram(const QString& program, const QString& executablePath) {
    if (program.isEmpty()) {
        return false;
    }
    if (QFileInfo(program).isAbsolute()) {
        return resolvedPath(program) == resolvedPath(executablePath);
    }
    return program == QFileInfo(executablePath).fileName();
}

bool idMatches(const QString& id, const QString& name) {
    if (name.isEmpty()) {
        return false;
    }
    return id.compare(name, Qt::CaseInsensitive) == 0 ||
           id.section('.', -1).compare(name, Qt::CaseInsensitive) == 0;
}

void appendUnique(QStringList& list, const QString& folder) {
    const QString clean = QDir::cleanPath(folder);
    if (!clean.isEmpty() && !list.contains(clean)) {
        list << clean;
    }
}

} // namespace

QStringList DesktopEntries::machineFolders() {
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty()) {
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    }
    QStringList folders;
    for (const QString& dir : dataDirs.split(':', Qt::SkipEmptyParts)) {
        appendUnique(folders, dir + "/applications");
    }
    appendUnique(folders, QStringLiteral("/var/lib/flatpak/exports/share/applications"));
    appendUnique(folders, QStringLiteral("/var/lib/snapd/desktop/applications"));
    return folders;
}

QStringList DesktopEntries::searchFolders() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty()) {
        dataHome = QDir::homePath() + "/.local/share";
    }
    QStringList folders;
    appendUnique(folders, dataHome + "/applications");
    appendUnique(folders, dataHome + "/flatpak/exports/share/applications");
    for (const QString& folder : machineFolders()) {
        appendUnique(folders, folder);
    }
    return folders;
}

std::optional<DesktopEntry> DesktopEntries::read(const QString& path) {
    std::unique_ptr<GKeyFile, KeyFileFree> file(g_key_file_new());
    if (!g_key_file_load_from_file(file.get(), QFile::encodeName(path).constData(), G_KEY_FILE_NONE,
                                   nullptr)) {
        return std::nullopt;
    }
    if (stringKey(file.get(), "Type") != "Application" ||
        g_key_file_get_boolean(file.get(), entryGroup, "Hidden", nullptr)) {
        return std::nullopt;
    }
    DesktopEntry entry;
    entry.path = path;
    entry.id = QFileInfo(path).completeBaseName();
    // The Name in the first of the user's languages that the entry has.
    if (GText name{
            g_key_file_get_locale_string(file.get(), entryGroup, "Name", nullptr, nullptr)}) {
        entry.name = QString::fromUtf8(name.get());
    }
    entry.program = programOf(stringKey(file.get(), "Exec"));
    entry.tryExec = stringKey(file.get(), "TryExec");
    entry.startupWMClass = stringKey(file.get(), "StartupWMClass");
    entry.icon = stringKey(file.get(), "Icon");
    return entry;
}

void DesktopEntries::refresh() {
    std::vector<QDateTime> times;
    for (const QString& folder : folders_) {
        times.push_back(QFileInfo(folder).lastModified());
    }
    if (loaded_ && times == folderTimes_) {
        return;
    }
    entries_.clear();
    QSet<QString> seenIds; // an entry of an earlier folder hides one of the same id
    for (const QString& folder : folders_) {
        const QStringList files = QDir(folder).entryList({"*.desktop"}, QDir::Files, QDir::Name);
        for (const QString& file : files) {
            if (auto entry = read(folder + '/' + file); entry && !seenIds.contains(entry->id)) {
                seenIds.insert(entry->id);
                entries_.push_back(std::move(*entry));
            }
        }
    }
    folderTimes_ = std::move(times);
    loaded_ = true;
}

std::optional<DesktopEntry> DesktopEntries::find(const WindowOwner& owner) {
    refresh();
    const auto first = [&](auto matches) -> std::optional<DesktopEntry> {
        for (const DesktopEntry& entry : entries_) {
            if (matches(entry)) {
                return entry;
            }
        }
        return std::nullopt;
    };
    if (auto entry = first([&](const DesktopEntry& e) {
            return !e.startupWMClass.isEmpty() &&
                   (e.startupWMClass == owner.className || e.startupWMClass == owner.instance);
        })) {
        return entry;
    }
    if (owner.executablePath && !owner.executablePath->isEmpty()) {
        if (auto entry = first([&](const DesktopEntry& e) {
                return sameProgram(e.program, *owner.executablePath) ||
                       sameProgram(e.tryExec, *owner.executablePath);
            })) {
            return entry;
        }
    }
    return first([&](const DesktopEntry& e) {
        return idMatches(e.id, owner.className) || idMatches(e.id, owner.instance);
    });
}

} // namespace orvo
