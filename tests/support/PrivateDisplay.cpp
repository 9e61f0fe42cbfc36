#include "support/PrivateDisplay.h"

#include <QFile>
#include <QRegularExpression>

#include "support/TestFiles.h"

namespace orvo::test {
namespace {
constexpr int startTimeoutMs = 10000;
constexpr int commandTimeoutMs = 10000;
} // namespace

PrivateDisplay::PrivateDisplay() {
    const QString displayFile = folder_.filePath("display");
    // Xvfb writes the display number it took into the descriptor; a shell gives it one.
    // -noreset: a server that resets when its last client (an xdotool) leaves refuses the
    // clients that connect meanwhile.
    server_.setStandardOutputFile(QProcess::nullDevice());
    server_.setStandardErrorFile(folder_.filePath("xvfb.log"));
    server_.start("/bin/sh",
                  {"-c",
                   "exec Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>\"$0\"",
                   displayFile});
    if (!server_.waitForStarted()) {
        startError_ = "Xvfb: " + server_.errorString();
        return;
    }
    if (!waitUntil([&] { return !readFile(displayFile).trimmed().isEmpty(); }, startTimeoutMs)) {
        startError_ =
            "Xvfb did not start: " + QString::fromUtf8(readFile(folder_.filePath("xvfb.log")));
        return;
    }
    name_ = ":" + QString::fromUtf8(readFile(displayFile).trimmed());
}

PrivateDisplay::~PrivateDisplay() {
    server_.terminate();
    if (!server_.waitForFinished(3000)) {
        server_.kill();
        server_.waitForFinished();
    }
}

QString PrivateDisplay::run(const QString& program, const QStringList& arguments) const {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", name_);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(commandTimeoutMs) || process.exitCode() != 0) {
        return QString();
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

QStringList PrivateDisplay::windowsNamed(const QString& pattern) const {
    return run("xdotool", {"search", "--onlyvisible", "--name", pattern})
        .split('\n', Qt::SkipEmptyParts);
}

std::optional<QString> PrivateDisplay::waitForWindow(const QString& pattern, int timeoutMs) const {
    QStringList found;
    waitUntil(
        [&] {
            found = windowsNamed(pattern);
            return !found.isEmpty();
        },
        timeoutMs);
    if (found.isEmpty()) {
        return std::nullopt;
    }
    return found.last();
}

std::optional<QRect> PrivateDisplay::geometry(const QString& window) const {
    const QString shell = run("xdotool", {"getwindowgeometry", "--shell", window});
    const auto value = [&](const QString& key) {
        const auto match =
            QRegularExpression("^" + key + "=(-?\\d+)$", QRegularExpression::MultilineOption)
                .match(shell);
        return match.hasMatch() ? std::optional(match.captured(1).toInt()) : std::nullopt;
    };
    const auto x = value("X"), y = value("Y"), width = value("WIDTH"), height = value("HEIGHT");
    if (!x || !y || !width || !height) {
        return std::nullopt;
    }
    return QRect(*x, *y, *width, *height);
}

QImage PrivateDisplay::screenshot(const QString& path) const {
    const QString file = path.isEmpty() ? folder_.filePath("screen.png") : path;
    run("import", {"-window", "root", file});
    return QImage(file);
}

void PrivateDisplay::click(QPoint point) const {
    run("xdotool", {"mousemove", "--sync", QString::number(point.x()), QString::number(point.y()),
                    "click", "1"});
}

void PrivateDisplay::pressKey(const QString& window, const QString& key) const {
    run("xdotool", {"windowfocus", "--sync", window});
    // Through XTEST, as a keyboard would: Qt ignores keys sent to a window directly.
    run("xdotool", {"key", "--clearmodifiers", key});
}

} // namespace orvo::test
