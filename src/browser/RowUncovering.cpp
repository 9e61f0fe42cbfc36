#include "browser/RowUncovering.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QVariantAnimation>

namespace orvo {
namespace {
constexpr int uncoverDurationMs = 250;
} // namespace

RowUncovering::RowUncovering(QTableView& table, RowOf rowOf, int foldedHeight, QObject* parent)
    : QObject(parent), table_(table), rowOf_(std::move(rowOf)), foldedHeight_(foldedHeight) {}

std::optional<RowUncovering::State> RowUncovering::state(const RealmRecordModel& record) const {
    const auto found = states_.find(&record);
    if (found == states_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void RowUncovering::setRowHeight(int row, int extraHeight) {
    table_.verticalHeader()->resizeSection(row, foldedHeight_ + extraHeight);
}

void RowUncovering::updateRow(int row) {
    table_.viewport()->update(table_.visualRect(table_.model()->index(row, 0)));
}

void RowUncovering::animate(const std::shared_ptr<RealmRecordModel>& record, const QString& text,
                            bool uncovered, int height) {
    State& state = states_[record.get()];
    state.record = record;
    state.text = text;
    state.uncovered = uncovered;
    state.animating = true;
    if (state.animation != nullptr) {
        state.animation->stop();
        state.animation->deleteLater();
    }
    auto* animation = new QVariantAnimation(this);
    state.animation = animation;
    animation->setDuration(uncoverDurationMs);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(state.height);
    animation->setEndValue(height);
    const RealmRecordModel* key = record.get();
    connect(animation, &QVariantAnimation::valueChanged, this,
            [this, key](const QVariant& value) { step(key, value.toInt()); });
    connect(animation, &QVariantAnimation::finished, this, [this, key, animation] {
        animation->deleteLater();
        finish(key);
    });
    animation->start();
}

void RowUncovering::step(const RealmRecordModel* key, int height) {
    const auto found = states_.find(key);
    if (found == states_.end()) {
        return;
    }
    found->second.height = height;
    if (const auto row = rowOf_(*found->second.record)) {
        setRowHeight(*row, height);
    }
}

void RowUncovering::finish(const RealmRecordModel* key) {
    const auto found = states_.find(key);
    if (found == states_.end()) {
        return;
    }
    found->second.animating = false;
    if (const auto row = rowOf_(*found->second.record)) {
        updateRow(*row);
    }
    if (!found->second.uncovered) {
        states_.erase(found);
    }
}

void RowUncovering::forgetHidden() {
    const QRect visible = table_.viewport()->rect();
    for (auto it = states_.begin(); it != states_.end();) {
        const auto row = rowOf_(*it->second.record);
        const bool onScreen =
            row && table_.visualRect(table_.model()->index(*row, 0)).intersects(visible);
        if (onScreen) {
            ++it;
            continue;
        }
        if (it->second.animation != nullptr) {
            it->second.animation->stop();
            it->second.animation->deleteLater();
        }
        if (row) {
            // A row above the screen that folds must not move what is on screen.
            const bool above = table_.rowViewportPosition(*row) < 0;
            const int shrink = table_.rowHeight(*row) - foldedHeight_;
            setRowHeight(*row, 0);
            if (above) {
                QScrollBar* bar = table_.verticalScrollBar();
                const QSignalBlocker blocker(bar);
                bar->setValue(bar->value() - shrink);
            }
        }
        it = states_.erase(it);
    }
}

void RowUncovering::clear() {
    for (auto& [key, state] : states_) {
        if (state.animation != nullptr) {
            state.animation->stop();
        }
    }
    states_.clear();
}

void RowUncovering::rewrap(const TextHeight& textHeight) {
    for (auto& [key, state] : states_) {
        const auto row = rowOf_(*state.record);
        if (!state.uncovered || state.animating || !row || state.height == 0) {
            continue;
        }
        if (const auto height = textHeight(*row, state.text)) {
            state.height = *height;
            setRowHeight(*row, state.height);
        }
    }
}

} // namespace orvo
