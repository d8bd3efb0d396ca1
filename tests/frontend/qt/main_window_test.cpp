// The window driven through its widgets, over an in-memory file system or
// the real POSIX file layer, with the real repair timer.
#include "main_window.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QWheelEvent>
#include <memory>
#include <tuple>

#include "fake_repair_files.h"
#include "linux_repair_files.h"
#include "mpeg_ps.h"
#include "qt_test_support.h"
#include "status_list.h"

namespace {

constexpr int kRepairTimeoutMs = 5000;

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

QString SettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/Velmora/Settings.conf";
}

// A window over the given files, started and shown.
struct Session {
    explicit Session(RepairFiles& files) : window(files, chooser) {}

    template <typename T>
    T* Find(const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }
    QPushButton* Toggle() { return Find<QPushButton>("toggleButton"); }
    QPushButton* BaseFile() { return Find<QPushButton>("baseFileButton"); }
    QLineEdit* CurrentFile() { return Find<QLineEdit>("currentFileEdit"); }
    QLineEdit* Postfix() { return Find<QLineEdit>("postfixEdit"); }
    StatusList* Statuses() { return Find<StatusList>("statusList"); }
    QTimer* RepairTimer() { return Find<QTimer>("repairTimer"); }
    QString LastLine() { return Statuses()->Line(Statuses()->LineCount() - 1); }

    bool StartAndShow() {
        if (!window.Start()) {
            return false;
        }
        window.show();
        return QTest::qWaitForWindowActive(&window);
    }
    // Chooses the base file and presses Start, as a user does.
    void ChooseAndStart(const QString& baseFile) {
        chooser.answers = {baseFile};
        ClickAsUser(BaseFile());
        ClickAsUser(Toggle());
    }

    ScriptedChooser chooser;
    MainWindow window;
};

// A follow-up file as a recorder leaves it: its first pack zeros, then data.
QByteArray Recording() {
    QByteArray recording(100000, '\0');
    for (qsizetype i = kPackSize; i < recording.size(); ++i) {
        recording[i] = static_cast<char>(i * 7);
    }
    return recording;
}

QByteArray Repaired(QByteArray recording) {
    const QByteArray header = ToQByteArray(MakeHeaderPack());
    return recording.replace(0, header.size(), header);
}

// The template, and a first follow-up file /r/Film#1.mpg whose write fails.
FakeRepairFiles FilesWhereTheFirstWriteFails() {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    files.Add("/r/Film#1.mpg", 10, 0).failWrite = true;
    return files;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(SettingsFile()); }

    void startsWithStartDisabledAndPostfixShown();
    void everyTextFitsItsControl();
    void tabAndEnterAndEscapeWorkAsOnADialog();
    void templateFailureShowsItsMessageAndEnds_data();
    void templateFailureShowsItsMessageAndEnds();
    void choosingABaseFileShowsTheFirstFollowUp();
    void postfixIsCutToSevenBytesOnACharacterBoundary();
    void statusListShowsTheNewestLineAndSelectsNothing();
    void linesMixingNamesAndOwnTextsDecodeBoth();
    void controlCharactersInNamesAreShownEscaped();
    void screenReaderSeesEveryControlAndEveryLine();
    void errorBoxLeavesTheWindowUsable();
    void closeDuringErrorBoxWaitsForTheTickToFinish();
    void escapeDuringErrorBoxDismissesOnlyTheBox();
    void repairsRealFollowUpFilesAsTheyAreReleased();
    void folderWhoseNameLeadsElsewhereIsWaitedFor();
    void anotherOwnersFollowUpFileIsNamedOnceAndNeverWritten();
};

