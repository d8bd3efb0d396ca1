// The remembered window position: written at every close after a good start,
// restored only from two integer values, never checked against the screen.
#include <QFile>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>

#include "fake_repair_files.h"
#include "main_window.h"
#include "qt_test_support.h"
#include "window_position_store.h"

namespace {

QString SettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/Velmora/Settings.conf";
}

QSettings Settings() {
    return QSettings(QStringLiteral("Velmora"), QStringLiteral("Settings"));
}

// Starts a window, shows it, optionally moves it, and closes it, noting
// where it was when it first appeared.
void Run(QPoint* shownAt, std::optional<QPoint> moveTo) {
    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    ScriptedChooser chooser;
    MainWindow window(files, chooser);
    QVERIFY(window.Start());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    *shownAt = window.pos();
    if (moveTo) {
        window.move(*moveTo);
        QTRY_COMPARE(window.pos(), *moveTo);
    }
    QSignalSpy ended(&window, &MainWindow::ended);
    window.close();
    QCOMPARE(ended.count(), 1);
}

QPoint RunOnce(std::optional<QPoint> moveTo = std::nullopt) {
    QPoint shownAt(INT_MIN, INT_MIN);
    Run(&shownAt, moveTo);
    return shownAt;
}

QPoint DefaultPosition() {
    return QGuiApplication::primaryScreen()->availableGeometry().topLeft();
}

}  // namespace

class WindowPositionTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(SettingsFile()); }

    void firstRunOpensAtTheTopLeftAndSavesBothValues();
    void savedPositionIsRestoredEvenWhenNegative();
    void incompleteOrWrongValuesAreNotRestoredButRewritten_data();
    void incompleteOrWrongValuesAreNotRestoredButRewritten();
    void valuesMustBe32BitIntegers();
};

void WindowPositionTest::firstRunOpensAtTheTopLeftAndSavesBothValues() {
    QCOMPARE(RunOnce(), DefaultPosition());
    QVERIFY(QFile::exists(SettingsFile()));
    const std::optional<QPoint> stored = ReadStoredPosition(Settings());
    QVERIFY(stored.has_value());
    QCOMPARE(*stored, DefaultPosition());
}

void WindowPositionTest::savedPositionIsRestoredEvenWhenNegative() {
    // Left of the primary screen, as on a second monitor, and far off any
    // screen: both are used as saved.
    for (const QPoint position : {QPoint(-300, 40), QPoint(5000, 3000)}) {
        RunOnce(position);
        QCOMPARE(ReadStoredPosition(Settings()), std::optional<QPoint>(position));
        QCOMPARE(RunOnce(), position);
    }
}

void WindowPositionTest::incompleteOrWrongValuesAreNotRestoredButRewritten_data() {
    QTest::addColumn<QVariant>("xpos");
    QTest::addColumn<QVariant>("ypos");
    QTest::newRow("only xpos") << QVariant(120) << QVariant();
    QTest::newRow("only ypos") << QVariant() << QVariant(120);
    QTest::newRow("ypos a word") << QVariant(120) << QVariant(QStringLiteral("oben"));
    QTest::newRow("xpos a fraction") << QVariant(QStringLiteral("12.5")) << QVariant(120);
    QTest::newRow("xpos a list") << QVariant(QStringList{"1", "2"}) << QVariant(120);
}

void WindowPositionTest::incompleteOrWrongValuesAreNotRestoredButRewritten() {
    QFETCH(QVariant, xpos);
    QFETCH(QVariant, ypos);
    {
        QSettings settings = Settings();
        if (xpos.isValid()) {
            settings.setValue("xpos", xpos);
        }
        if (ypos.isValid()) {
            settings.setValue("ypos", ypos);
        }
    }
    QCOMPARE(RunOnce(), DefaultPosition());
    QSettings settings = Settings();
    QCOMPARE(settings.value("xpos").toString(), QString::number(DefaultPosition().x()));
    QCOMPARE(settings.value("ypos").toString(), QString::number(DefaultPosition().y()));
}

void WindowPositionTest::valuesMustBe32BitIntegers() {
    QSettings settings = Settings();
    settings.setValue("xpos", QStringLiteral("-2147483648"));
    settings.setValue("ypos", QStringLiteral(" 2147483647 "));
    QCOMPARE(ReadStoredPosition(settings), std::optional<QPoint>(QPoint(INT_MIN, INT_MAX)));
    settings.setValue("ypos", QStringLiteral("2147483648"));
    QCOMPARE(ReadStoredPosition(settings), std::nullopt);
    settings.setValue("ypos", QStringLiteral("0x10"));
    QCOMPARE(ReadStoredPosition(settings), std::nullopt);
}

VELMORA_QTEST_MAIN(WindowPositionTest)
#include "window_position_test.moc"
