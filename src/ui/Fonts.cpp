#include "ui/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace orvo {

QFont robotoFont(const QString& face, int pixelSize) {
    const QStringList parts = face.split('-');
    const QString family = parts.value(0);
    const QString style = parts.value(1, QStringLiteral("Regular"));
    QFont font = QFontDatabase::families().contains(family)
                     ? QFontDatabase::font(family, style, pixelSize)
                     : QFont();
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace orvo
