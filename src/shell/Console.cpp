#include "shell/Console.h"

#include <cstdio>

namespace orvo {

void consoleLine(const QString& text) {
    const QByteArray bytes = text.toUtf8() + '\n';
    // One locked stdio call per line.
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace orvo
