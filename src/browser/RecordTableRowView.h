#pragma once

#include <memory>
#include <optional>

#include <QColor>
#include <QPointer>
#include <QRect>
#include <QString>

class QPainter;

class QTextDocument;

namespace orvo {

class RealmRecordModel;
class RecordTableViewController;
class RowImages;

// One record of the records table, made anew for every row the table paints or hands a
// click to; it keeps nothing once that is done. Draws the avatar with its letter, name,
// phone and date, messenger icon, duration, size, the star, the note and menu buttons and,
// unfolded, the note and transcription below. Main thread only.
class RecordTableRowView {
public:
    // The parts of a row that answer a click.
    enum class Control { none, favorite, subInfo, menu, showAll };

    // What an unfolded row shows of a long text: its first lines, so that painting the row
    // never lays out more than a screenful.
    static constexpr int excerptLines = 12;
    static constexpr int excerptCharacters = 900;

    RecordTableRowView(int row, const RowImages& images);

    QPointer<RecordTableViewController> recordTableViewController;
    const QString txtMb;
    const QString txtNote;
    const QString txtRecognizer;
    const QString txtShowAll;
    const QString popoverMenuID = QStringLiteral("popoverMenuID");
    bool isUncoverRow = false;
    bool animationUncover = false;

    int row() const { return row_; }

    bool isActiveRecord() const { return isActiveRecord_; }
    void setIsActiveRecord(bool active);
    bool isSelectRecord() const { return isSelectRecord_; }
    void setIsSelectRecord(bool selected);

    const std::shared_ptr<RealmRecordModel>& infoRecord() const { return infoRecord_; }
    // What the row shows as the record's length; the table's model knows it.
    void setDurationSeconds(double seconds) { durationSeconds_ = seconds; }
    // Refreshes every field of the row; none leaves it as it is.
    void setInfoRecord(const std::shared_ptr<RealmRecordModel>& record);

    // Lays the row out for its width, taking the unfolded text and its height from the table.
    void setupView(const QRect& frame);
    void draw(QPainter& painter) const;
    Control controlAt(const QPoint& point) const;
    QRect frameOf(Control control) const;

    // The unfolded text of the record: its note and its transcription under their headings;
    // of a long one its first lines, then an ellipsis and a last line "Show all".
    QString subInfoText() const;
    // text's first lines, at most excerptLines and excerptCharacters, cut at a word; absent
    // when text is short enough to show whole.
    static std::optional<QString> excerptOf(const QString& text);

    // Unfolds the note and transcription, folds them when they show already.
    void actionSubInfo();
    void actionFavorite();
    // Opens the actions of this record beside the menu button, or closes them when open.
    void actionMenu();

    // The height the unfolded area needs for text at the row's width.
    int textHeight(const QString& text) const;
    // The height of a folded row.
    static int foldedHeight();

private:
    void addTextInTextView(const QString& text);
    // Whether the unfolded text ends in "Show all", which is then a link.
    bool showsExcerpt() const;
    // Where "Show all" lies in the row; empty when the row shows no excerpt.
    QRect showAllFrame() const;
    QRect showAllFrameIn(const QTextDocument& document) const;
    QString infoHtml() const;
    QString durationText() const;

    int row_;
    const RowImages& images_;
    bool isActiveRecord_ = false;
    bool isSelectRecord_ = false;
    std::shared_ptr<RealmRecordModel> infoRecord_;
    double durationSeconds_ = 0;
    QString textViewRecognize_;
    int textViewHeight_ = 0;
    QRect frame_;
};

} // namespace orvo
