#pragma once

#include <map>
#include <utility>

#include <QColor>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace orvo {

// The images the records table draws, each rendered once per size and colour and kept for
// the life of the table: a table paints dozens of rows per frame. Main thread only.
class RowImages {
public:
    // The program's image of that name at size; tinted when tint is valid.
    const QPixmap& image(const QString& name, QSize size, const QColor& tint = QColor()) const;
    // A picture file (a messenger icon) at size; a null pixmap when it cannot be read.
    const QPixmap& file(const QString& path, QSize size) const;

private:
    using Key = std::pair<QString, QString>;
    mutable std::map<Key, QPixmap> cache_;
    const QPixmap none_;
};

} // namespace orvo
