#pragma once

#include <QString>
#include <QTemporaryDir>

namespace orvo::test {

// Private, writable views of /etc and /var/lib for this process and every process it starts
// from now on: overlays on a tmpfs in a mount namespace of its own, so that what a test
// writes there (as root, as the driver scripts do) never reaches the machine. Needs root.
// The object undoes it: the process returns to the machine's namespace.
class PrivateSystemPlaces {
public:
    PrivateSystemPlaces();
    ~PrivateSystemPlaces();
    PrivateSystemPlaces(const PrivateSystemPlaces&) = delete;
    PrivateSystemPlaces& operator=(const PrivateSystemPlaces&) = delete;

    // Empty when the private views are in place; otherwise why not.
    const QString& error() const { return error_; }

private:
    bool overlay(const QString& place);

    QTemporaryDir scratch_;
    int machineNamespace_ = -1;
    QString error_;
};

} // namespace orvo::test
