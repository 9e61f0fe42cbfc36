#pragma once

#include <QFont>
#include <QString>

namespace orvo {

// The program's typeface by its face name ("Roboto-Light", "Roboto-Regular", "Roboto-Medium")
// at a size in pixels, so that it looks the same at every screen resolution. Falls back to
// the system font of that size when the face is not installed. Main thread.
QFont robotoFont(const QString& face, int pixelSize);

} // namespace orvo
