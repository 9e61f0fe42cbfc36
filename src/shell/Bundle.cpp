#include "shell/Bundle.h"

#include <filesystem>
#include <system_error>

#include <QDir>
#include <QFileInfo>

namespace orvo {

QString Bundle::executablePath() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? QString() : QString::fromStdString(path.string());
}

QString Bundle::resourceDirectory() {
    const QFileInfo executable(executablePath());
    return QDir::cleanPath(executable.absolutePath() + "/../" + ORVO_DATA_DIR);
}

std::optional<QString> Bundle::pathForResource(const QString& name, const QString& type) {
    const QString path = resourceDirectory() + "/" + name + "." + type;
    if (!QFileInfo(path).isFile()) {
        return std::nullopt;
    }
    return path;
}

} // namespace orvo
