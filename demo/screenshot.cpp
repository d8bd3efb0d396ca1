// velmora-screenshot DIR PNG: shows the window on the current X display,
// chooses DIR/Film.mpg as the base file, presses Start, waits until two
// follow-up files are repaired, and saves what the screen shows of the
// window (with its frame, when a window manager draws one) to PNG.
// DIR must hold header.mpeg, Film.mpg, Film#1.mpg and Film#2.mpg.
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QThread>
#include <cstdio>
#include <functional>

#include "file_chooser.h"
#include "main_window.h"
#include "program.h"
#include "status_list.h"

namespace {

class FixedChooser final : public FileChooser {
public:
    explicit FixedChooser(QString path) : path_(std::move(path)) {}
    QString ChooseBaseFile(QWidget*) override { return path_; }

private:
    QString path_;
};

// Runs the event loop until done() holds or the time is up.
bool WaitFor(const std::function<bool()>& done, int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

// Chooses the base file, presses Start, waits for two repairs and saves the
// window as the screen shows it. Returns the tool's exit code.
int TakeScreenshot(MainWindow& window, const QString& output) {
    // A window manager, if there is one, frames the window soon after.
    WaitFor([&] { return window.isVisible() && window.frameGeometry() != window.geometry(); },
            3000);

    window.findChild<QPushButton*>("baseFileButton")->click();
    window.findChild<QPushButton*>("toggleButton")->click();
    auto* list = window.findChild<StatusList*>("statusList");
    if (!WaitFor([&] { return list->LineCount() >= 2; }, 10000)) {
        std::fprintf(stderr, "the two follow-up files were not repaired\n");
        return 1;
    }
    // Let the last changes reach the screen.
    WaitFor([] { return false; }, 500);
    const QRect frame = window.frameGeometry();
    const QPixmap shot =
        window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    // A picture of one colour means the screen was not what it seemed.
    const QImage image = shot.toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        colours.insert(image.pixel(image.width() / 3, y));
    }
    if (colours.size() < 3) {
        std::fprintf(stderr, "the screen did not show the window\n");
        return 3;
    }
    if (!shot.save(output, "PNG")) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(output));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DIR PNG\n", argv[0]);
        return 2;
    }
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString output = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[2]));
    if (!QDir::setCurrent(folder)) {
        std::fprintf(stderr, "cannot enter %s\n", argv[1]);
        return 1;
    }
    FixedChooser chooser(folder + "/Film.mpg");
    // The program starts as it does for a user; without a window (the
    // template refused) the picture is never taken.
    int result = 1;
    RunProgram(chooser, [&result, &output](MainWindow& window) {
        result = TakeScreenshot(window, output);
        window.close();
    });
    return result;
}
