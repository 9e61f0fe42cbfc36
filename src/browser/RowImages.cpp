#include "browser/RowImages.h"

#include <QGuiApplication>
#include <QImage>

#include "ui/ImageExtensions.h"

namespace orvo {
namespace {

QString sizeKey(QSize size, const QColor& tint) {
    return QString("%1x%2 %3")
        .arg(size.width())
        .arg(size.height())
        .arg(tint.isValid() ? tint.name() : QString());
}

double pixelRatio() {
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return app != nullptr ? app->devicePixelRatio() : 1.0;
}

} // namespace

const QPixmap& RowImages::image(const QString& name, QSize size, const QColor& tint) const {
    const Key key{name, sizeKey(size, tint)};
    if (const auto found = cache_.find(key); found != cache_.end()) {
        return found->second;
    }
    const double ratio = pixelRatio();
    QPixmap pixmap = imageNamed(name).pixmap(size, ratio);
    if (tint.isValid() && !pixmap.isNull()) {
        pixmap = QPixmap::fromImage(imageWithTintColor(pixmap.toImage(), tint));
        pixmap.setDevicePixelRatio(ratio);
    }
    return cache_.emplace(key, std::move(pixmap)).first->second;
}

const QPixmap& RowImages::file(const QString& path, QSize size) const {
    const Key key{"file:" + path, sizeKey(size, QColor())};
    if (const auto found = cache_.find(key); found != cache_.end()) {
        return found->second;
    }
    const double ratio = pixelRatio();
    const QImage image(path);
    // A missing icon may be written later, when the messenger is first seen.
    if (image.isNull()) {
        return none_;
    }
    QPixmap pixmap = QPixmap::fromImage(
        image.scaled(size * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    return cache_.emplace(key, std::move(pixmap)).first->second;
}

} // namespace orvo
