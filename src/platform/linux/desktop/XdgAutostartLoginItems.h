#pragma once

#include <QString>

#include "platform/LoginItems.h"

namespace orvo {

// Login items as XDG autostart entries: <config home>/autostart/<identifier>.desktop, whose
// Exec line starts the helper program.
class XdgAutostartLoginItems final : public LoginItems {
public:
    // helperProgram: the absolute path of the executable that the entry starts.
    explicit XdgAutostartLoginItems(QString helperProgram);

    bool setLoginItemEnabled(const QString& identifier, bool enabled) override;

    // $XDG_CONFIG_HOME/autostart/<identifier>.desktop, else ~/.config/autostart/...
    static QString entryPath(const QString& identifier);

private:
    bool writeEntry(const QString& path) const;

    QString helperProgram_;
};

} // namespace orvo
