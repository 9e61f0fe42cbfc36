#include "browser/RecordTableViewController.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

#include "browser/PopoverMenuViewController.h"
#include "browser/RecognizerSheet.h"
#include "browser/RecordTableDelegate.h"
#include "browser/RecordTableItemDelegate.h"
#include "browser/RecordTableModel.h"
#include "browser/RecordTableRowView.h"
#include "browser/RowUncovering.h"
#include "browser/ShareMenu.h"
#include "browser/TranscriptSaveDialog.h"
#include "browser/TranscriptWindow.h"
#include "platform/MainThread.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "recording/PrivacyManager.h"
#include "shell/API.h"
#include "shell/Console.h"
#include "shell/Localization.h"
#include "shell/Logging.h"
#include "store/Realm.h"
#include "store/RealmManager.h"
#include "store/RealmRecordModel.h"
#include "store/RecordType.h"
#include "ui/AlertManager.h"

namespace orvo {
namespace {
constexpr int searchPreparationDelayMs = 300;
} // namespace

RecordTableViewController::RecordTableViewController(QWidget* parent)
    : QWidget(parent), txtRename(Localization::text("RENAME")),
      txtDelete(Localization::text("DELETE")), txtNote(Localization::text("NOTE")),
      txtEditNote(Localization::text("EDIT_NOTE")),
      txtSharedTitle(Localization::text("SHRE_RECORD")),
      txtDeleteInfo(Localization::text("DELETE_INFO")), txtError(Localization::text("ERROR")),
      txtRecordNotFound(Localization::text("RECORD_NOT_FOUND")),
      txtErrorRecognize(Localization::text("RECOGNIZER_ERROR")),
      txtRecognize(Localization::text("RECOGNIZER_PROGRESS")),
      txtErrorRecognizeAuth(Localization::text("RECOGNIZER_PRIVACY")) {
    recordsTableView = new QTableView(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(recordsTableView);
    model_ = new RecordTableModel(this);
    itemDelegate_ = new RecordTableItemDelegate(*this);
    recordsTableView->setModel(model_);
    recordsTableView->setItemDelegate(itemDelegate_);
    uncovering_ = new RowUncovering(
        *recordsTableView, [this](const RealmRecordModel& record) { return rowOf(record); },
        RecordTableRowView::foldedHeight(), this);
    recognizerSheet_ = std::make_unique<RecognizerSheet>();
    viewDidLoad();
}

RecordTableViewController::~RecordTableViewController() = default;

const std::optional<Results>& RecordTableViewController::realmRecords() const {
    return model_->results();
}

void RecordTableViewController::viewDidLoad() {
    setupView();
    setFilter(QString(), false);
    addObserverRealm();
}

void RecordTableViewController::setupView() {
    QTableView& table = *recordsTableView;
    // A click keeps no selection: the active record shows on its own row. The keyboard moves
    // one, to say which row its keys act on.
    table.setSelectionMode(QAbstractItemView::SingleSelection);
    table.setSelectionBehavior(QAbstractItemView::SelectRows);
    table.setFocusPolicy(Qt::StrongFocus);
    // What a screen reader says as the focus enters the list.
    table.setAccessibleName(Localization::text("RECORDS"));
    table.installEventFilter(this);
    table.setShowGrid(false);
    table.setFrameShape(QFrame::NoFrame);
    table.setEditTriggers(QAbstractItemView::NoEditTriggers);
    table.setDragEnabled(false);
    table.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    table.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table.horizontalHeader()->hide();
    table.horizontalHeader()->setStretchLastSection(true);
    // One height for every folded row, so that no row is read to lay out the table; an
    // unfolded row gets its own.
    table.verticalHeader()->hide();
    table.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table.verticalHeader()->setDefaultSectionSize(RecordTableRowView::foldedHeight());
    table.viewport()->setAutoFillBackground(true);
    QPalette palette = table.palette();
    palette.setColor(QPalette::Base, Qt::white);
    // The style's own selection would cover the row: the delegate draws a lighter one.
    palette.setColor(QPalette::Highlight, Qt::transparent);
    table.setPalette(palette);
    emptyHint = new QLabel(table.viewport());
    emptyHint->setObjectName(QStringLiteral("emptyHint"));
    emptyHint->setWordWrap(true);
    emptyHint->setAlignment(Qt::AlignCenter);
    emptyHint->setMaximumWidth(420);
    emptyHint->setStyleSheet(QStringLiteral("QLabel { color: #5a5a66; font-size: 14px; }"));
    auto* hintLayout = new QVBoxLayout(table.viewport());
    hintLayout->addWidget(emptyHint, 0, Qt::AlignCenter);
    emptyHint->hide();
    connect(table.verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { uncovering_->forgetHidden(); });
}

void RecordTableViewController::setFilter(const QString& searchText, bool isFavoriteMode) {
    Results all = realm().objects();
    Results filtered = all;
    if (isFavoriteMode && searchText.isEmpty()) {
        filtered = all.filter("favorite == true");
    } else if (isFavoriteMode) {
        filtered = all.filter(
            "favorite == true AND (name contains[cd] %@ || recognizeText contains[cd] %@)",
            {searchText, searchText});
    } else if (!searchText.isEmpty()) {
        filtered = all.filter("name contains[cd] %@ || recognizeText contains[cd] %@",
                              {searchText, searchText});
    }
    observeRealm.reset();
    uncovering_->clear();
    // A reset gives every row the folded height again.
    model_->setResults(filtered.sorted("time", false));
    unfiltered_ = searchText.isEmpty() && !isFavoriteMode;
    addObserverRealm();
    showEmptyHint();
}

void RecordTableViewController::showEmptyHint() {
    const bool empty = unfiltered_ && numberOfRows() == 0;
    if (empty) {
        QString text = QStringLiteral("<p><b>%1</b></p><p>%2</p>")
                           .arg(Localization::text("EMPTY_TITLE").toHtmlEscaped(),
                                Localization::text("EMPTY_HOW").toHtmlEscaped());
        text += QStringLiteral("<p>%1</p>").arg(Localization::text("EMPTY_IMPORT").toHtmlEscaped());
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            text +=
                QStringLiteral("<p>%1</p>").arg(Localization::text("EMPTY_TRAY").toHtmlEscaped());
        }
        emptyHint->setText(text);
    }
    emptyHint->setVisible(empty);
}

void RecordTableViewController::addObserverRealm() {
    if (!model_->results()) {
        return;
    }
    QPointer<RecordTableViewController> self(this);
    observeRealm = model_->results()->observe([self](const CollectionChange& change) {
        if (self != nullptr) {
            self->handleChange(change);
        }
    });
}

void RecordTableViewController::handleChange(const CollectionChange& change) {
    switch (change.kind) {
    case CollectionChange::Kind::initial:
        model_->apply(change);
        break;
    case CollectionChange::Kind::update:
        model_->apply(change);
        consoleLine("Deletions: " + QString::number(change.deletions.size()) +
                    " Insertions: " + QString::number(change.insertions.size()) +
                    " Modifications: " + QString::number(change.modifications.size()));
        break;
    case CollectionChange::Kind::error:
        consoleLine("Records could not be kept in step: " + change.error);
        model_->apply(change);
        break;
    }
    uncovering_->forgetHidden();
    showEmptyHint();
}

int RecordTableViewController::numberOfRows() const {
    return model_->rowCount();
}

std::unique_ptr<RecordTableRowView> RecordTableViewController::tableView(int row,
                                                                         const QRect& frame) {
    const auto record = model_->record(row);
    if (!record) {
        return nullptr;
    }
    auto rowView = std::make_unique<RecordTableRowView>(row, itemDelegate_->images());
    rowView->setInfoRecord(record);
    rowView->setDurationSeconds(model_->durationOf(*record));
    if (currentSelectRecord && record->fileName() == currentSelectRecord->fileName()) {
        rowView->setIsSelectRecord(true);
    }
    rowView->recordTableViewController = this;
    rowView->setupView(frame);
    return rowView;
}

void RecordTableViewController::clickRow(int row, const QRect& frame, const QPoint& point) {
    // The mouse keeps no selection, also on a row's buttons.
    recordsTableView->clearSelection();
    const auto rowView = tableView(row, frame);
    if (!rowView) {
        return;
    }
    switch (rowView->controlAt(point)) {
    case RecordTableRowView::Control::favorite:
        rowView->actionFavorite();
        return;
    case RecordTableRowView::Control::subInfo:
        rowView->actionSubInfo();
        return;
    case RecordTableRowView::Control::menu:
        rowView->actionMenu();
        return;
    case RecordTableRowView::Control::showAll:
        showWholeText(rowView->infoRecord());
        return;
    case RecordTableRowView::Control::none:
        break;
    }
    tableViewSelectionIsChanging(row);
    tableViewSelectionDidChange();
}

std::optional<QString>
RecordTableViewController::existingMediaPath(const RealmRecordModel& record) {
    const auto path = record.filePath();
    if (!path || !QFileInfo(*path).isFile()) {
        alertRecordNotFound();
        return std::nullopt;
    }
    return path;
}

void RecordTableViewController::alertRecordNotFound() {
    AlertManager::shared().showDefaultAlert(window(), txtError, txtRecordNotFound,
                                            AlertManager::AlertStyle::critical);
}

void RecordTableViewController::tableViewSelectionIsChanging(int row) {
    if (row < 0) {
        return;
    }
    const auto record = model_->record(row);
    if (!record) {
        return;
    }
    const auto path = existingMediaPath(*record);
    if (!path) {
        return;
    }
    changeActiveRecord(record);
    if (delegate != nullptr) {
        delegate->recordTable(*this, record);
    }
}

void RecordTableViewController::tableViewSelectionDidChange() {
    recordsTableView->clearSelection();
}

std::optional<int> RecordTableViewController::rowOf(const RealmRecordModel& record) const {
    if (!model_->results() || record.isInvalidated()) {
        return std::nullopt;
    }
    return model_->results()->indexOf(record);
}

void RecordTableViewController::changeActiveRecord(
    const std::shared_ptr<RealmRecordModel>& newRecord) {
    const auto previous = currentSelectRecord;
    currentSelectRecord = newRecord;
    // Row views are drawn from the active record: repainting both rows moves the marker.
    if (previous) {
        if (const auto row = rowOf(*previous)) {
            updateRow(*row);
        }
    }
    if (newRecord) {
        if (const auto row = rowOf(*newRecord)) {
            updateRow(*row);
        }
    }
}

void RecordTableViewController::updateRow(int row) {
    recordsTableView->viewport()->update(recordsTableView->visualRect(model_->index(row)));
}

void RecordTableViewController::renameRecord(const std::shared_ptr<RealmRecordModel>& record,
                                             RecordTableRowView& forRow) {
    if (!record) {
        return;
    }
    AlertManager::shared().showAlertForRename(
        window(), txtRename, record->name(),
        afterEdit(record, forRow.row(), {}, [record](const QString& name) {
            RealmManager::updateObjectName(record, name, record->fileName());
        }));
}

void RecordTableViewController::noteRecord(const std::shared_ptr<RealmRecordModel>& record,
                                           RecordTableRowView& forRow,
                                           Completion complitedEditNote) {
    if (!record) {
        return;
    }
    AlertManager::shared().showAlertForNote(
        window(), record->note().isEmpty() ? txtNote : txtEditNote, record->note(),
        afterEdit(record, forRow.row(), std::move(complitedEditNote),
                  [record](const QString& note) { RealmManager::updateObjectNote(record, note); }));
}

AlertManager::TextCompletion
RecordTableViewController::afterEdit(const std::shared_ptr<RealmRecordModel>& record, int row,
                                     Completion completion,
                                     std::function<void(const QString&)> store) {
    QPointer<RecordTableViewController> self(this);
    return [self, record, row, completion, store](bool confirmed, std::optional<QString> text) {
        if (!confirmed || !text || record->isInvalidated()) {
            return;
        }
        store(*text);
        if (self != nullptr) {
            self->updateRow(row);
        }
        if (completion) {
            completion();
        }
    };
}

void RecordTableViewController::deleteRecord(const std::shared_ptr<RealmRecordModel>& record,
                                             RecordTableRowView&) {
    if (!record) {
        return;
    }
    QPointer<RecordTableViewController> self(this);
    AlertManager::shared().showAlerForDelete(
        window(), txtDelete, Localization::format(txtDeleteInfo, {record->name()}), record->name(),
        [self, record](bool confirmed) {
            if (!confirmed || self == nullptr || record->isInvalidated()) {
                return;
            }
            if (self->currentSelectRecord &&
                record->fileName() == self->currentSelectRecord->fileName()) {
                self->currentSelectRecord.reset();
                if (self->delegate != nullptr) {
                    self->delegate->hiddenAudioPlayer();
                }
            }
            RealmManager::deleteObject(record);
        });
}

void RecordTableViewController::openFinder(const std::shared_ptr<RealmRecordModel>& record) {
    if (!record) {
        return;
    }
    const auto path = record->filePath();
    if (!path) {
        alertRecordNotFound();
        return;
    }
    if (auto* workspace = Platform::shared().find<Workspace>()) {
        workspace->revealFile(*path);
    }
}

void RecordTableViewController::sharedRecord(const std::shared_ptr<RealmRecordModel>& record,
                                             RecordTableRowView& forRow) {
    if (!record) {
        return;
    }
    const auto path = existingMediaPath(*record);
    if (!path) {
        return;
    }
    const QRect anchor = frameOfRow(forRow.row());
    QPointer<RecordTableViewController> self(this);
    // Shown in a later turn, once the actions menu has gone.
    QTimer::singleShot(0, this, [self, path, anchor] {
        if (self != nullptr) {
            self->showShareMenu(*path, anchor);
        }
    });
}

QRect RecordTableViewController::frameOfRow(int row) const {
    return recordsTableView->visualRect(model_->index(row));
}

void RecordTableViewController::showShareMenu(const QString& path, const QRect& anchor) {
    ShareMenu::popup(this, path, Localization::format(txtSharedTitle, {API::prgName()}),
                     recordsTableView->viewport()->mapToGlobal(anchor.topLeft()));
}

void RecordTableViewController::recognizerText(const std::shared_ptr<RealmRecordModel>& record,
                                               RecordTableRowView&,
                                               Completion complitedEditRecognizer) {
    transcribe(record, std::move(complitedEditRecognizer));
}

void RecordTableViewController::transcribe(const std::shared_ptr<RealmRecordModel>& record,
                                           Completion complitedEditRecognizer) {
    if (!record) {
        return;
    }
    QPointer<RecordTableViewController> self(this);
    PrivacyManager::shared().requestRecognizer(
        [self, record, complitedEditRecognizer](bool granted) {
            dispatchToMain([self, record, granted, complitedEditRecognizer] {
                if (self == nullptr) {
                    return;
                }
                if (!granted) {
                    AlertManager::shared().showDefaultAlert(self->window(), self->txtError,
                                                            self->txtErrorRecognizeAuth,
                                                            AlertManager::AlertStyle::critical);
                    return;
                }
                self->recognizerSheet_->start(*self, record, complitedEditRecognizer);
            });
        });
}

void RecordTableViewController::showWholeText(const std::shared_ptr<RealmRecordModel>& record) {
    if (!record) {
        return;
    }
    QString text;
    if (!record->note().isEmpty()) {
        text += Localization::text("NOTE_TEXT") + "\n" + record->note() + "\n\n";
    }
    text += record->recognizeText();
    // One window at a time: another record's replaces it.
    if (wholeText_ != nullptr) {
        wholeText_->close();
    }
    wholeText_ = new TranscriptWindow(record->name(), text, window());
    wholeText_->show();
}

TranscriptWindow* RecordTableViewController::wholeTextWindow() const {
    return wholeText_;
}

void RecordTableViewController::saveTranscript(const std::shared_ptr<RealmRecordModel>& record) {
    QPointer<RecordTableViewController> self(this);
    // Opened in a later turn, once the actions menu has gone.
    QTimer::singleShot(0, this, [self, transcript = TranscriptExport::of(*record)] {
        if (self == nullptr) {
            return;
        }
        auto* dialog = new TranscriptSaveDialog(self->window(), transcript);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });
}

bool RecordTableViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == recordsTableView && event->type() == QEvent::KeyPress &&
        actOnKey(static_cast<const QKeyEvent&>(*event))) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool RecordTableViewController::actOnKey(const QKeyEvent& key) {
    const QModelIndex current = recordsTableView->currentIndex();
    const auto record = current.isValid() ? model_->record(current.row()) : nullptr;
    if (!record) {
        return false;
    }
    const int row = current.row();
    const bool menuKey = key.key() == Qt::Key_Menu ||
                         (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier);
    const bool active =
        currentSelectRecord && currentSelectRecord->fileName() == record->fileName();
    switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (active && delegate != nullptr) {
            delegate->togglePlayback();
        } else {
            tableViewSelectionIsChanging(row);
        }
        return true;
    case Qt::Key_Space:
        if (active && delegate != nullptr) {
            delegate->togglePlayback();
        }
        return true;
    case Qt::Key_Delete:
        if (auto rowView = tableView(row, frameOfRow(row))) {
            deleteRecord(record, *rowView);
        }
        return true;
    case Qt::Key_F2:
        if (auto rowView = tableView(row, frameOfRow(row))) {
            renameRecord(record, *rowView);
        }
        return true;
    default:
        break;
    }
    if (menuKey) {
        if (auto rowView = tableView(row, frameOfRow(row))) {
            rowView->actionMenu();
        }
        return true;
    }
    if (key.key() == Qt::Key_D && key.modifiers() == Qt::ControlModifier) {
        if (auto rowView = tableView(row, frameOfRow(row))) {
            rowView->actionFavorite();
        }
        return true;
    }
    return false;
}

void RecordTableViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!searchPrepared_) {
        searchPrepared_ = true;
        // Once the rows are on screen, so that the user's first search does not wait for it.
        QTimer::singleShot(searchPreparationDelayMs, this, [] { realm().prepareSearch(); });
    }
}

void RecordTableViewController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QRect frame(0, 0, recordsTableView->viewport()->width(), 0);
    uncovering_->rewrap([this, frame](int row, const QString& text) -> std::optional<int> {
        const auto rowView = tableView(row, frame);
        if (!rowView) {
            return std::nullopt;
        }
        return rowView->textHeight(text);
    });
}

void RecordTableViewController::togglePopover(const std::shared_ptr<RealmRecordModel>& record,
                                              const QRect& anchor) {
    if (popover_ != nullptr && popover_->isVisible()) {
        popover_->close();
        return;
    }
    auto* popover = new PopoverMenuViewController(this);
    popover_ = popover;
    // Read out as the focus enters it: whose actions these are.
    popover->setAccessibleName(record->name());
    QPointer<RecordTableViewController> self(this);
    popover->showTranscriptEntries(!record->recognizeText().trimmed().isEmpty());
    popover->completedSelectMenu = [self, record](PopoverMenu entry) {
        if (self != nullptr) {
            self->choosePopoverEntry(record, int(entry));
        }
    };
    const QRect global(recordsTableView->viewport()->mapToGlobal(anchor.topLeft()), anchor.size());
    popover->showRelativeTo(global);
}

