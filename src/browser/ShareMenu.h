#pragma once

#include <QPoint>
#include <QString>

class QWidget;

namespace orvo {

// The ways to hand a recording on: copy it (file managers and chats paste the file), open
// it with the desktop's application, or attach it to an e-mail.
class ShareMenu {
public:
    // Pops the menu up at a global position; it deletes itself once closed.
    static void popup(QWidget* owner, const QString& path, const QString& title, const QPoint& at);
};

} // namespace orvo
