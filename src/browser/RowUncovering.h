#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include <QObject>
#include <QPointer>
#include <QString>

class QTableView;
class QVariantAnimation;

namespace orvo {

class RealmRecordModel;

// The unfolded rows of the records table: their text, height and animation, kept only while
// a row is on screen. Main thread only.
class RowUncovering : public QObject {
    Q_OBJECT
public:
    struct State {
        std::shared_ptr<RealmRecordModel> record;
        QString text;
        bool uncovered = false;
        int height = 0;
        bool animating = false;
        QPointer<QVariantAnimation> animation;
    };
    // The current row of a record, none when it is not in the result.
    using RowOf = std::function<std::optional<int>(const RealmRecordModel&)>;
    // The height of a text unfolded in a row, laid out at the table's width.
    using TextHeight = std::function<std::optional<int>(int row, const QString& text)>;

    RowUncovering(QTableView& table, RowOf rowOf, int foldedHeight, QObject* parent);

    std::optional<State> state(const RealmRecordModel& record) const;
    void animate(const std::shared_ptr<RealmRecordModel>& record, const QString& text,
                 bool uncovered, int height);
    // Drops the state of rows that left the screen or the result.
    void forgetHidden();
    // Folds every row at once: a new result gives every row the folded height.
    void clear();
    // Unfolded text re-wraps at a new width; its row follows.
    void rewrap(const TextHeight& textHeight);

private:
    void setRowHeight(int row, int extraHeight);
    void updateRow(int row);
    void step(const RealmRecordModel* key, int height);
    void finish(const RealmRecordModel* key);

    QTableView& table_;
    RowOf rowOf_;
    int foldedHeight_;
    std::map<const RealmRecordModel*, State> states_;
};

} // namespace orvo
