#pragma once

#include <QString>

namespace orvo::bench {

// A catalogue file at path with count records as the program makes them: localised names
// with time stamps, some renamed, a transcription for every third and a favourite in every
// fifth, about ten minutes apart.
void fillStore(const QString& path, int count);

// Bytes the allocator has handed out and not yet got back, in megabytes: unlike the
// resident size, this does not hide memory reused from earlier work.
double heapMegabytes();

} // namespace orvo::bench
