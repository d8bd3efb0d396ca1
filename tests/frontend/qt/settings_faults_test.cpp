// A settings file that cannot be read, cannot be written, or holds garbage:
// the program starts, repairs as usual and ends with exit code 0, and a
// position it cannot read is not restored. The program runs as a process of
// its own, played by velmora-driver, without root's power to ignore
// permissions, so that an unreadable file really is unreadable.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <optional>

#include "mpeg_ps.h"
#include "qt_test_support.h"
#include "window_position_store.h"

namespace {

constexpr int kTimeoutMs = 15000;
constexpr int kFollowUpSize = 20000;
const QPoint kStoredPosition(321, 123);
const QByteArray kValidSettings = "; kept as written\n[General]\nxpos=321\nypos=123\n";

QByteArray FollowUpAsRecorded() {
    QByteArray bytes(kFollowUpSize, '\0');
    for (int i = kPackSize; i < kFollowUpSize; ++i) {
        bytes[i] = static_cast<char>(i * 13 + 5);
    }
    return bytes;
}

QByteArray FollowUpRepaired() {
    QByteArray bytes = FollowUpAsRecorded();
    const std::vector<unsigned char> header = MakeHeaderPack();
    std::copy(header.begin(), header.end(), bytes.begin());
    return bytes;
}

QByteArray BinaryJunk() {
    QByteArray junk;
    for (int i = 0; i < 4096; ++i) {
        junk.append(static_cast<char>((i * 197 + 11) % 256));
    }
    return junk;
}

// The program played by the driver in a workspace holding a template, a
// base file and one follow-up file whose header was lost.
struct ProgramRun {
    bool finished = false;
    bool crashed = false;
    int exitCode = -1;
    std::optional<QPoint> shownAt;
    bool repaired = false;
    QByteArray output;
};

std::optional<QPoint> ShownAt(const QByteArray& output) {
    for (const QByteArray& line : output.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 3 && words[0] == "shown") {
            return QPoint(words[1].toInt(), words[2].toInt());
        }
    }
    return std::nullopt;
}

void Run(const Workspace& workspace, const QString& configHome, ProgramRun* run) {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", configHome);
    environment.insert("HOME", workspace.Folder());
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(workspace.Folder());
    const QString driver = QStringLiteral(VELMORA_DRIVER);
    const QString baseFile = workspace.Path("Film.mpg");
    if (geteuid() == 0) {
        // Still root, but bound by permission bits like any user.
        program.start("setpriv",
                      {"--inh-caps=-dac_override,-dac_read_search",
                       "--bounding-set=-dac_override,-dac_read_search", driver, baseFile});
    } else {
        program.start(driver, {baseFile});
    }
    QVERIFY(program.waitForStarted());
    const QByteArray repairedLine = "line Header \"Film#1.mpg\" restauriert!";
    QTRY_VERIFY_WITH_TIMEOUT(
        (run->output += program.readAllStandardOutput()).contains(repairedLine) ||
            program.state() == QProcess::NotRunning,
        kTimeoutMs);
    run->repaired = run->output.contains(repairedLine);
    run->shownAt = ShownAt(run->output);
    kill(static_cast<pid_t>(program.processId()), SIGTERM);
    run->finished = program.waitForFinished(kTimeoutMs);
    run->crashed = program.exitStatus() != QProcess::NormalExit;
    run->exitCode = program.exitCode();
    run->output += program.readAllStandardOutput() + program.readAllStandardError();
}

bool PrepareWorkspace(const Workspace& workspace) {
    const QByteArray headerBytes = ToQByteArray(MakeHeaderPack());
    return WriteAll(workspace.Path("header.mpeg"), headerBytes) &&
           WriteAll(workspace.Path("Film.mpg"), headerBytes) &&
           WriteAll(workspace.Path("Film#1.mpg"), FollowUpAsRecorded());
}

QPoint DefaultPosition() {
    return QGuiApplication::primaryScreen()->availableGeometry().topLeft();
}

}  // namespace

class SettingsFaultsTest : public QObject {
    Q_OBJECT

private slots:
    void programWorksWhateverTheSettingsFileHolds_data();
    void programWorksWhateverTheSettingsFileHolds();
    void unwritableConfigFolderLeavesNoTrace();
};

