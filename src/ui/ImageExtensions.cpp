#include "ui/ImageExtensions.h"

#include <QFileInfo>
#include <QPainter>

#include "shell/Bundle.h"

namespace orvo {

QImage imageWithTintColor(const QImage& image, const QColor& color) {
    QImage tinted = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&tinted);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(tinted.rect(), color);
    return tinted;
}

void saveIamge(const QImage& image, const QString& path) {
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink() || image.isNull()) {
        return;
    }
    image.save(path, "PNG");
}

QIcon imageNamed(const QString& name) {
    const auto path = Bundle::pathForResource(name, QStringLiteral("svg"));
    return path ? QIcon(*path) : QIcon();
}

QIcon tintedImageNamed(const QString& name, const QColor& color, int pixelSize) {
    const QImage image = imageNamed(name).pixmap(pixelSize * 2).toImage();
    return QIcon(QPixmap::fromImage(imageWithTintColor(image, color)));
}

} // namespace orvo
