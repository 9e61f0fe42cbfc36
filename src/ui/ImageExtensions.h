#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

// Conveniences on images. Main thread.
namespace orvo {

// A copy of image whose opaque pixels take color (source-atop); image stays unchanged.
QImage imageWithTintColor(const QImage& image, const QColor& color);

// Writes image as a PNG file at path unless something already exists there. Silent.
void saveIamge(const QImage& image, const QString& path);

// The program's accent colour: buttons, sliders, the selected state.
inline const QColor accentColor{107, 89, 204};

// The program's image of that name: the data file name + ".svg", drawn at any size. A null
// icon when the file is missing.
QIcon imageNamed(const QString& name);
// The image of that name in one colour, drawn sharp at pixelSize on screens of up to twice the
// usual density.
QIcon tintedImageNamed(const QString& name, const QColor& color, int pixelSize);

} // namespace orvo
