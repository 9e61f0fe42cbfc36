#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include <QLabel>
#include <QPointer>
#include <QString>
#include <QTableView>
#include <QWidget>

#include "browser/RowUncovering.h"
#include "store/NotificationToken.h"
#include "store/Results.h"
#include "ui/AlertManager.h"

namespace orvo {

class PopoverMenuViewController;
class RealmRecordModel;
class RecordTableDelegate;
class RecordTableItemDelegate;
class RecordTableModel;
class RecordTableRowView;
class RecognizerSheet;
class TranscriptWindow;

// The records table: a live, filtered and sorted query of the catalogue, kept in step with
// every write, and every action on one record (play, rename, note, share, reveal,
// transcribe, save or copy the transcript, delete). Rows are drawn only while visible. Main thread
// only.
class RecordTableViewController : public QWidget {
    Q_OBJECT
public:
    // What an unfolded row shows; kept only while the row is on screen.
    using UncoverState = RowUncovering::State;

    explicit RecordTableViewController(QWidget* parent = nullptr);
    ~RecordTableViewController() override;

    QPointer<QTableView> recordsTableView;
    // Over the empty list of an empty catalogue: how to record.
    QPointer<QLabel> emptyHint;
    const QString txtRename;
    const QString txtDelete;
    const QString txtNote;
    const QString txtEditNote;
    const QString txtSharedTitle;
    const QString txtDeleteInfo;
    const QString txtError;
    const QString txtRecordNotFound;
    const QString txtErrorRecognize;
    const QString txtRecognize;
    const QString txtErrorRecognizeAuth;
    std::shared_ptr<RealmRecordModel> currentSelectRecord;
    RecordTableDelegate* delegate = nullptr;
    std::optional<NotificationToken> observeRealm;

    const std::optional<Results>& realmRecords() const;
    // The running transcription, if any.
    const RecognizerSheet& recognizerSheet() const { return *recognizerSheet_; }

    void setupView();
    void viewDidLoad();
    void addObserverRealm();

    using Completion = std::function<void()>;
    void renameRecord(const std::shared_ptr<RealmRecordModel>& record, RecordTableRowView& forRow);
    void noteRecord(const std::shared_ptr<RealmRecordModel>& record, RecordTableRowView& forRow,
                    Completion complitedEditNote);
    void openFinder(const std::shared_ptr<RealmRecordModel>& record);
    void recognizerText(const std::shared_ptr<RealmRecordModel>& record, RecordTableRowView& forRow,
                        Completion complitedEditRecognizer);
    // As from a row's actions, for a record without its row at hand (one just imported).
    void transcribe(const std::shared_ptr<RealmRecordModel>& record, Completion completion);
    void sharedRecord(const std::shared_ptr<RealmRecordModel>& record, RecordTableRowView& forRow);
    // The save dialog of the record's transcript; the clipboard takes it from the menu.
    void saveTranscript(const std::shared_ptr<RealmRecordModel>& record);
    // The record's whole note and transcript in a window of their own.
    void showWholeText(const std::shared_ptr<RealmRecordModel>& record);
    TranscriptWindow* wholeTextWindow() const;
    void deleteRecord(const std::shared_ptr<RealmRecordModel>& record, RecordTableRowView& forRow);

    void setFilter(const QString& searchText = QString(), bool isFavoriteMode = false);
    void changeActiveRecord(const std::shared_ptr<RealmRecordModel>& newRecord);

    int numberOfRows() const;
    // A new row view for a row of the table, laid out in frame (viewport coordinates).
    std::unique_ptr<RecordTableRowView> tableView(int row, const QRect& frame);
    // A click on a row: its button's action, or, elsewhere, the selection of its record.
    void clickRow(int row, const QRect& frame, const QPoint& point);
    void tableViewSelectionIsChanging(int row);
    void tableViewSelectionDidChange();

    // For the row views.
    void updateRow(int row);
    std::optional<UncoverState> uncoverState(const RealmRecordModel& record) const {
        return uncovering_->state(record);
    }
    void animateUncover(const std::shared_ptr<RealmRecordModel>& record, const QString& text,
                        bool uncovered, int height) {
        uncovering_->animate(record, text, uncovered, height);
    }
    void togglePopover(const std::shared_ptr<RealmRecordModel>& record, const QRect& anchor);
    PopoverMenuViewController* popover() const;
    // Where a row lies in the table's viewport.
    QRect frameOfRow(int row) const;
    // Runs a row's unfold button for the record's current row.
    void actionSubInfo(const std::shared_ptr<RealmRecordModel>& record);

    // A key pressed in the table: Return plays or pauses the row's record, Space pauses, Delete
    // deletes, F2 renames, Ctrl+D stars or unstars, the Menu key or Shift+F10 opens the
    // actions. The arrows move the
    // selection, which only says which row the keys act on. False when the key is not one.
    bool actOnKey(const QKeyEvent& key);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void handleChange(const CollectionChange& change);
    // Shown while the catalogue holds nothing, not while a search or the favourites find none.
    void showEmptyHint();
    void choosePopoverEntry(const std::shared_ptr<RealmRecordModel>& record, int entry);
    void showShareMenu(const QString& path, const QRect& anchor);
    // What a confirmed rename or note does: stores the text and redraws the row.
    AlertManager::TextCompletion afterEdit(const std::shared_ptr<RealmRecordModel>& record, int row,
                                           Completion completion,
                                           std::function<void(const QString&)> store);
    void alertRecordNotFound();
    // The record's media file when it is there; otherwise the user is told and none.
    std::optional<QString> existingMediaPath(const RealmRecordModel& record);
    std::optional<int> rowOf(const RealmRecordModel& record) const;

    QPointer<RecordTableModel> model_;
    QPointer<RecordTableItemDelegate> itemDelegate_;
    QPointer<PopoverMenuViewController> popover_;
    QPointer<TranscriptWindow> wholeText_;
    QPointer<RowUncovering> uncovering_;
    std::unique_ptr<RecognizerSheet> recognizerSheet_;
    bool searchPrepared_ = false;
    bool unfiltered_ = true;
};

} // namespace orvo
