#pragma once

#include <QString>

namespace orvo {

// Any thread. Prints one whole line to standard output and flushes it, so that lines of
// several threads never mix and a reader of a pipe sees them at once.
void consoleLine(const QString& text);

} // namespace orvo
