#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include <QString>
#include <QVariantMap>

namespace orvo {

// Process-wide notifications by name. A notification is delivered synchronously on the
// thread that posts it, to every observer of its name whose object filter matches.
class NotificationCenter {
public:
    struct Notification {
        QString name;
        const void* object = nullptr;
        QVariantMap userInfo;
    };
    using Handler = std::function<void(const Notification&)>;

    // Ends its observation when destroyed or reset.
    class Observation {
    public:
        Observation() = default;
        Observation(NotificationCenter* center, std::uint64_t id) : center_(center), id_(id) {}
        Observation(Observation&& other) noexcept;
        Observation& operator=(Observation&& other) noexcept;
        Observation(const Observation&) = delete;
        Observation& operator=(const Observation&) = delete;
        ~Observation() { reset(); }
        void reset();

    private:
        NotificationCenter* center_ = nullptr;
        std::uint64_t id_ = 0;
    };

    static NotificationCenter& shared();

    // Any thread. object == nullptr observes the name from every poster.
    [[nodiscard]] Observation addObserver(const QString& name, const void* object, Handler handler);

    // Any thread; blocks while the handlers run. A handler removed while a post is under way
    // on another thread may still receive that one notification.
    void post(const QString& name, const void* object = nullptr, const QVariantMap& userInfo = {});

private:
    struct Entry {
        QString name;
        const void* object;
        std::shared_ptr<Handler> handler;
    };
    void remove(std::uint64_t id);

    std::mutex mutex_; // guards entries_ and nextId_
    std::map<std::uint64_t, Entry> entries_;
    std::uint64_t nextId_ = 1;
};

} // namespace orvo
