#pragma once

#include <QCloseEvent>
#include <QWidget>

#include "browser/VideoPlayerViewController.h"

namespace orvo {

// The top-level window of the video player. Closing it stops the video; the window is kept
// and shown again for the next one. Main thread.
class VideoPlayerWindowController : public QWidget {
    Q_OBJECT
public:
    explicit VideoPlayerWindowController(QWidget* parent = nullptr);

    // Owned by the window.
    VideoPlayerViewController* contentViewController() const { return content_; }

    // Stops the content's video.
    void windowWillClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    VideoPlayerViewController* const content_;
};

} // namespace orvo
