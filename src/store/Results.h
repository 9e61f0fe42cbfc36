#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QString>
#include <QVariantList>

#include "store/CollectionChange.h"
#include "store/NotificationToken.h"

namespace orvo {

class RealmRecordModel;
class ResultsState;

// A live query over the records of a Realm: optionally filtered and sorted, read on first
// use and kept up to date by every committed write from then on. Copies share one state.
// Main thread only.
class Results {
public:
    // Narrowed by a predicate (see compilePredicate). Throws QueryError.
    Results filter(const QString& predicate, const QVariantList& arguments = {}) const;
    // Ordered by a field name; ties in the order of insertion. Throws QueryError.
    Results sorted(const QString& keyPath, bool ascending = true) const;

    int size() const;
    bool isEmpty() const { return size() == 0; }
    // The live record at index; nullptr outside the result or when its row cannot be read.
    std::shared_ptr<RealmRecordModel> at(int index) const;
    // The index of this very record in the result.
    std::optional<int> indexOf(const RealmRecordModel& record) const;

    // Calls callback on the main thread: first, from the event loop, with the initial
    // result; then once for every committed write, while the token lives.
    [[nodiscard]] NotificationToken
    observe(std::function<void(const CollectionChange&)> callback) const;

private:
    friend class Realm;
    explicit Results(std::shared_ptr<ResultsState> state) : state_(std::move(state)) {}
    static Results make(std::shared_ptr<ResultsState> state);
    void ensureEvaluated() const;

    std::shared_ptr<ResultsState> state_;
};

} // namespace orvo
