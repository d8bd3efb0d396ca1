// velmora-driver [BASE_FILE]
//
// The program as it runs for a user (the same window, file layer, settings
// and exit), with a player in place of the user: once the window is shown it
// chooses BASE_FILE through "Basis Datei" and presses Start. It reports on
// standard output, one line each:
//   shown X Y        where the window appeared
//   started          Start was pressed and the repair runs
//   line TEXT        a status line as the window shows it (UTF-8)
//   box TEXT         a message box has appeared (UTF-8), also the one at start-up
// It ends like the program: by its close box, Escape, or a termination signal.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

#include "file_chooser.h"
#include "main_window.h"
#include "program.h"
#include "status_list.h"

namespace {

class AnswerOnce final : public FileChooser {
public:
    explicit AnswerOnce(QString answer) : answer_(std::move(answer)) {}
    QString ChooseBaseFile(QWidget* /*owner*/) override { return std::exchange(answer_, {}); }

private:
    QString answer_;
};

void Report(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ReportStatusLines(MainWindow& window) {
    auto* list = window.findChild<StatusList*>(QStringLiteral("statusList"));
    QObject::connect(list, &StatusList::lineAdded, list,
                     [list](int index) { Report("line " + list->Line(index).toUtf8()); });
}

// Sees every window of the program appear, so also a message box shown
// before the main window.
class MessageBoxReporter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (const auto* box = qobject_cast<QMessageBox*>(watched)) {
                Report("box " + box->text().toUtf8());
            }
        }
        return false;
    }
};

void PlayTheUser(MainWindow& window, bool chooseBaseFile) {
    Report("shown " + QByteArray::number(window.pos().x()) + " " +
           QByteArray::number(window.pos().y()));
    ReportStatusLines(window);
    if (!chooseBaseFile) {
        return;
    }
    window.findChild<QPushButton*>(QStringLiteral("baseFileButton"))->click();
    auto* toggle = window.findChild<QPushButton*>(QStringLiteral("toggleButton"));
    toggle->click();
    if (window.Controller().IsRunning()) {
        Report("started");
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    const QString baseFile = arguments.size() > 1 ? arguments[1] : QString();
    AnswerOnce chooser(baseFile);
    MessageBoxReporter boxReporter;
    application.installEventFilter(&boxReporter);
    return RunProgram(
        chooser, [&baseFile](MainWindow& window) { PlayTheUser(window, !baseFile.isEmpty()); });
}
