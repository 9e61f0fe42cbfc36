#include "ui/ImageExtensions.h"

#include <QFileInfo>
#include <QPainter>

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

} // namespace orvo
