#pragma once

#include <memory>
#include <optional>

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QString>
#include <QToolButton>
#include <QWidget>

#include "browser/RecordTableDelegate.h"
#include "store/OpeningNotice.h"

class QVariantAnimation;

namespace orvo {

class PlayerViewController;
class VideoPlayerWindowController;

// The content of the records window: the search field and the favourites toggle above the
// records table, under them what became of the catalogue when it is not the user's file as
// it was, the audio player strip that slides in along the bottom, and the video player
// window. Main thread only.
class MainViewController : public QWidget, public RecordTableDelegate {
    Q_OBJECT
public:
    explicit MainViewController(QWidget* parent = nullptr);
    ~MainViewController() override;

    // The strip's distance from the bottom edge: hidden below it, or shown above it.
    static constexpr int playerHiddenConstant = -80;
    static constexpr int playerShownConstant = 20;

    QPointer<QLineEdit> searchField;
    QPointer<QToolButton> btnFaforite;
    QPointer<QLabel> catalogueNotice;
    QPointer<RecordTableViewController> recordsTableView;
    QPointer<PlayerViewController> playerViewController;
    QPointer<VideoPlayerWindowController> videoPlayerWindowController;
    bool isShowPlayer = false;
    bool isFavoriteMode = false;
    QString searchText;

    // The strip's bottom constraint; animated moves end at the target.
    int layoutPlayerButtom() const { return layoutPlayerButtom_; }
    int layoutPlayerButtomTarget() const { return playerTarget_; }

    void actionSearchField();
    void actionFavorite();
    // Tells the user what the opening did to the catalogue; hidden for none. The window
    // starts with the shared catalogue's.
    void showOpeningNotice(const std::optional<OpeningNotice>& notice);

    void recordTable(RecordTableViewController& table,
                     const std::shared_ptr<RealmRecordModel>& didSelectRecrd) override;
    void hiddenAudioPlayer() override;
    void hiddenVideoPlayer() override;
    void togglePlayback() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupView();
    void setPlayerConstant(int constant, bool animated);
    void layoutViews();
    void showFavoriteImage();

    QPointer<QWidget> topBar_;
    QPointer<QVariantAnimation> playerAnimation_;
    int layoutPlayerButtom_ = playerHiddenConstant;
    int playerTarget_ = playerHiddenConstant;
};

} // namespace orvo
