// The Linux window is the window the description in window_layout.h gives,
// which the Windows program's dialog is compiled from: each control in the
// description's order (tab and stacking order), of its kind, with its text,
// and in its place, dialog units turned into the window's pixels. And the
// dialog units themselves, as a dialog manager computes them.
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include "dialog_units.h"
#include "linux_repair_files.h"
#include "main_window.h"
#include "qt_test_support.h"
#include "status_list.h"
#include "text_encoding.h"

namespace {

// The kind of control a widget is, as the window's description names kinds
// (its number there; -1 for a widget of no described kind).
int KindOf(const QWidget* widget) {
    WindowControlKind kind = WindowControlKind::StatusList;
    if (qobject_cast<const QGroupBox*>(widget)) {
        kind = WindowControlKind::GroupBox;
    } else if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        kind = button->isEnabled() ? WindowControlKind::Button : WindowControlKind::DisabledButton;
    } else if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        kind = label->alignment() & Qt::AlignHCenter ? WindowControlKind::CenteredLabel
                                                     : WindowControlKind::Label;
    } else if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        kind = edit->isReadOnly() ? WindowControlKind::ReadOnlyEdit : WindowControlKind::Edit;
    } else if (!qobject_cast<const StatusList*>(widget)) {
        return -1;
    }
    return static_cast<int>(kind);
}

QString TextOf(const QWidget* widget) {
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
        return group->title();
    }
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        return button->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    const auto* edit = qobject_cast<const QLineEdit*>(widget);
    return edit != nullptr ? edit->text() : QString();
}

// One line per control, so that a difference names the control and shows
// both sides.
QString Describe(const QString& name, int kind, const QString& text, const QRect& pixels) {
    return QString("%1 kind %2 \"%3\" at %4,%5 size %6x%7")
        .arg(name)
        .arg(kind)
        .arg(text)
        .arg(pixels.x())
        .arg(pixels.y())
        .arg(pixels.width())
        .arg(pixels.height());
}

}  // namespace

class WindowAgreementTest : public QObject {
    Q_OBJECT

private slots:
    void linuxWindowIsTheDescribedWindow();
    void dialogUnitsScaleWithTheFont();
};

void WindowAgreementTest::linuxWindowIsTheDescribedWindow() {
    // The window as it is built, before start-up fills in the postfix.
    LinuxRepairFiles files;
    ScriptedChooser chooser;
    MainWindow window(files, chooser);
    const DialogBaseUnits& units = window.LayoutUnits();
    QCOMPARE(window.windowTitle(), DecodeWindows1252(VELMORA_WINDOW_CAPTION));
    QCOMPARE(window.size(), DialogSizeToPixels(units, VELMORA_WINDOW_WIDTH, VELMORA_WINDOW_HEIGHT));

    // The window's own children in stacking order, top first, apart from the
    // group boxes, which it puts at the back.
    QStringList built;
    QStringList stacked;
    const QObjectList children = window.children();
    for (auto it = children.crbegin(); it != children.crend(); ++it) {
        const auto* widget = qobject_cast<const QWidget*>(*it);
        if (widget != nullptr && !qobject_cast<const QGroupBox*>(widget)) {
            stacked << widget->objectName();
        }
    }
    QStringList described;
    QStringList describedOrder;
    for (const WindowControl& control : kWindowControls) {
        const auto* widget = window.findChild<QWidget*>(control.name, Qt::FindDirectChildrenOnly);
        QVERIFY2(widget != nullptr, control.name);
        built << Describe(control.name, KindOf(widget), TextOf(widget), widget->geometry());
        const ControlPlace& place = control.place;
        described << Describe(
            control.name, static_cast<int>(control.kind), DecodeWindows1252(control.text),
            DialogRectToPixels(units, place.x, place.y, place.width, place.height));
        if (control.kind != WindowControlKind::GroupBox) {
            describedOrder << control.name;
        }
    }
    // Places are compared in the window's pixels: each dialog unit is at
    // least one pixel, so a unit's difference shows.
    QCOMPARE(built, described);
    QCOMPARE(stacked, describedOrder);
}

void WindowAgreementTest::dialogUnitsScaleWithTheFont() {
    // Base units of 6 x 13 pixels are 8-point MS Sans Serif at 96 dpi.
    const DialogBaseUnits classic{6, 13};
    QCOMPARE(DialogSizeToPixels(classic, 187, 243), QSize(281, 395));
    // Each edge is rounded on its own, as a dialog manager maps rectangles.
    QCOMPARE(DialogRectToPixels(classic, 19, 87, 35, 13), QRect(29, 141, 52, 22));
    // A larger font makes everything larger, keeping the proportions.
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(11);
    QFont large = small;
    large.setPixelSize(22);
    const DialogBaseUnits smallUnits = MeasureDialogBaseUnits(small);
    const DialogBaseUnits largeUnits = MeasureDialogBaseUnits(large);
    QVERIFY(smallUnits.width > 0 && smallUnits.height > 0);
    QVERIFY(largeUnits.width >= 2 * smallUnits.width - 1);
    QVERIFY(largeUnits.height >= 2 * smallUnits.height - 1);
}

VELMORA_QTEST_MAIN(WindowAgreementTest)
#include "window_agreement_test.moc"
