#pragma once

#include <map>
#include <mutex>

#include "platform/FileAttributes.h"

namespace orvo {

// Creation dates set by the test, by path; other paths have none. Free space as the test
// sets it, the same for every path; absent until set.
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

    void setAvailableBytes(std::optional<std::int64_t> bytes) {
        std::lock_guard lock(mutex_);
        available_ = bytes;
    }
    std::optional<std::int64_t> availableBytes(const QString&) const override {
        std::lock_guard lock(mutex_);
        return available_;
    }

private:
    mutable std::mutex mutex_; // guards dates_ and available_
    std::map<QString, QDateTime> dates_;
    std::optional<std::int64_t> available_;
};

} // namespace orvo
