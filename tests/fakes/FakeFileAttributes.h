#pragma once

#include <map>
#include <mutex>

#include "platform/FileAttributes.h"

namespace orvo {

// Creation dates set by the test, by path; other paths have none.
class FakeFileAttributes final : public FileAttributes {
public:
    void setCreationDate(const QString& path, const QDateTime& date) {
        std::lock_guard lock(mutex_);
        dates_[path] = date;
    }

    std::optional<QDateTime> creationDate(const QString& path) const override {
        std::lock_guard lock(mutex_);
        auto it = dates_.find(path);
        return it == dates_.end() ? std::nullopt : std::optional(it->second);
    }

private:
    mutable std::mutex mutex_; // guards dates_
    std::map<QString, QDateTime> dates_;
};

} // namespace orvo
