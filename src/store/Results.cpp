#include "store/Results.h"

#include "platform/MainThread.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/RecordFields.h"
#include "store/ResultsState.h"

namespace orvo {

Results Results::make(std::shared_ptr<ResultsState> state) {
    if (state->realm != nullptr) {
        state->realm->track(state);
    }
    return Results(std::move(state));
}

Results Results::filter(const QString& predicate, const QVariantList& arguments) const {
    const SqlCondition added = compilePredicate(predicate, arguments);
    if (state_->realm != nullptr) {
        state_->realm->checkCondition(added, predicate);
    }
    SqlCondition combined = state_->condition;
    if (combined.sql.isEmpty()) {
        combined = added;
    } else {
        combined.sql = "(" + combined.sql + " AND " + added.sql + ")";
        combined.bindings += added.bindings;
        combined.search = bothTerms(combined.search, added.search);
    }
    return make(std::make_shared<ResultsState>(state_->realm, std::move(combined),
                                               state_->sortField, state_->ascending));
}

Results Results::sorted(const QString& keyPath, bool ascending) const {
    const auto field = recordFieldIndex(keyPath);
    if (!field) {
        throw QueryError("Unknown sort key path \"" + keyPath + "\"");
    }
    return make(
        std::make_shared<ResultsState>(state_->realm, state_->condition, *field, ascending));
}

void Results::ensureEvaluated() const {
    if (!state_->evaluated && state_->realm != nullptr) {
        state_->realm->startResults(state_);
    }
}

int Results::size() const {
    ensureEvaluated();
    return int(state_->entries.size());
}

std::shared_ptr<RealmRecordModel> Results::at(int index) const {
    ensureEvaluated();
    if (state_->realm == nullptr || index < 0 || std::size_t(index) >= state_->entries.size()) {
        return nullptr;
    }
    return state_->realm->object(state_->entries[std::size_t(index)].rowId);
}

std::optional<int> Results::indexOf(const RealmRecordModel& record) const {
    ensureEvaluated();
    if (record.realm() == nullptr || record.realm() != state_->realm) {
        return std::nullopt;
    }
    const auto& entries = state_->entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].rowId == record.rowId_) {
            return int(i);
        }
    }
    return std::nullopt;
}

NotificationToken Results::observe(std::function<void(const CollectionChange&)> callback) const {
    ensureEvaluated();
    auto observation = std::make_shared<Observation>();
    observation->callback = std::move(callback);
    state_->observations.push_back(observation);
    const auto deliverInitial = [weak = std::weak_ptr<Observation>(observation)] {
        const auto alive = weak.lock();
        if (alive && alive->active && !alive->initialDelivered) {
            alive->initialDelivered = true;
            alive->callback(CollectionChange{});
        }
    };
    if (!dispatchToMain(deliverInitial)) {
        deliverInitial();
    }
    return NotificationToken(state_, std::move(observation));
}

} // namespace orvo
