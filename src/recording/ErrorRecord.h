#pragma once

#include <QString>

namespace orvo {

// Why a recording was not finalised; the raw value is what the user is shown.
enum class ErrorRecord { margeFail, margeUnknow };

QString rawValue(ErrorRecord error);

} // namespace orvo
