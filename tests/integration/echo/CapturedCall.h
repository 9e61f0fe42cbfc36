#pragma once

#include <vector>

#include <QString>

namespace orvo::test {

// A call recorded as the capture records it, from its sides' samples at the call's rate: each
// side into a speech segment of its own, both into the live mix (with the near side written
// again without the echo when the installed EchoCanceller is given), then merged as a stopped
// recording is. The merged file at path; false when any step failed.
bool recordAsCaptured(const QString& path, const std::vector<float>& you,
                      const std::vector<float>& them, bool removeEcho);

} // namespace orvo::test
