#pragma once

#include <QString>

#include "platform/Port.h"

namespace orvo {

// Programs that the desktop starts when the user logs in. Main thread; touches files only.
class LoginItems : public Port {
public:
    // Registers (enabled) or unregisters the helper program known by identifier. True when
    // the registration afterwards is in the wanted state.
    virtual bool setLoginItemEnabled(const QString& identifier, bool enabled) = 0;
};

} // namespace orvo