void MainWindowTest::startsWithStartDisabledAndPostfixShown() {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    Session session(files);
    QVERIFY(session.StartAndShow());

    QCOMPARE(session.window.windowTitle(), Utf8("Velmora"));
    QVERIFY(!session.Toggle()->isEnabled());
    QCOMPARE(session.Toggle()->text(), Utf8("Start"));
    QCOMPARE(session.Postfix()->text(), Utf8("#"));
    QVERIFY(session.CurrentFile()->isReadOnly());
    QVERIFY(session.CurrentFile()->text().isEmpty());
    QCOMPARE(session.Statuses()->LineCount(), 0);
    QCOMPARE(session.BaseFile()->text(), Utf8("Basis Datei"));
    QCOMPARE(session.Find<QLabel>("currentFileLabel")->text(), Utf8("Aktuelle Datei"));
    QCOMPARE(session.Find<QLabel>("postfixLabel")->text(), Utf8("Postfix"));
    QCOMPARE(session.Find<QLabel>("descriptionLabel")->text(),
             Utf8("Restauriert fortlaufend die MPEG- Header der Folge-Dateien, sobald "
                  "Schreibzugriff möglich!"));
    QCOMPARE(session.Find<QGroupBox>("fileGroup")->title(), Utf8("Dateiauswahl"));
    QCOMPARE(session.Find<QGroupBox>("statusGroup")->title(), Utf8("Status"));

    QVERIFY(session.RepairTimer()->isActive());
    QCOMPARE(session.RepairTimer()->interval(), 200);
    QCOMPARE(session.window.minimumSize(), session.window.maximumSize());
    QVERIFY(!(session.window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(session.window.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(QApplication::focusWidget(), session.CurrentFile());
    // Before a base file is chosen, Start cannot be pressed and ticks do nothing.
    ClickAsUser(session.Toggle());
    QVERIFY(!session.window.Controller().IsRunning());
    QSignalSpy ticks(session.RepairTimer(), &QTimer::timeout);
    QVERIFY(ticks.wait(kRepairTimeoutMs));
    QCOMPARE(files.openForWritingCalls, 0);
}

void MainWindowTest::everyTextFitsItsControl() {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    Session session(files);
    QVERIFY(session.StartAndShow());

    for (QLabel* label : session.window.findChildren<QLabel*>()) {
        const QRect room = label->contentsRect();
        const QRect needed = label->fontMetrics().boundingRect(
            room, static_cast<int>(label->alignment()) | Qt::TextWordWrap, label->text());
        QVERIFY2(room.contains(needed), qPrintable(QStringLiteral("%1: %2 x %3 in %4 x %5")
                                                       .arg(label->objectName())
                                                       .arg(needed.width())
                                                       .arg(needed.height())
                                                       .arg(room.width())
                                                       .arg(room.height())));
    }
    for (QPushButton* button : session.window.findChildren<QPushButton*>()) {
        const QFontMetrics metrics = button->fontMetrics();
        QVERIFY2(metrics.horizontalAdvance(button->text()) + 8 <= button->width(),
                 qPrintable(button->objectName()));
        QVERIFY2(metrics.height() + 4 <= button->height(), qPrintable(button->objectName()));
    }
    for (QLineEdit* edit : session.window.findChildren<QLineEdit*>()) {
        QVERIFY2(edit->minimumSizeHint().height() <= edit->height(),
                 qPrintable(edit->objectName()));
    }
    for (QGroupBox* group : session.window.findChildren<QGroupBox*>()) {
        QVERIFY(group->fontMetrics().horizontalAdvance(group->title()) + 16 <= group->width());
    }
    // The group boxes lie behind the controls they frame.
    QWidget* button = session.BaseFile();
    QCOMPARE(session.window.childAt(button->geometry().center()), button);
}

void MainWindowTest::tabAndEnterAndEscapeWorkAsOnADialog() {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    Session session(files);
    QVERIFY(session.StartAndShow());

    // Start is still disabled, so Tab cycles through the other three.
    PressKeyAsUser(&session.window, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), session.Postfix());
    // Enter in a field presses nothing.
    PressKeyAsUser(&session.window, Qt::Key_Return);
    QCOMPARE(session.chooser.requests, 0);
    PressKeyAsUser(&session.window, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), session.BaseFile());
    PressKeyAsUser(&session.window, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), session.CurrentFile());

    // Enter on a focused button presses it.
    session.chooser.answers = {"/recordings/Film.mpg"};
    session.BaseFile()->setFocus();
    PressKeyAsUser(&session.window, Qt::Key_Return);
    QCOMPARE(session.chooser.requests, 1);
    QVERIFY(session.Toggle()->isEnabled());
    PressKeyAsUser(&session.window, Qt::Key_Tab);  // round to the first control
    QCOMPARE(QApplication::focusWidget(), session.Toggle());
    PressKeyAsUser(&session.window, Qt::Key_Enter);
    QCOMPARE(session.Toggle()->text(), Utf8("Stop"));

    QSignalSpy ended(&session.window, &MainWindow::ended);
    PressKeyAsUser(&session.window, Qt::Key_Escape);
    QCOMPARE(ended.count(), 1);
    QVERIFY(!session.window.isVisible());
    QVERIFY(!session.RepairTimer()->isActive());
    QVERIFY(!files.IsOpen(kTemplateFileName));
}

