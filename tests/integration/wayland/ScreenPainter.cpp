// A Wayland client that fills the screen with one grey: the picture a test changes while the
// portal casts the screen. Reads "grey N" lines on its input; says "shown N" once painted.
#include <cstdio>

#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QSocketNotifier>
#include <QTextStream>
#include <unistd.h>

namespace {

class GreyWindow final : public QRasterWindow {
public:
    void setGrey(int grey) {
        grey_ = grey;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), QColor(grey_, grey_, grey_));
        std::printf("shown %d\n", grey_);
        std::fflush(stdout);
    }

private:
    int grey_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    GreyWindow window;
    window.setGrey(argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 40);
    window.showFullScreen();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[64] = {};
        if (::read(STDIN_FILENO, line, sizeof line - 1) <= 0) {
            QGuiApplication::quit();
            return;
        }
        int grey = 0;
        if (std::sscanf(line, "grey %d", &grey) == 1) {
            window.setGrey(grey);
        }
    });
    return QGuiApplication::exec();
}
