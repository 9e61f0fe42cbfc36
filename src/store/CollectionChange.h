#pragma once

#include <vector>

#include <QString>

namespace orvo {

// What one notification of a live result reports. initial: the result as it is now.
// update: one committed write, with deletions as indexes in the result before it, insertions
// and modifications as indexes in the result after it, each ascending; all empty when nothing
// in the result changed. error: the result could not be brought up to date step by step; it
// has been read again (it is empty when that failed too) and the observer should reload.
struct CollectionChange {
    enum class Kind { initial, update, error };
    Kind kind = Kind::initial;
    std::vector<int> deletions;
    std::vector<int> insertions;
    std::vector<int> modifications;
    QString error;
};

} // namespace orvo
