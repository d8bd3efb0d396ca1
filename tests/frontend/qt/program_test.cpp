// The program itself, started as a user starts it: it holds the template
// while it runs, and a termination signal ends it like its close box does,
// with exit code 0 and the window position saved, whatever it is waiting in:
// its main loop, or a message box's.
#include <signal.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <optional>

#include "mpeg_ps.h"
#include "platform_choice.h"
#include "process_files.h"
#include "qt_test_support.h"
#include "window_position_store.h"

namespace {

constexpr int kTimeoutMs = 10000;
// A program that takes the signal ends within this; one that ignores it
// would wait for ever.
constexpr int kPromptEndMs = 5000;
constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

QProcessEnvironment ProgramEnvironment(const QString& configHome) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", configHome);
    return environment;
}

std::optional<QPoint> StoredPosition(const QString& configHome) {
    const QString file = configHome + "/Velmora/Settings.conf";
    if (!QFile::exists(file)) {
        return std::nullopt;
    }
    QSettings settings(file, QSettings::IniFormat);
    return ReadStoredPosition(settings);
}

// velmora-driver in the workspace, sent the signal once its output holds
// awaited; what it wrote and how it ended.
struct Ending {
    bool awaitedSeen = false;
    bool endedPromptly = false;
    bool crashed = false;
    int exitCode = -1;
    QByteArray output;
};