void MainWindowTest::templateFailureShowsItsMessageAndEnds_data() {
    QTest::addColumn<int>("templateSize");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << -1 << Utf8("Header Datei nicht gefunden!");
    QTest::newRow("63 bytes") << 63 << Utf8("Header zu klein! (Minimal 64 Byte)");
    QTest::newRow("2049 bytes") << 2049 << Utf8("Header zu groß! (Maximal 2048 Byte)");
}

void MainWindowTest::templateFailureShowsItsMessageAndEnds() {
    QFETCH(int, templateSize);
    QFETCH(QString, message);
    Workspace workspace;
    QVERIFY(workspace.IsValid());
    if (templateSize >= 0) {
        QVERIFY(WriteAll(workspace.Path("header.mpeg"), QByteArray(templateSize, '\0')));
    }
    LinuxRepairFiles files;
    Session session(files);
    QSignalSpy ended(&session.window, &MainWindow::ended);

    bool boxChecked = false;
    WhenErrorBoxOpens([&](QMessageBox& box) {
        QCOMPARE(box.text(), message);
        QCOMPARE(box.windowTitle(), Utf8("Velmora"));
        QCOMPARE(box.standardButtons(), QMessageBox::Ok);
        QCOMPARE(box.icon(), QMessageBox::NoIcon);
        QVERIFY(!session.window.isVisible());  // only the message is shown
        boxChecked = true;
    });
    QVERIFY(!session.window.Start());
    QVERIFY(boxChecked);
    QCOMPARE(ended.count(), 1);
    QVERIFY(!session.RepairTimer()->isActive());
    QVERIFY(!QFile::exists(SettingsFile()));
    // The template file was let go: another program may open it now.
    if (templateSize >= 0) {
        LinuxRepairFiles other;
        const FileHandle file = other.OpenForReading("header.mpeg");
        QVERIFY(file != kNoFile);
        other.CloseFile(file);
    }
}

void MainWindowTest::choosingABaseFileShowsTheFirstFollowUp() {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    Session session(files);
    QVERIFY(session.StartAndShow());

    session.chooser.answers = {"/recordings/Film.mpg", QString(), Utf8("/Aufnahmen/Größe.mpg")};
    ClickAsUser(session.BaseFile());
    QCOMPARE(session.CurrentFile()->text(), Utf8("Film#1.mpg"));
    QVERIFY(session.Toggle()->isEnabled());
    QCOMPARE(session.Toggle()->text(), Utf8("Start"));
    QCOMPARE(session.window.Controller().BaseDirectory(), "/recordings/");

    // A cancelled choice changes nothing.
    ClickAsUser(session.Toggle());
    QCOMPARE(session.Toggle()->text(), Utf8("Stop"));
    ClickAsUser(session.BaseFile());
    QCOMPARE(session.chooser.requests, 2);
    QCOMPARE(session.CurrentFile()->text(), Utf8("Film#1.mpg"));
    QVERIFY(session.window.Controller().IsRunning());

    // Names go to the engine in the file system's encoding and come back.
    ClickAsUser(session.BaseFile());
    QCOMPARE(session.CurrentFile()->text(), Utf8("Größe#1.mpg"));
    QVERIFY(!session.window.Controller().IsRunning());
    QCOMPARE(session.Toggle()->text(), Utf8("Start"));
    QCOMPARE(session.window.Controller().BaseDirectory(), "/Aufnahmen/");
}

void MainWindowTest::postfixIsCutToSevenBytesOnACharacterBoundary() {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    Session session(files);
    QVERIFY(session.StartAndShow());

    // Four two-byte letters are 8 bytes: the fourth does not fit whole.
    session.Postfix()->setText(Utf8("_ääää"));
    session.chooser.answers = {"/r/Film.mpg", "/r/Film.mpg"};
    ClickAsUser(session.BaseFile());
    QCOMPARE(session.CurrentFile()->text(), Utf8("Film_äää1.mpg"));
    // The field keeps what the user typed.
    QCOMPARE(session.Postfix()->text(), Utf8("_ääää"));

    session.Postfix()->setText(QString());
    ClickAsUser(session.BaseFile());
    QCOMPARE(session.CurrentFile()->text(), Utf8("Film1.mpg"));

    // Typing stops where the field is full, not at a number of characters.
    session.Postfix()->setFocus();
    QTest::keyClicks(session.Postfix(), QString(40, QLatin1Char('W')));
    const QString typed = session.Postfix()->text();
    QVERIFY(typed.size() >= 2 && typed.size() < 40);
    QVERIFY(session.Postfix()->fontMetrics().horizontalAdvance(typed) < session.Postfix()->width());
    QTest::keyClick(session.Postfix(), Qt::Key_W);
    QCOMPARE(session.Postfix()->text(), typed);
}

