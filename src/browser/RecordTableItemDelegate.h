#pragma once

#include <QPointer>
#include <QStyledItemDelegate>

#include "browser/RowImages.h"

namespace orvo {

class RecordTableViewController;

// Paints each visible row of the records table through a row view made for that paint, and
// hands clicks to the row's buttons or, elsewhere on the row, to the table's selection.
class RecordTableItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit RecordTableItemDelegate(RecordTableViewController& table);

    const RowImages& images() const { return images_; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    QPointer<RecordTableViewController> table_;
    RowImages images_;
};

} // namespace orvo
