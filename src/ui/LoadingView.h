#pragma once

#include <QWidget>

namespace orvo {

// The busy overlay: tints what lies below it, holds a spinner. Main thread.
class LoadingView : public QWidget {
    Q_OBJECT
public:
    explicit LoadingView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace orvo