void MainWindowTest::statusListShowsTheNewestLineAndSelectsNothing() {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    Session session(files);
    QVERIFY(session.StartAndShow());

    StatusList* list = session.Statuses();
    const QRect room = list->contentsRect();
    // Whether any pixel in the area is drawn in the text's colour.
    const auto inked = [list](const QRect& area) {
        const QImage image = list->grab().toImage();
        const QRgb text = list->palette().color(QPalette::Text).rgb();
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                if (image.pixel(x, y) == text) {
                    return true;
                }
            }
        }
        return false;
    };
    int wholeLinesShown = 0;
    for (int i = 1; i <= 40; ++i) {
        const QByteArray name = "Film#" + QByteArray::number(i) + ".mpg";
        session.window.AppendLogLine(kStatusPrefix, name.constData(), kRepairedSuffix);
        const QRect newest = list->LineRect(i - 1);
        QVERIFY2(!newest.isEmpty() && room.contains(newest), qPrintable(QString::number(i)));
        if (list->TopIndex() == 0) {
            wholeLinesShown = i;  // not scrolled yet: the list still has room
        } else {
            // Scrolled as far as it goes: the newest line is the last one shown.
            QCOMPARE(list->TopIndex(), i - wholeLinesShown);
            QVERIFY(list->LineRect(i - 1).bottom() + list->LineRect(i - 1).height() >
                    room.bottom());
        }
        if (i == 1) {
            QVERIFY(inked(newest));
            QVERIFY(!inked(newest.translated(0, 2 * newest.height()).intersected(room)));
        }
    }
    QVERIFY(wholeLinesShown >= 5 && wholeLinesShown < 40);
    QCOMPARE(list->LineCount(), 40);
    QCOMPARE(list->Line(0), Utf8("Header \"Film#1.mpg\" restauriert!"));
    QVERIFY(list->LineRect(0).isEmpty());
    QVERIFY(inked(list->LineRect(39)));

    // A click selects nothing, takes no focus and scrolls nothing.
    QWidget* focused = QApplication::focusWidget();
    const QImage before = list->grab().toImage();
    ClickAsUser(list);
    QCOMPARE(QApplication::focusWidget(), focused);
    QCOMPARE(list->TopIndex(), 40 - wholeLinesShown);
    QCOMPARE(list->grab().toImage(), before);

    // The wheel shows earlier lines, never past either end; the next line
    // brings the newest back into view.
    const auto turnWheel = [list](int notches) {
        const QPointF at = list->rect().center();
        QWheelEvent wheel(at, list->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(list, &wheel);
    };
    turnWheel(1);
    QCOMPARE(list->TopIndex(), 40 - wholeLinesShown - 3);
    turnWheel(100);
    QCOMPARE(list->TopIndex(), 0);
    QVERIFY(!list->LineRect(0).isEmpty());
    turnWheel(-100);
    QCOMPARE(list->TopIndex(), 40 - wholeLinesShown);
    turnWheel(2);
    session.window.AppendLogLine(kStatusPrefix, "Film#41.mpg", kRepairedSuffix);
    QCOMPARE(list->TopIndex(), 41 - wholeLinesShown);
    QVERIFY(!list->LineRect(40).isEmpty());
}

void MainWindowTest::linesMixingNamesAndOwnTextsDecodeBoth() {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    Session session(files);
    QVERIFY(session.StartAndShow());

    // The name in the file system's encoding, the words around it the engine's.
    session.window.AppendLogLine(
        "Gr\xF6\xDF"
        "e \"",
        QFile::encodeName(Utf8("Größe\"#1.mpg")).constData(), "\" m\xF6glich!");
    QCOMPARE(session.LastLine(), Utf8("Größe \"Größe\"#1.mpg\" möglich!"));
    session.window.SetCurrentFileText(QFile::encodeName(Utf8("Größe#2.mpg")).constData());
    QCOMPARE(session.CurrentFile()->text(), Utf8("Größe#2.mpg"));
    session.window.SetToggleCaption(
        "St\xFC"
        "ck");
    QCOMPARE(session.Toggle()->text(), Utf8("Stück"));
}

