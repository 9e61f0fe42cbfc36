#pragma once

#include <optional>

#include <QString>

namespace orvo {

// The program's own files: its executable and the data files installed beside it in
// ../share/orvo-call-recorder/ (the same layout in the build tree). Any thread.
class Bundle {
public:
    Bundle() = delete;

    static QString executablePath();
    static QString resourceDirectory();

    // The data file name + "." + type, when it exists.
    static std::optional<QString> pathForResource(const QString& name, const QString& type);
};

} // namespace orvo
