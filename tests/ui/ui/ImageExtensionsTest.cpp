#include "ui/ImageExtensions.h"

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace orvo {
namespace {

QImage halfOpaqueImage() {
    QImage image(4, 2, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int x = 0; x < 2; ++x) {
        for (int y = 0; y < 2; ++y) {
            image.setPixelColor(x, y, Qt::black);
        }
    }
    return image;
}

TEST(ImageExtensions, ATintColoursOnlyOpaquePixelsOfACopyWhichIsSavedOnceAsAPng) {
    const QImage original = halfOpaqueImage();
    const QImage tinted = imageWithTintColor(original, QColor(255, 0, 0));
    EXPECT_EQ(tinted.pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(tinted.pixelColor(3, 1).alpha(), 0);
    EXPECT_EQ(original.pixelColor(0, 0), QColor(Qt::black));

    // Saved once as a PNG, and never overwritten.
    QTemporaryDir folder;
    const QString path = folder.filePath("756e9cbbdbfba08e6e5a828db37501fd");
    saveIamge(halfOpaqueImage(), path);
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), "png");
    EXPECT_EQ(reader.read().size(), QSize(4, 2));

    QImage other(8, 8, QImage::Format_ARGB32);
    other.fill(Qt::white);
    saveIamge(other, path);
    EXPECT_EQ(QImage(path).size(), QSize(4, 2));

    saveIamge(QImage(), folder.filePath("null"));
    EXPECT_FALSE(QFile::exists(folder.filePath("null")));
    saveIamge(other, folder.filePath("missing/folder.png"));
    EXPECT_FALSE(QFile::exists(folder.filePath("missing/folder.png")));
}

} // namespace
} // namespace orvo
