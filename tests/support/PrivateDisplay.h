#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

namespace orvo::test {

// An X server of the test's own (Xvfb), and what a user does on it through xdotool: find a
// window, look at the screen, click, press a key. The server ends with the object.
class PrivateDisplay {
public:
    PrivateDisplay();
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    // Empty when the server runs; otherwise what went wrong.
    const QString& startError() const { return startError_; }
    // The value of DISPLAY for programs on this server.
    const QString& name() const { return name_; }

    // The visible windows whose title matches the regular expression; their X ids.
    QStringList windowsNamed(const QString& pattern) const;
    // Waits until such a window is visible; its id.
    std::optional<QString> waitForWindow(const QString& pattern, int timeoutMs) const;
    std::optional<QRect> geometry(const QString& window) const;
    // The whole screen as a user sees it; also written to path when one is given.
    QImage screenshot(const QString& path = QString()) const;
    void click(QPoint point) const;
    // Gives window the keyboard (no window manager here) and presses keys, e.g. "Return".
    void pressKey(const QString& window, const QString& key) const;

private:
    QString run(const QString& program, const QStringList& arguments) const;

    QTemporaryDir folder_;
    QProcess server_;
    QString name_;
    QString startError_;
};

} // namespace orvo::test
