#include "browser/MainViewController.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QShortcut>
#include <QUrl>
#include <QVariantAnimation>

#include "browser/PlayerViewController.h"
#include "browser/RecordTableViewController.h"
#include "browser/VideoPlayerViewController.h"
#include "browser/VideoPlayerWindowController.h"
#include "shell/API.h"
#include "shell/Localization.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/RecordType.h"
#include "ui/Fonts.h"
#include "ui/ImageExtensions.h"

namespace orvo {
namespace {
constexpr int topBarHeight = 56;
constexpr int sideMargin = 20;
constexpr int playerSlideMs = 250;
constexpr int iconPixelSize = 22;
// Below the notice, before the table's first row.
constexpr int noticeGap = 8;

QIcon tinted(const QString& name) {
    return tintedImageNamed(name, accentColor, iconPixelSize);
}

QString noticeText(const OpeningNotice& notice) {
    using Storage = OpeningNotice::Storage;
    QStringList sentences;
    if (!notice.catalogueMovedTo.isEmpty()) {
        sentences << Localization::format(Localization::text("CATALOGUE_MOVED_ASIDE"),
                                          {notice.catalogueMovedTo});
    } else if (notice.storage != Storage::catalogue) {
        sentences << Localization::text("CATALOGUE_UNAVAILABLE");
    }
    switch (notice.storage) {
    case Storage::catalogue:
        if (!notice.catalogueMovedTo.isEmpty()) {
            sentences << Localization::text("CATALOGUE_NEW");
        }
        break;
    case Storage::pendingFile:
        sentences << Localization::text("CATALOGUE_PENDING");
        break;
    case Storage::memory:
        sentences << Localization::text("CATALOGUE_IN_MEMORY");
        break;
    }
    if (!notice.pendingMovedTo.isEmpty()) {
        sentences << Localization::format(Localization::text("CATALOGUE_PENDING_MOVED_ASIDE"),
                                          {notice.pendingMovedTo});
    }
    if (notice.pendingNotAdded) {
        sentences << Localization::text("CATALOGUE_PENDING_NOT_ADDED");
    }
    return sentences.join(' ');
}
} // namespace

MainViewController::MainViewController(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    setPalette(colours);

    topBar_ = new QWidget(this);
    auto* bar = new QHBoxLayout(topBar_);
    bar->setContentsMargins(sideMargin, 12, sideMargin, 12);
    searchField = new QLineEdit(topBar_);
    searchField->setObjectName(QStringLiteral("searchField"));
    searchField->setPlaceholderText(Localization::text("SEARCH"));
    searchField->setClearButtonEnabled(true);
    searchField->setFont(robotoFont(QStringLiteral("Roboto-Light"), 14));
    searchField->addAction(tinted(QStringLiteral("Search")), QLineEdit::LeadingPosition);
    searchField->setStyleSheet(QStringLiteral(
        "QLineEdit { border: 1px solid #d9d9e0; border-radius: 15px; padding: 4px 8px;"
        " background: #f6f6f9; min-height: 20px; }"
        "QLineEdit:focus { border-color: #6b59cc; background: white; }"));
    btnFaforite = new QToolButton(topBar_);
    btnFaforite->setObjectName(QStringLiteral("btnFaforite"));
    btnFaforite->setAutoRaise(true);
    btnFaforite->setIconSize(QSize(22, 22));
    btnFaforite->setToolTip(Localization::text("FAVORITES"));
    btnFaforite->setAccessibleName(Localization::text("FAVORITES"));
    searchField->setAccessibleName(Localization::text("SEARCH"));
    bar->addWidget(searchField, 1);
    bar->addSpacing(8);
    bar->addWidget(btnFaforite);
    // Every keystroke narrows the list.
    connect(searchField, &QLineEdit::textChanged, this, &MainViewController::actionSearchField);
    connect(btnFaforite, &QToolButton::clicked, this, &MainViewController::actionFavorite);
    // Ctrl+F goes to the search; Escape or the down arrow there goes back to the list.
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        searchField->setFocus(Qt::ShortcutFocusReason);
        searchField->selectAll();
    });
    searchField->installEventFilter(this);

    catalogueNotice = new QLabel(this);
    catalogueNotice->setObjectName(QStringLiteral("catalogueNotice"));
    catalogueNotice->setTextFormat(Qt::PlainText);
    catalogueNotice->setWordWrap(true);
    // The path is there to be copied into a file manager or a terminal.
    catalogueNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    catalogueNotice->setFont(robotoFont(QStringLiteral("Roboto-Regular"), 13));
    catalogueNotice->setContentsMargins(12, 8, 12, 8);
    catalogueNotice->setStyleSheet(
        QStringLiteral("QLabel { background: #fff4d1; color: #4a3a10; border: 1px solid #ecd48f;"
                       " border-radius: 6px; }"));
    catalogueNotice->hide();

    recordsTableView = new RecordTableViewController(this);
    recordsTableView->delegate = this;
    playerViewController = new PlayerViewController(this);
    setupView();
    showOpeningNotice(realm().openingNotice());
}

