#pragma once

#include <atomic>

#include <QString>

#include "platform/EchoCanceller.h"
#include "platform/Media.h"

namespace orvo {

// A recording written again with its near side's track freed of the far side's echo: both
// sides decoded side by side at the near side's rate (else 48 kHz), the near one passed
// through an echo cancellation and encoded as AAC; every other track copied packet by packet.
class NearSideEchoRemover {
public:
    static EchoFreeCopy write(const QString& source, const QString& destination, int nearStream,
                              int farStream, EchoCanceller& canceller,
                              const std::atomic<bool>& cancelled);
};

} // namespace orvo