PopoverMenuViewController* RecordTableViewController::popover() const {
    return popover_;
}

void RecordTableViewController::actionSubInfo(const std::shared_ptr<RealmRecordModel>& record) {
    const auto row = rowOf(*record);
    if (!row) {
        return;
    }
    const auto rowView = tableView(*row, frameOfRow(*row));
    if (rowView) {
        rowView->actionSubInfo();
    }
}

void RecordTableViewController::choosePopoverEntry(const std::shared_ptr<RealmRecordModel>& record,
                                                   int entry) {
    if (popover_ != nullptr) {
        popover_->close();
    }
    const auto row = rowOf(*record);
    if (!row) {
        return;
    }
    auto rowView = tableView(*row, frameOfRow(*row));
    if (!rowView) {
        return;
    }
    QPointer<RecordTableViewController> self(this);
    // After a note or a transcription the row unfolds with its new text, in a later turn.
    const auto refreshRow = [self, record] {
        QTimer::singleShot(0, [self, record] {
            if (self != nullptr && !record->isInvalidated()) {
                self->actionSubInfo(record);
            }
        });
    };
    switch (PopoverMenu(entry)) {
    case PopoverMenu::rename:
        renameRecord(record, *rowView);
        break;
    case PopoverMenu::shared:
        sharedRecord(record, *rowView);
        break;
    case PopoverMenu::note:
        noteRecord(record, *rowView, refreshRow);
        break;
    case PopoverMenu::deleteRecord:
        deleteRecord(record, *rowView);
        break;
    case PopoverMenu::openFinder:
        openFinder(record);
        break;
    case PopoverMenu::recognizer:
        recognizerText(record, *rowView, refreshRow);
        break;
    case PopoverMenu::saveTranscript:
        saveTranscript(record);
        break;
    case PopoverMenu::copyTranscript:
        // The plain text needs no subtitles: they are not read.
        TranscriptSaveDialog::copyToClipboard(TranscriptExport(
            record->name(), record->time(), record->recognizeText(), std::nullopt));
        break;
    case PopoverMenu::phoneNumber:
        break;
    }
}

} // namespace orvo
