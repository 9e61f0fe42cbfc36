#include "shell/CopyFiles.h"

#include <filesystem>
#include <system_error>

#include <QFileInfo>

#include "shell/API.h"
#include "shell/Bundle.h"
#include "shell/Console.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;

bool exists(const QString& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path.toStdString(), error));
}

void createFolder(const QString& path) {
    std::error_code error;
    if (!fs::create_directory(path.toStdString(), error) && error) {
        consoleLine("Cannot create folder " + path + ": " +
                    QString::fromStdString(error.message()));
        return;
    }
    fs::permissions(path.toStdString(), fs::perms::owner_all, error);
}

// Only the owner may read what a call holds: the group's and others' bits go.
void makePrivate(const fs::path& path, fs::file_type type) {
    std::error_code error;
    const fs::perms current = fs::symlink_status(path, error).permissions();
    const fs::perms shared = fs::perms::group_all | fs::perms::others_all;
    if (error || type == fs::file_type::symlink || (current & shared) == fs::perms::none) {
        return;
    }
    fs::permissions(path, shared, fs::perm_options::remove, error);
    if (error) {
        consoleLine("Cannot make " + QString::fromStdString(path.string()) +
                    " private: " + QString::fromStdString(error.message()));
    }
}

void copyFile(const QString& source, const QString& destination) {
    std::error_code error;
    if (!fs::copy_file(source.toStdString(), destination.toStdString(), fs::copy_options::none,
                       error)) {
        consoleLine("Cannot copy " + source + " to " + destination + ": " +
                    QString::fromStdString(error.message()));
    }
}

// Documents folders are not a given on Linux (a fresh or headless account has none), and
// without one nothing could ever be stored.
void ensureDocumentsFolder() {
    const QString documents = QFileInfo(API::homePath()).path();
    if (!exists(documents)) {
        std::error_code error;
        fs::create_directories(documents.toStdString(), error);
    }
}

} // namespace

const QStringList& CopyFiles::arrayFolders() {
    static const QStringList folders = {"Records", "Records/Audio", "Records/Video",
                                        "Temp",    "Temp/Techlog",  "Temp/Icon"};
    return folders;
}

const QStringList& CopyFiles::arrayFiles() {
    static const QStringList files = {"Settings.plist"};
    return files;
}

void CopyFiles::makeTreePrivate() {
    const fs::path home = API::homePath().toStdString();
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(home, error))) {
        return;
    }
    makePrivate(home, fs::file_type::directory);
    for (fs::recursive_directory_iterator it(home, error), end; !error && it != end;
         it.increment(error)) {
        makePrivate(it->path(), it->symlink_status(error).type());
    }
}

void CopyFiles::checkFilesAndCopy() {
    const QString& home = API::homePath();
    if (!exists(home)) {
        ensureDocumentsFolder();
        createFolder(home);
    }
    for (const QString& entry : arrayFolders()) {
        const QString path = home + "/" + entry;
        if (!exists(path)) {
            createFolder(path);
        }
    }
    for (const QString& entry : arrayFiles()) {
        const QString destination = home + "/" + entry;
        if (exists(destination)) {
            continue;
        }
        const QFileInfo file(entry);
        const auto source = Bundle::pathForResource(file.completeBaseName(), file.suffix());
        if (!source) {
            consoleLine("Cannot copy " + entry + ": missing from " + Bundle::resourceDirectory());
            continue;
        }
        copyFile(*source, destination);
    }
}

} // namespace orvo
