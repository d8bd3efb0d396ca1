// The status list on a live accessibility bus: each new line is announced as
// a new child of the list, as an item view announces a new row, which the
// AT-SPI bridge passes on to a screen reader. Qt hands such announcements on
// only while a screen reader's bus is there, so this runs on an X server
// with one (run_on_accessibility_bus.sh).
#include <QAccessible>
#include <QPushButton>
#include <QScopeGuard>

#include "fake_repair_files.h"
#include "main_window.h"
#include "qt_test_support.h"
#include "status_list.h"

namespace {

constexpr int kTimeoutMs = 10000;

struct Announcement {
    QString name;
    int index = -1;  // among the list's children, as the bridge finds it
    QString parentName;

    bool operator==(const Announcement&) const = default;
};

QList<Announcement> announcements;

void RecordNewListItems(QAccessibleEvent* event) {
    QAccessibleInterface* created = event->accessibleInterface();
    if (event->type() != QAccessible::ObjectCreated || created == nullptr ||
        created->role() != QAccessible::ListItem) {
        return;
    }
    QAccessibleInterface* parent = created->parent();
    announcements.append({created->text(QAccessible::Name),
                          parent != nullptr ? parent->indexOfChild(created) : -1,
                          parent != nullptr ? parent->text(QAccessible::Name) : QString()});
}

}  // namespace

class AccessibilityBusTest : public QObject {
    Q_OBJECT

private slots:
    void newLinesAreAnnouncedAsNewChildrenOfTheList();
};

void AccessibilityBusTest::newLinesAreAnnouncedAsNewChildrenOfTheList() {
    QTRY_VERIFY_WITH_TIMEOUT(QAccessible::isActive(), kTimeoutMs);  // the bridge found the bus
    const QAccessible::UpdateHandler previous =
        QAccessible::installUpdateHandler(RecordNewListItems);
    const auto restore = qScopeGuard([previous] { QAccessible::installUpdateHandler(previous); });

    FakeRepairFiles files;
    files.Add(kTemplateFileName, 2048, 0x47);
    files.Add("/r/Film#1.mpg", 10, 0);
    files.Add("/r/Film#2.mpg", 10, 0);
    ScriptedChooser chooser;
    chooser.answers = {"/r/Film.mpg"};
    MainWindow window(files, chooser);
    QVERIFY(window.Start());
    window.show();
    window.findChild<QPushButton*>("baseFileButton")->click();
    window.findChild<QPushButton*>("toggleButton")->click();
    auto* list = window.findChild<StatusList*>("statusList");
    QTRY_COMPARE_WITH_TIMEOUT(list->LineCount(), 2, kTimeoutMs);
    window.AppendLogLine(kStatusPrefix, "Film#3.mpg", kRepairedSuffix);

    const QList<Announcement> expected = {
        {QStringLiteral("Header \"Film#1.mpg\" restauriert!"), 0, QStringLiteral("Status")},
        {QStringLiteral("Header \"Film#2.mpg\" restauriert!"), 1, QStringLiteral("Status")},
        {QStringLiteral("Header \"Film#3.mpg\" restauriert!"), 2, QStringLiteral("Status")},
    };
    QCOMPARE(announcements, expected);
}

VELMORA_QTEST_MAIN(AccessibilityBusTest)
#include "accessibility_bus_test.moc"
