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

// The program's image of that name: the data file name + ".svg", drawn at any size. A null
// icon when the file is missing.
QIcon imageNamed(const QString& name);

} // namespace orvo