MainViewController::~MainViewController() {
    if (recordsTableView != nullptr) {
        recordsTableView->delegate = nullptr;
    }
    delete videoPlayerWindowController;
}

void MainViewController::setupView() {
    setPlayerConstant(playerHiddenConstant, false);
    showFavoriteImage();
}

void MainViewController::showFavoriteImage() {
    btnFaforite->setIcon(
        tinted(isFavoriteMode ? QStringLiteral("Favorite") : QStringLiteral("NoFavorite")));
}

void MainViewController::actionSearchField() {
    searchText = searchField->text();
    recordsTableView->setFilter(searchText, isFavoriteMode);
}

void MainViewController::actionFavorite() {
    isFavoriteMode = !isFavoriteMode;
    showFavoriteImage();
    recordsTableView->setFilter(searchText, isFavoriteMode);
}

void MainViewController::showOpeningNotice(const std::optional<OpeningNotice>& notice) {
    catalogueNotice->setText(notice ? noticeText(*notice) : QString());
    catalogueNotice->setVisible(notice.has_value());
    layoutViews();
}

void MainViewController::recordTable(RecordTableViewController&,
                                     const std::shared_ptr<RealmRecordModel>& record) {
    const auto type = record ? recordTypeFromText(record->typeRecord()) : std::nullopt;
    if (!type) {
        return;
    }
    if (*type == RecordType::video) {
        hiddenAudioPlayer();
        if (videoPlayerWindowController == nullptr) {
            videoPlayerWindowController = new VideoPlayerWindowController();
        }
        videoPlayerWindowController->show();
        videoPlayerWindowController->raise();
        if (auto* content = videoPlayerWindowController->contentViewController()) {
            content->titleController = record->name();
            content->url = QUrl::fromLocalFile(record->filePath().value_or(QString()));
            content->preparePlayer();
            content->play();
        }
        return;
    }
    hiddenVideoPlayer();
    if (!isShowPlayer) {
        setPlayerConstant(playerShownConstant, true);
        isShowPlayer = true;
    }
    playerViewController->infoRecord = record;
    playerViewController->playerPrepare();
    playerViewController->play();
}

bool MainViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched != searchField || event->type() != QEvent::KeyPress) {
        return QWidget::eventFilter(watched, event);
    }
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Escape && key != Qt::Key_Down) {
        return false;
    }
    if (key == Qt::Key_Escape) {
        searchField->clear();
    }
    QTableView& table = *recordsTableView->recordsTableView;
    table.setFocus(Qt::OtherFocusReason);
    if (!table.currentIndex().isValid() && table.model()->rowCount() > 0) {
        table.setCurrentIndex(table.model()->index(0, 0));
    }
    return true;
}

void MainViewController::togglePlayback() {
    if (isShowPlayer) {
        playerViewController->actionPlay();
    }
}

void MainViewController::hiddenAudioPlayer() {
    if (!isShowPlayer) {
        return;
    }
    isShowPlayer = false;
    playerViewController->stop();
    setPlayerConstant(playerHiddenConstant, true);
}

void MainViewController::hiddenVideoPlayer() {
    if (videoPlayerWindowController != nullptr) {
        videoPlayerWindowController->close();
        videoPlayerWindowController->deleteLater();
        videoPlayerWindowController = nullptr;
    }
}

void MainViewController::setPlayerConstant(int constant, bool animated) {
    playerTarget_ = constant;
    if (playerAnimation_ != nullptr) {
        playerAnimation_->stop();
        playerAnimation_->deleteLater();
    }
    if (!animated || !isVisible()) {
        layoutPlayerButtom_ = constant;
        layoutViews();
        return;
    }
    auto* animation = new QVariantAnimation(this);
    playerAnimation_ = animation;
    animation->setDuration(playerSlideMs);
    animation->setEasingCurve(QEasingCurve::OutCubic);
    animation->setStartValue(layoutPlayerButtom_);
    animation->setEndValue(constant);
    connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        layoutPlayerButtom_ = value.toInt();
        layoutViews();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void MainViewController::layoutViews() {
    const int width = this->width();
    const int height = this->height();
    topBar_->setGeometry(0, 0, width, topBarHeight);
    const int stripHeight = playerViewController->sizeHint().height();
    const int stripTop = height - layoutPlayerButtom_ - stripHeight;
    playerViewController->setGeometry(sideMargin, stripTop, width - 2 * sideMargin, stripHeight);
    playerViewController->setVisible(stripTop < height);
    int tableTop = topBarHeight;
    if (!catalogueNotice->isHidden()) {
        const int noticeWidth = qMax(0, width - 2 * sideMargin);
        const int noticeHeight = catalogueNotice->heightForWidth(noticeWidth);
        catalogueNotice->setGeometry(sideMargin, tableTop, noticeWidth, noticeHeight);
        tableTop += noticeHeight + noticeGap;
    }
    const int tableBottom = qMin(height, stripTop - 8);
    recordsTableView->setGeometry(0, tableTop, width, qMax(0, tableBottom - tableTop));
    playerViewController->raise();
}

void MainViewController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutViews();
}

} // namespace orvo
