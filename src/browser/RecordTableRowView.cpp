#include "browser/RecordTableRowView.h"

#include <QAbstractTextDocumentLayout>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QTextBlock>
#include <QTextDocument>
#include <QtMath>

#include "browser/RecordTableViewController.h"
#include "browser/RowImages.h"
#include "shell/API.h"
#include "shell/Console.h"
#include "shell/Formatting.h"
#include "shell/Localization.h"
#include "store/DesigneManager.h"
#include "store/RealmManager.h"
#include "store/RealmRecordModel.h"
#include "ui/Fonts.h"
#include "ui/ImageExtensions.h"

namespace orvo {
namespace {

const QColor lightGrey(160, 160, 160);
const QColor separatorColor(170, 170, 170, 128);
constexpr int margin = 20;
constexpr int avatarSize = 40;
constexpr int infoLeft = margin + avatarSize + 16;
constexpr int iconIMSize = 16;
constexpr int buttonSize = 30;
constexpr int markerInset = 12;
// Twice the star's frame, the menu button's and 60: the text area keeps clear of the
// buttons' column.
constexpr int textRightInset = 66 + 66 + 28 + 60;

QFont nameFont() {
    return robotoFont(QStringLiteral("Roboto-Light"), 14);
}
QFont smallFont() {
    return robotoFont(QStringLiteral("Roboto-Light"), 12);
}

// Name, phone and date: the room of three lines, whether or not the phone is there.
int infoHeight() {
    return QFontMetrics(nameFont()).height() + 2 * QFontMetrics(smallFont()).height();
}

void setupTextDocument(QTextDocument& document, const QString& text, int width) {
    document.setDefaultFont(robotoFont(QStringLiteral("Roboto-Light"), 13));
    document.setDocumentMargin(0);
    document.setPlainText(text);
    document.setTextWidth(width);
}

} // namespace

RecordTableRowView::RecordTableRowView(int row, const RowImages& images)
    : txtMb(Localization::text("MEGABYTE")), txtNote(Localization::text("NOTE_TEXT")),
      txtRecognizer(Localization::text("RECOGNIZER_TEXT")),
      txtShowAll(Localization::text("SHOW_ALL")), row_(row), images_(images) {}

void RecordTableRowView::setIsActiveRecord(bool active) {
    isActiveRecord_ = active;
}

void RecordTableRowView::setIsSelectRecord(bool selected) {
    isSelectRecord_ = selected;
}

void RecordTableRowView::setInfoRecord(const std::shared_ptr<RealmRecordModel>& record) {
    if (!record) {
        return;
    }
    infoRecord_ = record;
    if (recordTableViewController != nullptr) {
        recordTableViewController->updateRow(row_);
    }
}

int RecordTableRowView::foldedHeight() {
    return margin + infoHeight() + margin + 0 + margin;
}

void RecordTableRowView::setupView(const QRect& frame) {
    frame_ = frame;
    if (recordTableViewController != nullptr && infoRecord_) {
        if (const auto state = recordTableViewController->uncoverState(*infoRecord_)) {
            textViewRecognize_ = state->text;
            isUncoverRow = state->uncovered;
            textViewHeight_ = state->height;
            animationUncover = state->animating;
        }
    }
}

QRect RecordTableRowView::frameOf(Control control) const {
    const int durationBottom = margin + QFontMetrics(smallFont()).height();
    const int buttonTop = frame_.top() + durationBottom + margin;
    const int menuLeft = frame_.right() + 1 - margin - buttonSize;
    switch (control) {
    case Control::menu:
        return {menuLeft, buttonTop, buttonSize, buttonSize};
    case Control::favorite:
        return {menuLeft - margin - buttonSize, buttonTop, buttonSize, buttonSize};
    case Control::subInfo:
        return {menuLeft - 2 * (margin + buttonSize), buttonTop, buttonSize, buttonSize};
    case Control::showAll:
        return showAllFrame();
    case Control::none:
        break;
    }
    return {};
}

QRect RecordTableRowView::showAllFrame() const {
    if (!isUncoverRow || !showsExcerpt()) {
        return {};
    }
    QTextDocument document;
    setupTextDocument(document, textViewRecognize_, frame_.width() - infoLeft - textRightInset);
    return showAllFrameIn(document);
}

// The last line of the unfolded text as laid out in document, as wide as its words.
QRect RecordTableRowView::showAllFrameIn(const QTextDocument& document) const {
    if (!isUncoverRow || !showsExcerpt()) {
        return {};
    }
    const QTextBlock last = document.lastBlock();
    const QRectF line = document.documentLayout()->blockBoundingRect(last);
    const int textTop = frame_.top() + margin + infoHeight() + margin;
    const int advance = QFontMetrics(document.defaultFont()).horizontalAdvance(txtShowAll);
    const QRect link(frame_.left() + infoLeft, textTop + qRound(line.top()), advance,
                     qCeil(line.height()));
    // Only while the unfolding has reached it.
    return link.bottom() < textTop + textViewHeight_ ? link : QRect();
}

bool RecordTableRowView::showsExcerpt() const {
    return textViewRecognize_.endsWith(QStringLiteral("…\n") + txtShowAll);
}

RecordTableRowView::Control RecordTableRowView::controlAt(const QPoint& point) const {
    for (const Control control :
         {Control::favorite, Control::subInfo, Control::menu, Control::showAll}) {
        if (frameOf(control).contains(point)) {
            return control;
        }
    }
    return Control::none;
}

QString RecordTableRowView::durationText() const {
    return convertSecondstToMin(durationSeconds_);
}

void RecordTableRowView::draw(QPainter& painter) const {
    if (!infoRecord_) {
        return;
    }
    const RealmRecordModel& record = *infoRecord_;
    const QRect frame = frame_;
    const int top = frame.top();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    // Avatar: the circle of the record's look with its letter, or the active marker.
    const int look = qBound(0, record.designeID(), DesigneManager::count - 1);
    const QRect avatar(frame.left() + margin, top + margin, avatarSize, avatarSize);
    painter.drawPixmap(avatar,
                       images_.image(DesigneManager::arrayAvatarsCircle()[look], avatar.size()));
    if (isActiveRecord_ || isSelectRecord_) {
        painter.drawPixmap(avatar.adjusted(markerInset, markerInset, -markerInset, -markerInset),
                           images_.image(QStringLiteral("ActiveAudio"), {16, 16}));
    } else {
        const SymbolColor color = DesigneManager::arraySymbolsColors()[look];
        painter.setPen(QColor(color.red, color.green, color.blue));
        painter.setFont(robotoFont(QStringLiteral("Roboto-Medium"), 17));
        painter.drawText(avatar, Qt::AlignCenter,
                         record.symbol().isEmpty() ? "~" : record.symbol());
    }

    // Duration and size at the top right; the buttons under them.
    painter.setFont(smallFont());
    const QFontMetrics small(smallFont());
    const QString size = Localization::format("%.02f %@", {record.size(), txtMb});
    const int sizeWidth = small.horizontalAdvance(size);
    const QRect sizeFrame(frame.right() + 1 - margin - sizeWidth, top + margin, sizeWidth,
                          small.height());
    const QString duration = durationText();
    const int durationWidth = small.horizontalAdvance(duration);
    const QRect durationFrame(sizeFrame.left() - 8 - durationWidth, top + margin, durationWidth,
                              small.height());
    painter.setPen(lightGrey);
    painter.drawText(sizeFrame, Qt::AlignLeft | Qt::AlignVCenter, size);
    painter.drawText(durationFrame, Qt::AlignLeft | Qt::AlignVCenter, duration);

    const auto button = [&](Control control, const QString& image) {
        const QRect place = frameOf(control);
        const QRect glyph(place.center() - QPoint(9, 9), QSize(18, 18));
        painter.drawPixmap(glyph, images_.image(image, glyph.size(), accentColor));
    };
    button(Control::subInfo, QStringLiteral("Note"));
    button(Control::favorite,
           record.favorite() ? QStringLiteral("Favorite") : QStringLiteral("NoFavorite"));
    button(Control::menu, QStringLiteral("Tab3"));

    // Name, phone and date, centred in the room of three lines.
    const int infoRight = frameOf(Control::subInfo).left() - margin - iconIMSize - 8;
    const int infoWidth = qMax(0, infoRight - (frame.left() + infoLeft));
    const QFontMetrics name(nameFont());
    QStringList lines{record.name()};
    if (!record.fromPhone().isEmpty()) {
        lines << convertToNumberFormate(record.fromPhone());
    }
    lines << convertToNormalFormated(record.time());
    const int linesHeight = name.height() + (lines.size() - 1) * small.height();
    int y = top + margin + (infoHeight() - linesHeight) / 2;
    int widest = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const bool first = i == 0;
        const QFontMetrics& metrics = first ? name : small;
        painter.setFont(first ? nameFont() : smallFont());
        painter.setPen(first ? QColor(40, 40, 48) : lightGrey);
        const QString text = metrics.elidedText(lines[i], Qt::ElideRight, infoWidth);
        painter.drawText(QRect(frame.left() + infoLeft, y, infoWidth, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, text);
        widest = qMax(widest, metrics.horizontalAdvance(text));
        y += metrics.height();
    }

    // The messenger of the call, right after the text.
    if (record.socialIM()) {
        const QString path = API::iconAppsPath() + "/" + MD5(*record.socialIM()) + ".png";
        const QPixmap& icon = images_.file(path, {iconIMSize, iconIMSize});
        if (!icon.isNull()) {
            painter.drawPixmap(
                QRect(frame.left() + infoLeft + widest + 8, top + margin, iconIMSize, iconIMSize),
                icon);
        }
    }

    // The unfolded note and transcription.
    if (isUncoverRow && textViewHeight_ > 0) {
        const int textTop = top + margin + infoHeight() + margin;
        const int width = frame.width() - infoLeft - textRightInset;
        QTextDocument document;
        setupTextDocument(document, textViewRecognize_, width);
        painter.save();
        painter.translate(frame.left() + infoLeft, textTop);
        const QRect clip(0, 0, width, qMin(textViewHeight_, frame.bottom() - margin - textTop));
        painter.setPen(QColor(60, 60, 68));
        document.drawContents(&painter, clip);
        painter.restore();
        // "Show all" as a link over its plain twin.
        if (const QRect link = showAllFrameIn(document); !link.isNull()) {
            painter.fillRect(link, Qt::white);
            QFont font = robotoFont(QStringLiteral("Roboto-Regular"), 13);
            font.setUnderline(true);
            painter.setFont(font);
            painter.setPen(accentColor);
            painter.drawText(link, Qt::AlignLeft | Qt::AlignVCenter, txtShowAll);
        }
    }

    painter.fillRect(QRect(frame.left() + 16, frame.bottom() - 1, frame.width() - 32, 1),
                     separatorColor);
    painter.restore();
}

int RecordTableRowView::textHeight(const QString& text) const {
    QTextDocument document;
    setupTextDocument(document, text, frame_.width() - infoLeft - textRightInset);
    return text.isEmpty() ? 0 : qCeil(document.size().height());
}

QString RecordTableRowView::subInfoText() const {
    QString text;
    if (!infoRecord_) {
        return text;
    }
    if (!infoRecord_->note().isEmpty()) {
        text += txtNote + "\n" + infoRecord_->note() + "\n\n";
    }
    if (!infoRecord_->recognizeText().isEmpty()) {
        text += txtRecognizer + "\n" + infoRecord_->recognizeText() + "\n\n";
    }
    if (const auto excerpt = excerptOf(text)) {
        return *excerpt + QStringLiteral("…\n") + txtShowAll;
    }
    return text;
}

std::optional<QString> RecordTableRowView::excerptOf(const QString& text) {
    qsizetype end = 0;
    int lines = 0;
    while (end < text.size() && end < excerptCharacters && lines < excerptLines) {
        if (text[end] == '\n') {
            ++lines;
        }
        ++end;
    }
    if (end >= text.trimmed().size()) {
        return std::nullopt;
    }
    // Back to the last word's end, unless a word is longer than the whole excerpt.
    qsizetype cut = end;
    while (cut > 0 && !text[cut - 1].isSpace()) {
        --cut;
    }
    return text.left(cut > 0 ? cut : end).trimmed();
}

void RecordTableRowView::actionSubInfo() {
    if (infoRecord_) {
        addTextInTextView(subInfoText());
    }
}

void RecordTableRowView::addTextInTextView(const QString& text) {
    if (textViewRecognize_ == text && isUncoverRow) {
        isUncoverRow = false;
    } else {
        textViewRecognize_ = text;
        isUncoverRow = true;
    }
    const int height = textHeight(textViewRecognize_);
    if (recordTableViewController == nullptr) {
        return;
    }
    animationUncover = true;
    recordTableViewController->animateUncover(infoRecord_, textViewRecognize_, isUncoverRow,
                                              isUncoverRow ? height : 0);
    consoleLine(QString::number(height));
}

void RecordTableRowView::actionFavorite() {
    if (!infoRecord_) {
        return;
    }
    RealmManager::updateObjectFavorite(infoRecord_, !infoRecord_->favorite());
    if (recordTableViewController != nullptr) {
        recordTableViewController->updateRow(row_);
    }
}

void RecordTableRowView::actionMenu() {
    if (recordTableViewController != nullptr && infoRecord_) {
        recordTableViewController->togglePopover(infoRecord_, frameOf(Control::menu));
    }
}

} // namespace orvo
