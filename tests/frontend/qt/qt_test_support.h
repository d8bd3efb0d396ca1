// Shared pieces of the desktop program's tests: a main that keeps every test
// away from the real user's settings, a file chooser that answers from a
// script, ways to act on the widgets as a user would, and the Linux tests'
// whole-file reader and writer for Qt's paths and bytes.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <functional>

#include "file_chooser.h"
#include "test_files.h"

// Runs the test class with HOME and XDG_CONFIG_HOME in a temporary folder and,
// unless told otherwise, on the offscreen platform.
#define VELMORA_QTEST_MAIN(TestClass)                                                      \
    int main(int argc, char* argv[]) {                                                     \
        QTemporaryDir home;                                                                \
        if (!home.isValid()) {                                                             \
            return 1;                                                                      \
        }                                                                                  \
        setenv("HOME", home.path().toLocal8Bit().constData(), 1);                          \
        setenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit().constData(), 1); \
        setenv("QT_QPA_PLATFORM", "offscreen", 0);                                         \
        QApplication application(argc, argv);                                              \
        QApplication::setQuitOnLastWindowClosed(false);                                    \
        TestClass test;                                                                    \
        return QTest::qExec(&test, argc, argv);                                            \
    }

// Answers the window's requests for a base file from a list; an empty answer
// is a cancelled dialog.
class ScriptedChooser final : public FileChooser {
public:
    QStringList answers;
    int requests = 0;

    QString ChooseBaseFile(QWidget* /*owner*/) override {
        ++requests;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

// A click that goes through the window system, as a real one does, so that a
// window blocked by a modal dialog would not get it.
inline void ClickAsUser(QWidget* widget) {
    QWidget* window = widget->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      widget->mapTo(window, widget->rect().center()));
}

// A key press delivered to whichever widget has the keyboard focus.
inline void PressKeyAsUser(QWidget* window, Qt::Key key) {
    QTest::keyClick(window->windowHandle(), key);
}

inline QMessageBox* VisibleErrorBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible() && box->objectName() == "errorBox") {
            return box;
        }
    }
    return nullptr;
}

// Once the next error box is open, runs action inside its loop and then, if
// the box is still open, presses its OK button. The test can thus act while
// the box waits, and never hangs on it.
inline void WhenErrorBoxOpens(std::function<void(QMessageBox&)> action) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        QPointer<QMessageBox> box = VisibleErrorBox();
        if (box == nullptr) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        action(*box);
        if (box != nullptr && box->isVisible()) {
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll->start();
}

// A temporary folder that is also the current directory, where the program
// looks for its template.
class Workspace {
public:
    Workspace() : previous_(QDir::currentPath()) { QDir::setCurrent(folder_.path()); }
    ~Workspace() { QDir::setCurrent(previous_); }
    bool IsValid() const { return folder_.isValid(); }
    QString Path(const QString& name) const { return folder_.path() + "/" + name; }
    QString Folder() const { return folder_.path(); }

private:
    QTemporaryDir folder_;
    QString previous_;
};

// The bytes as Qt holds them, so that QCOMPARE shows where they differ.
inline QByteArray ToQByteArray(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

// The whole file, or no bytes when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
    return ToQByteArray(ReadFile(QFile::encodeName(path).toStdString()));
}

// Creates or replaces the file; true when every byte was written.
inline bool WriteAll(const QString& path, const QByteArray& bytes) {
    return WriteFile(QFile::encodeName(path).toStdString(), Bytes(bytes.begin(), bytes.end()));
}