// A name holding a newline cannot forge a line of its own, neither in the
// list nor for a screen reader: its control characters are shown escaped,
// and so is Unicode's line separator, at which Qt's drawing breaks lines.
void MainWindowTest::controlCharactersInNamesAreShownEscaped() {
    const QByteArray forged = "A\nHeader \"Z.mpg\" restauriert!\n\x1b[2JB";
    const QByteArray separated = QFile::encodeName(Utf8("A\u2028B"));
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    files.Add("/r/" + forged.toStdString() + "#1.mpg", 10, 0);
    files.Add("/r/" + separated.toStdString() + "#1.mpg", 10, 0);
    Session session(files);
    QVERIFY(session.StartAndShow());

    session.ChooseAndStart(QFile::decodeName("/r/" + forged + ".mpg"));
    QTRY_COMPARE_WITH_TIMEOUT(session.Statuses()->LineCount(), 1, kRepairTimeoutMs);
    const QString shown =
        Utf8(R"(Header "A\nHeader "Z.mpg" restauriert!\n\x1b[2JB#1.mpg" restauriert!)");
    QCOMPARE(session.LastLine(), shown);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(session.Statuses());
    QCOMPARE(list->childCount(), 1);
    QCOMPARE(list->child(0)->text(QAccessible::Name), shown);

    session.ChooseAndStart(QFile::decodeName("/r/" + separated + ".mpg"));
    QTRY_COMPARE_WITH_TIMEOUT(session.Statuses()->LineCount(), 2, kRepairTimeoutMs);
    QCOMPARE(session.LastLine(), Utf8(R"(Header "A\u2028B#1.mpg" restauriert!)"));
    QCOMPARE(list->childCount(), 2);

    // The longest name, every byte a control character: escaped whole.
    const std::string controls(kMaxNameLength, '\x01');
    session.window.AppendLogLine(kStatusPrefix, controls.c_str(), kNotRepairedSuffix);
    QCOMPARE(session.LastLine(),
             "Header \"" + QString(R"(\x01)").repeated(kMaxNameLength) + "\" nicht restauriert!");
}

void MainWindowTest::screenReaderSeesEveryControlAndEveryLine() {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    files.Add("/r/Film#1.mpg", 10, 0);
    files.Add("/r/Film#2.mpg", 10, 0);
    Session session(files);
    QVERIFY(session.StartAndShow());

    const auto accessible = [&session](const char* name) {
        return QAccessible::queryAccessibleInterface(session.Find<QWidget>(name));
    };
    const std::tuple<const char*, QAccessible::Role, QString> controls[] = {
        {"currentFileEdit", QAccessible::EditableText, Utf8("Aktuelle Datei")},
        {"postfixEdit", QAccessible::EditableText, Utf8("Postfix")},
        {"baseFileButton", QAccessible::Button, Utf8("Basis Datei")},
        {"toggleButton", QAccessible::Button, Utf8("Start")},
        {"currentFileLabel", QAccessible::StaticText, Utf8("Aktuelle Datei")},
        {"fileGroup", QAccessible::Grouping, Utf8("Dateiauswahl")},
        {"statusList", QAccessible::List, Utf8("Status")},
    };
    for (const auto& [name, role, text] : controls) {
        QCOMPARE(accessible(name)->role(), role);
        QCOMPARE(accessible(name)->text(QAccessible::Name), text);
    }

    // Lines from real repairs, then enough more to scroll the first away.
    QCOMPARE(accessible("statusList")->childCount(), 0);
    session.ChooseAndStart("/r/Film.mpg");
    QTRY_COMPARE_WITH_TIMEOUT(session.Statuses()->LineCount(), 2, kRepairTimeoutMs);
    for (int i = 3; i <= 30; ++i) {
        session.window.AppendLogLine(
            kStatusPrefix, ("Film#" + QByteArray::number(i) + ".mpg").constData(), kRepairedSuffix);
    }
    StatusList* list = session.Statuses();
    QVERIFY(list->LineRect(0).isEmpty() && !list->LineRect(29).isEmpty());
    QAccessibleInterface* listInterface = accessible("statusList");
    QCOMPARE(listInterface->childCount(), 30);
    for (int i = 0; i < 30; ++i) {
        QAccessibleInterface* line = listInterface->child(i);
        QCOMPARE(line->role(), QAccessible::ListItem);
        QCOMPARE(line->text(QAccessible::Name), list->Line(i));
        QCOMPARE(line->parent(), listInterface);
        QCOMPARE(listInterface->indexOfChild(line), i);
        // Scrolled out of view: no place on the screen.
        QCOMPARE(line->state().offscreen, list->LineRect(i).isEmpty());
        if (!line->state().offscreen) {
            const QPoint center = line->rect().center();
            QCOMPARE(listInterface->childAt(center.x(), center.y()), line);
        }
    }
    QCOMPARE(listInterface->child(0)->text(QAccessible::Name),
             Utf8("Header \"Film#1.mpg\" restauriert!"));
    QCOMPARE(listInterface->child(1)->text(QAccessible::Name),
             Utf8("Header \"Film#2.mpg\" restauriert!"));
}

void MainWindowTest::errorBoxLeavesTheWindowUsable() {
    FakeRepairFiles files = FilesWhereTheFirstWriteFails();
    files.Add("/r/Film#2.mpg", 10, 0);
    Session session(files);
    QVERIFY(session.StartAndShow());
    session.ChooseAndStart("/r/Film.mpg");

    bool checked = false;
    WhenErrorBoxOpens([&](QMessageBox& box) {
        QCOMPARE(box.text(), Utf8("Konnte Header Datei nicht schreiben!"));
        QVERIFY(!box.isModal());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        // Ticks keep coming: each finds the failed file still held.
        const int attempts = files.openForWritingCalls;
        QTRY_VERIFY_WITH_TIMEOUT(files.openForWritingCalls >= attempts + 2, kRepairTimeoutMs);
        QVERIFY(files.IsOpen("/r/Film#1.mpg"));
        QCOMPARE(session.Statuses()->LineCount(), 0);
        // Clicks on the main window arrive too.
        ClickAsUser(session.Toggle());
        QCOMPARE(session.Toggle()->text(), Utf8("Start"));
        ClickAsUser(session.Toggle());
        QCOMPARE(session.Toggle()->text(), Utf8("Stop"));
        ClickAsUser(session.BaseFile());
        QCOMPARE(session.chooser.requests, 2);
        checked = true;
    });
    QTRY_COMPARE_WITH_TIMEOUT(session.Statuses()->LineCount(), 1, kRepairTimeoutMs);
    QVERIFY(checked);
    QCOMPARE(session.LastLine(), Utf8("Header \"Film#1.mpg\" nicht restauriert!"));
    QCOMPARE(session.Toggle()->text(), Utf8("Start"));
    QVERIFY(session.Toggle()->isEnabled());
    QCOMPARE(session.CurrentFile()->text(), Utf8("Film#2.mpg"));
    QVERIFY(!files.IsOpen("/r/Film#1.mpg"));
    // Stopped: the next file waits for Start.
    QSignalSpy ticks(session.RepairTimer(), &QTimer::timeout);
    QVERIFY(ticks.wait(kRepairTimeoutMs));
    QCOMPARE(session.Statuses()->LineCount(), 1);
}

void MainWindowTest::closeDuringErrorBoxWaitsForTheTickToFinish() {
    FakeRepairFiles files = FilesWhereTheFirstWriteFails();
    Session session(files);
    QVERIFY(session.StartAndShow());
    session.ChooseAndStart("/r/Film.mpg");

    QSignalSpy ended(&session.window, &MainWindow::ended);
    int linesWhenEnded = -1;
    bool failedFileOpenWhenEnded = true;
    connect(&session.window, &MainWindow::ended, this, [&] {
        linesWhenEnded = session.Statuses()->LineCount();
        failedFileOpenWhenEnded = files.IsOpen("/r/Film#1.mpg");
    });
    bool checked = false;
    WhenErrorBoxOpens([&](QMessageBox&) {
        session.window.close();  // the close box
        QVERIFY(!session.window.isVisible());
        QCOMPARE(ended.count(), 0);
        QVERIFY(files.IsOpen(kTemplateFileName));
        QVERIFY(files.IsOpen("/r/Film#1.mpg"));
        checked = true;
    });
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, kRepairTimeoutMs);
    QVERIFY(checked);
    // The interrupted tick finished before the window ended.
    QCOMPARE(linesWhenEnded, 1);
    QVERIFY(!failedFileOpenWhenEnded);
    QVERIFY(!files.IsOpen(kTemplateFileName));
    QVERIFY(!session.RepairTimer()->isActive());
}

void MainWindowTest::escapeDuringErrorBoxDismissesOnlyTheBox() {
    FakeRepairFiles files = FilesWhereTheFirstWriteFails();
    Session session(files);
    QVERIFY(session.StartAndShow());
    session.ChooseAndStart("/r/Film.mpg");

    QSignalSpy ended(&session.window, &MainWindow::ended);
    bool dismissed = false;
    WhenErrorBoxOpens([&](QMessageBox& box) {
        QVERIFY(QTest::qWaitForWindowActive(&box));
        PressKeyAsUser(&box, Qt::Key_Escape);
        QVERIFY(!box.isVisible());
        dismissed = true;
    });
    QTRY_COMPARE_WITH_TIMEOUT(session.Statuses()->LineCount(), 1, kRepairTimeoutMs);
    QVERIFY(dismissed);
    QCOMPARE(ended.count(), 0);
    QVERIFY(session.window.isVisible());
}

void MainWindowTest::repairsRealFollowUpFilesAsTheyAreReleased() {
    Workspace workspace;
    QVERIFY(workspace.IsValid());
    const std::vector<unsigned char> header = MakeHeaderPack();
    QVERIFY(WriteAll(workspace.Path("header.mpeg"), ToQByteArray(header)));
    QVERIFY(WriteAll(workspace.Path("Film.mpg"), ToQByteArray(header)));
    std::vector<unsigned char> recording(100000, 0x00);
    for (std::size_t i = kPackSize; i < recording.size(); ++i) {
        recording[i] = static_cast<unsigned char>(i * 7);
    }
    QVERIFY(WriteAll(workspace.Path("Film#1.mpg"), ToQByteArray(recording)));
    QVERIFY(WriteAll(workspace.Path("Film#2.mpg"), ToQByteArray(recording)));
    QVERIFY(WriteAll(workspace.Path("Film#3.mpg"), ToQByteArray(recording)));
    QVERIFY(chmod(QFile::encodeName(workspace.Path("Film#3.mpg")).constData(), 0444) == 0);
    // Another program is still writing the second file.
    const int recorder =
        open(QFile::encodeName(workspace.Path("Film#2.mpg")).constData(), O_WRONLY);
    QVERIFY(recorder >= 0);

    LinuxRepairFiles files;
    Session session(files);
    QVERIFY(session.StartAndShow());
    session.ChooseAndStart(workspace.Path("Film.mpg"));

    QTRY_COMPARE_WITH_TIMEOUT(session.Statuses()->LineCount(), 1, kRepairTimeoutMs);
    QCOMPARE(session.LastLine(), Utf8("Header \"Film#1.mpg\" restauriert!"));
    std::vector<unsigned char> expected = recording;
    std::copy(header.begin(), header.end(), expected.begin());
    QCOMPARE(ReadAll(workspace.Path("Film#1.mpg")), ToQByteArray(expected));
    QCOMPARE(session.CurrentFile()->text(), Utf8("Film#2.mpg"));

    // Held by the recorder: left alone, tick after tick.
    QSignalSpy ticks(session.RepairTimer(), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, kRepairTimeoutMs);
    QCOMPARE(session.Statuses()->LineCount(), 1);
    QCOMPARE(ReadAll(workspace.Path("Film#2.mpg")), ToQByteArray(recording));

    QCOMPARE(close(recorder), 0);
    QTRY_COMPARE_WITH_TIMEOUT(session.Statuses()->LineCount(), 2, kRepairTimeoutMs);
    QCOMPARE(session.LastLine(), Utf8("Header \"Film#2.mpg\" restauriert!"));
    QCOMPARE(ReadAll(workspace.Path("Film#2.mpg")), ToQByteArray(expected));

    // Read-only: tried silently, never repaired, never skipped.
    ticks.clear();
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, kRepairTimeoutMs);
    QCOMPARE(session.Statuses()->LineCount(), 2);
    QCOMPARE(session.CurrentFile()->text(), Utf8("Film#3.mpg"));
    QCOMPARE(ReadAll(workspace.Path("Film#3.mpg")), ToQByteArray(recording));
}

// The series' folder is held from Start: while its name leads elsewhere (a
// folder above it swapped for a link), nothing is written, not even the
// file of the same name the link leads to, and no line is added; the window
// waits. Put back, the next follow-up file is repaired.
void MainWindowTest::folderWhoseNameLeadsElsewhereIsWaitedFor() {
    Workspace workspace;
    QVERIFY(workspace.IsValid());
    const auto path = [&workspace](const char* name) {
        return QFile::encodeName(workspace.Path(QString::fromUtf8(name)));
    };
    for (const char* folder :
         {"rec", "rec/tv", "rec/tv/aufnahmen", "elsewhere", "elsewhere/aufnahmen"}) {
        QCOMPARE(mkdir(path(folder).constData(), 0755), 0);
    }
    const QByteArray header = ToQByteArray(MakeHeaderPack());
    QVERIFY(WriteAll(workspace.Path("header.mpeg"), header));
    QVERIFY(WriteAll(workspace.Path("rec/tv/aufnahmen/Film.mpg"), header));
    QVERIFY(WriteAll(workspace.Path("rec/tv/aufnahmen/Film#1.mpg"), Recording()));
    QVERIFY(WriteAll(workspace.Path("elsewhere/aufnahmen/Film#2.mpg"), Recording()));

    LinuxRepairFiles files;
    Session session(files);
    QVERIFY(session.StartAndShow());
    session.ChooseAndStart(workspace.Path("rec/tv/aufnahmen/Film.mpg"));
    QTRY_COMPARE_WITH_TIMEOUT(session.Statuses()->LineCount(), 1, kRepairTimeoutMs);
    QCOMPARE(session.CurrentFile()->text(), Utf8("Film#2.mpg"));

    QCOMPARE(rename(path("rec/tv").constData(), path("rec/tv.old").constData()), 0);
    QCOMPARE(symlink(path("elsewhere").constData(), path("rec/tv").constData()), 0);
    // The held folder itself, reached by its new name, gets its file too.
    QVERIFY(WriteAll(workspace.Path("rec/tv.old/aufnahmen/Film#2.mpg"), Recording()));
    QSignalSpy ticks(session.RepairTimer(), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 5, kRepairTimeoutMs);
    QCOMPARE(session.Statuses()->LineCount(), 1);
    QCOMPARE(session.Toggle()->text(), Utf8("Stop"));
    QCOMPARE(session.CurrentFile()->text(), Utf8("Film#2.mpg"));
    QCOMPARE(ReadAll(workspace.Path("elsewhere/aufnahmen/Film#2.mpg")), Recording());
    QCOMPARE(ReadAll(workspace.Path("rec/tv.old/aufnahmen/Film#2.mpg")), Recording());

    QCOMPARE(unlink(path("rec/tv").constData()), 0);
    QCOMPARE(rename(path("rec/tv.old").constData(), path("rec/tv").constData()), 0);
    QTRY_COMPARE_WITH_TIMEOUT(session.Statuses()->LineCount(), 2, kRepairTimeoutMs);
    QCOMPARE(session.LastLine(), Utf8("Header \"Film#2.mpg\" restauriert!"));
    QCOMPARE(ReadAll(workspace.Path("rec/tv/aufnahmen/Film#2.mpg")), Repaired(Recording()));
    QCOMPARE(ReadAll(workspace.Path("elsewhere/aufnahmen/Film#2.mpg")), Recording());
}

// A follow-up file of another user than its base file's owner is named once
// and never written, tick after tick; it is not skipped either: once it is
// the base file's owner's, it is repaired.
void MainWindowTest::anotherOwnersFollowUpFileIsNamedOnceAndNeverWritten() {
    if (geteuid() != 0) {
        QSKIP("needs root to give a file to another user");
    }
    Workspace workspace;
    QVERIFY(workspace.IsValid());
    const QByteArray header = ToQByteArray(MakeHeaderPack());
    QVERIFY(WriteAll(workspace.Path("header.mpeg"), header));
    QVERIFY(WriteAll(workspace.Path("Film.mpg"), header));
    QVERIFY(WriteAll(workspace.Path("Film#1.mpg"), Recording()));
    const QByteArray followUp = QFile::encodeName(workspace.Path("Film#1.mpg"));
    QCOMPARE(chown(followUp.constData(), 65534, 65534), 0);

    LinuxRepairFiles files;
    Session session(files);
    QVERIFY(session.StartAndShow());
    session.ChooseAndStart(workspace.Path("Film.mpg"));
    QTRY_COMPARE_WITH_TIMEOUT(session.Statuses()->LineCount(), 1, kRepairTimeoutMs);
    QCOMPARE(session.LastLine(), Utf8("Anderer Eigentümer: \"Film#1.mpg\""));
    QSignalSpy ticks(session.RepairTimer(), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 5, kRepairTimeoutMs);
    QCOMPARE(session.Statuses()->LineCount(), 1);
    QCOMPARE(session.CurrentFile()->text(), Utf8("Film#1.mpg"));
    QCOMPARE(ReadAll(workspace.Path("Film#1.mpg")), Recording());

    QCOMPARE(chown(followUp.constData(), 0, 0), 0);
    QTRY_COMPARE_WITH_TIMEOUT(session.Statuses()->LineCount(), 2, kRepairTimeoutMs);
    QCOMPARE(session.LastLine(), Utf8("Header \"Film#1.mpg\" restauriert!"));
    QCOMPARE(ReadAll(workspace.Path("Film#1.mpg")), Repaired(Recording()));
}

VELMORA_QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
