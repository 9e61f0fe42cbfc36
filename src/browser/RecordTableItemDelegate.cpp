#include "browser/RecordTableItemDelegate.h"

#include <QMouseEvent>
#include <QPainter>

#include "browser/RecordTableRowView.h"
#include "browser/RecordTableViewController.h"

namespace orvo {

RecordTableItemDelegate::RecordTableItemDelegate(RecordTableViewController& table)
    : QStyledItemDelegate(&table), table_(&table) {}

void RecordTableItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    if (table_ == nullptr) {
        return;
    }
    const auto rowView = table_->tableView(index.row(), option.rect);
    if (rowView) {
        rowView->draw(*painter);
    }
    // The row the keys act on: tinted, with a bar at its edge while the table has the focus.
    if (option.state & QStyle::State_Selected) {
        painter->save();
        painter->fillRect(option.rect, QColor(107, 89, 204, 24));
        if (option.state & QStyle::State_HasFocus || table_->recordsTableView->hasFocus()) {
            painter->fillRect(QRect(option.rect.left(), option.rect.top(), 3, option.rect.height()),
                              QColor(107, 89, 204));
        }
        painter->restore();
    }
}

QSize RecordTableItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                        const QModelIndex&) const {
    return {option.rect.width(), RecordTableRowView::foldedHeight()};
}

bool RecordTableItemDelegate::editorEvent(QEvent* event, QAbstractItemModel*,
                                          const QStyleOptionViewItem& option,
                                          const QModelIndex& index) {
    if (table_ == nullptr || event->type() != QEvent::MouseButtonRelease) {
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) {
        return false;
    }
    table_->clickRow(index.row(), option.rect, mouse->position().toPoint());
    return true;
}

} // namespace orvo
