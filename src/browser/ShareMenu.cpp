#include "browser/ShareMenu.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "shell/Localization.h"

namespace orvo {

void ShareMenu::popup(QWidget* owner, const QString& path, const QString& title, const QPoint& at) {
    auto* menu = new QMenu(owner);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setObjectName(QStringLiteral("shareMenu"));
    const QUrl url = QUrl::fromLocalFile(path);
    QObject::connect(menu->addAction(Localization::text("SHARE_COPY")), &QAction::triggered, menu,
                     [url, title] {
                         // File managers and chats paste the file; text editors get the line.
                         auto* data = new QMimeData;
                         data->setUrls({url});
                         data->setText(title + "\n" + url.toString());
                         QApplication::clipboard()->setMimeData(data);
                     });
    QObject::connect(menu->addAction(Localization::text("SHARE_OPEN")), &QAction::triggered, menu,
                     [url] { QDesktopServices::openUrl(url); });
    QObject::connect(menu->addAction(Localization::text("SHARE_EMAIL")), &QAction::triggered, menu,
                     [path, title] {
                         if (auto* workspace = Platform::shared().find<Workspace>()) {
                             workspace->composeMail(title, path);
                         }
                     });
    menu->popup(at);
}

} // namespace orvo
