// The program itself, started as a user starts it: it holds the template
// while it runs, and a termination signal ends it like its close box does,
// with exit code 0 and the window position saved.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>

#include "process_files.h"
#include "qt_test_support.h"

class ProgramTest : public QObject {
    Q_OBJECT

private slots:
    void terminationSignalEndsLikeTheCloseBox();
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
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", config);
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(workspace.Folder());
    program.start(QStringLiteral(VELMORA_PROGRAM), {});
    QVERIFY(program.waitForStarted());

    QTRY_VERIFY_WITH_TIMEOUT(ProcessHolds(program.processId(), workspace.Path("header.mpeg")),
                             10000);
    QCOMPARE(kill(static_cast<pid_t>(program.processId()), SIGTERM), 0);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    QSettings settings(config + "/Velmora/Settings.conf", QSettings::IniFormat);
    QVERIFY(settings.contains("xpos"));
    QVERIFY(settings.contains("ypos"));
}

VELMORA_QTEST_MAIN(ProgramTest)
#include "program_test.moc"