void SettingsFaultsTest::programWorksWhateverTheSettingsFileHolds_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("fileMode");
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<bool>("restored");
    QTest::addColumn<bool>("kept");  // else rewritten with the shown position

    // The reference: a good file is read, and rewritten at the end.
    QTest::newRow("readable") << kValidSettings << 0644 << 0755 << true << false;
    // Cannot be read: not restored, and not overwritten either.
    QTest::newRow("file unreadable") << kValidSettings << 0000 << 0755 << false << true;
    QTest::newRow("folder unreadable") << kValidSettings << 0644 << 0000 << false << true;
    QTest::newRow("folder not searchable") << kValidSettings << 0644 << 0644 << false << true;
    // Cannot be written: read all the same. A folder that can be written
    // takes a new file in its place; one that cannot leaves the old.
    QTest::newRow("file read-only") << kValidSettings << 0444 << 0755 << true << false;
    QTest::newRow("folder read-only") << kValidSettings << 0444 << 0555 << true << true;
    // Garbage: nothing restored, and a good file written in its place.
    QTest::newRow("binary junk") << BinaryJunk() << 0644 << 0755 << false << false;
    QTest::newRow("xpos a word") << QByteArray("[General]\nxpos=links\nypos=123\n") << 0644 << 0755
                                 << false << false;
    QTest::newRow("huge numbers")
        << QByteArray("[General]\nxpos=99999999999999999999999\nypos=4294967296\n") << 0644 << 0755
        << false << false;
    QTest::newRow("only xpos") << QByteArray("[General]\nxpos=321\n") << 0644 << 0755 << false
                               << false;
    QTest::newRow("no section, stray bytes")
        << QByteArray("xpos=321\nypos\n\x01\x02[General\n=\n") << 0644 << 0755 << false << false;
    QTest::newRow("empty") << QByteArray() << 0644 << 0755 << false << false;
}

void SettingsFaultsTest::programWorksWhateverTheSettingsFileHolds() {
    QFETCH(QByteArray, content);
    QFETCH(int, fileMode);
    QFETCH(int, folderMode);
    QFETCH(bool, restored);
    QFETCH(bool, kept);

    Workspace workspace;
    QVERIFY(workspace.IsValid());
    QVERIFY(PrepareWorkspace(workspace));
    const QString configHome = workspace.Path("config");
    const QString folder = configHome + "/Velmora";
    const QString file = folder + "/Settings.conf";
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(WriteAll(file, content));
    QCOMPARE(chmod(QFile::encodeName(file).constData(), static_cast<mode_t>(fileMode)), 0);
    QCOMPARE(chmod(QFile::encodeName(folder).constData(), static_cast<mode_t>(folderMode)), 0);

    ProgramRun run;
    Run(workspace, configHome, &run);
    chmod(QFile::encodeName(folder).constData(), 0755);  // for the checks, and the clean-up

    QVERIFY2(run.finished && !run.crashed, run.output.constData());
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.repaired, run.output.constData());
    QCOMPARE(ReadAll(workspace.Path("Film#1.mpg")), FollowUpRepaired());
    QVERIFY(run.shownAt.has_value());
    QCOMPARE(*run.shownAt, restored ? kStoredPosition : DefaultPosition());
    if (kept) {
        QCOMPARE(ReadAll(file), content);
    } else {
        QSettings settings(file, QSettings::IniFormat);
        QCOMPARE(ReadStoredPosition(settings), std::optional<QPoint>(*run.shownAt));
    }
}

void SettingsFaultsTest::unwritableConfigFolderLeavesNoTrace() {
    // No settings yet, and none can be made: nothing restored, nothing kept.
    Workspace workspace;
    QVERIFY(workspace.IsValid());
    QVERIFY(PrepareWorkspace(workspace));
    const QString configHome = workspace.Path("config");
    QVERIFY(QDir().mkpath(configHome));
    QCOMPARE(chmod(QFile::encodeName(configHome).constData(), 0555), 0);

    ProgramRun run;
    Run(workspace, configHome, &run);
    chmod(QFile::encodeName(configHome).constData(), 0755);

    QVERIFY2(run.finished && !run.crashed, run.output.constData());
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.repaired, run.output.constData());
    QVERIFY(run.shownAt.has_value());
    QCOMPARE(*run.shownAt, DefaultPosition());
    QVERIFY(QDir(configHome).isEmpty());
}

VELMORA_QTEST_MAIN(SettingsFaultsTest)
#include "settings_faults_test.moc"