Ending SignalOnceSeen(const Workspace& workspace, const QStringList& arguments,
                      const QByteArray& awaited, int signal, rlim_t fileSizeLimit = RLIM_INFINITY) {
    Ending ending;
    QProcess driver;
    driver.setProcessEnvironment(ProgramEnvironment(workspace.Path("config")));
    driver.setWorkingDirectory(workspace.Folder());
    driver.setChildProcessModifier([fileSizeLimit] {
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    driver.start(QStringLiteral(VELMORA_DRIVER), arguments);
    if (!driver.waitForStarted()) {
        return ending;
    }
    QDeadlineTimer deadline(kTimeoutMs);
    while (!ending.output.contains(awaited) && driver.state() == QProcess::Running &&
           !deadline.hasExpired()) {
        driver.waitForReadyRead(100);
        ending.output += driver.readAllStandardOutput();
    }
    ending.awaitedSeen = ending.output.contains(awaited);
    kill(static_cast<pid_t>(driver.processId()), signal);
    ending.endedPromptly = driver.waitForFinished(kPromptEndMs);
    if (!ending.endedPromptly) {
        driver.kill();
        driver.waitForFinished();
    }
    ending.crashed = driver.exitStatus() != QProcess::NormalExit;
    ending.exitCode = driver.exitCode();
    ending.output += driver.readAllStandardOutput() + driver.readAllStandardError();
    return ending;
}

QByteArray Described(int signal, const Ending& ending) {
    return QByteArray(strsignal(signal)) + ":\n" + ending.output;
}

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT

private slots:
    void terminationSignalEndsLikeTheCloseBox();
    void terminationSignalEndsTheStartUpMessage();
    void terminationSignalEndsTheWriteFailureMessageLikeTheCloseBox();
    void withoutADisplayItSaysSoAndEnds();
    void x11IsPreferredUnderWaylandOnly();
};

void ProgramTest::terminationSignalEndsLikeTheCloseBox() {
    Workspace workspace;
    QVERIFY(workspace.IsValid());
    QFile header(workspace.Path("header.mpeg"));
    QVERIFY(header.open(QIODevice::WriteOnly));
    QVERIFY(header.write(QByteArray(2048, '\x47')) == 2048);
    header.close();
    const QString config = workspace.Path("config");

    QProcess program;
    program.setProcessEnvironment(ProgramEnvironment(config));
    program.setWorkingDirectory(workspace.Folder());
    program.start(QStringLiteral(VELMORA_PROGRAM), {});
    QVERIFY(program.waitForStarted());

    QTRY_VERIFY_WITH_TIMEOUT(ProcessHolds(program.processId(), workspace.Path("header.mpeg")),
                             kTimeoutMs);
    QCOMPARE(kill(static_cast<pid_t>(program.processId()), SIGTERM), 0);
    QVERIFY(program.waitForFinished(kTimeoutMs));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(StoredPosition(config).has_value());
}

void ProgramTest::terminationSignalEndsTheStartUpMessage() {
    // The template is refused before the window exists: the signal ends the
    // program from inside the message, and with nothing loaded nothing is saved.
    for (const int signal : kTerminationSignals) {
        Workspace workspace;
        QVERIFY(workspace.IsValid());
        QVERIFY(WriteAll(workspace.Path("header.mpeg"), QByteArray(63, '\0')));

        const Ending ending =
            SignalOnceSeen(workspace, {}, "box Header zu klein! (Minimal 64 Byte)", signal);
        QVERIFY2(ending.awaitedSeen, Described(signal, ending).constData());
        QVERIFY2(ending.endedPromptly && !ending.crashed, Described(signal, ending).constData());
        QCOMPARE(ending.exitCode, 0);
        QVERIFY2(!ending.output.contains("shown"), Described(signal, ending).constData());
        QVERIFY(!QFile::exists(workspace.Path("config/Velmora/Settings.conf")));
    }
}

void ProgramTest::terminationSignalEndsTheWriteFailureMessageLikeTheCloseBox() {
    // A file size limit below the template's end makes the write fail. The
    // signal closes the message, the interrupted tick reports the file, and
    // the window ends as its close box ends it.
    constexpr rlim_t kFileSizeLimit = 1000;
    for (const int signal : kTerminationSignals) {
        Workspace workspace;
        QVERIFY(workspace.IsValid());
        QVERIFY(WriteAll(workspace.Path("header.mpeg"), ToQByteArray(MakeHeaderPack())));
        QVERIFY(WriteAll(workspace.Path("Film.mpg"), ToQByteArray(MakeHeaderPack())));
        QVERIFY(WriteAll(workspace.Path("Film#1.mpg"), QByteArray(1500, '\0')));

        const Ending ending =
            SignalOnceSeen(workspace, {workspace.Path("Film.mpg")},
                           "box Konnte Header Datei nicht schreiben!", signal, kFileSizeLimit);
        QVERIFY2(ending.awaitedSeen, Described(signal, ending).constData());
        QVERIFY2(ending.endedPromptly && !ending.crashed, Described(signal, ending).constData());
        QCOMPARE(ending.exitCode, 0);
        QVERIFY2(ending.output.contains("line Header \"Film#1.mpg\" nicht restauriert!"),
                 Described(signal, ending).constData());
        const QList<QByteArray> shown = ending.output.split('\n').first().split(' ');
        QCOMPARE(shown.size(), 3);
        QCOMPARE(StoredPosition(workspace.Path("config")),
                 std::optional<QPoint>(QPoint(shown[1].toInt(), shown[2].toInt())));
    }
}

// Started where no display is named (a terminal on a server, an ssh login),
// it says so in one line and ends with status 1, where Qt would abort.
void ProgramTest::withoutADisplayItSaysSoAndEnds() {
    Workspace workspace;
    QVERIFY(workspace.IsValid());
    QProcessEnvironment environment = ProgramEnvironment(workspace.Path("config"));
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(workspace.Folder());
    program.start(QStringLiteral(VELMORA_PROGRAM), {});
    QVERIFY(program.waitForFinished(kTimeoutMs));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    const QString said = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(said.contains(QStringLiteral("keine grafische Anzeige")), qPrintable(said));
}

void ProgramTest::x11IsPreferredUnderWaylandOnly() {
    QCOMPARE(ChooseQtPlatform(nullptr, "wayland-0", "wayland", ":0"), "xcb;wayland");
    QCOMPARE(ChooseQtPlatform(nullptr, nullptr, "wayland", ":0"), "xcb;wayland");
    // No XWayland, a plain X11 session, or the user's own choice: left alone.
    QCOMPARE(ChooseQtPlatform(nullptr, "wayland-0", "wayland", nullptr), nullptr);
    QCOMPARE(ChooseQtPlatform(nullptr, nullptr, "x11", ":0"), nullptr);
    QCOMPARE(ChooseQtPlatform("wayland", "wayland-0", "wayland", ":0"), nullptr);
}

VELMORA_QTEST_MAIN(ProgramTest)
#include "program_test.moc"
