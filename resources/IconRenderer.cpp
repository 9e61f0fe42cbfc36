// Build tool: draws the program's SVG icon as a PNG of the given size.
// Usage: orvo_icon_renderer <svg> <size> <png>
#include <cstdlib>

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4) {
        return EXIT_FAILURE;
    }
    const int size = arguments[2].toInt();
    QImageReader reader(arguments[1]);
    reader.setScaledSize(QSize(size, size));
    const QImage image = reader.read();
    return !image.isNull() && image.save(arguments[3], "PNG") ? EXIT_SUCCESS : EXIT_FAILURE;
}
