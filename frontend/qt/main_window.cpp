#include "main_window.h"

#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <utility>

#include "byte_text.h"
#include "dialog_units.h"
#include "file_chooser.h"
#include "status_list.h"
#include "text_encoding.h"
#include "window_controls.h"

namespace {

// Pixels a push button needs beside its caption for its frame.
constexpr int kButtonTextMargin = 8;
// How much wider the layout grows at a time when a text does not fit.
constexpr double kWidthUnitStep = 0.125;

void Place(QWidget* widget, const DialogBaseUnits& units, const ControlPlace& place) {
    widget->setGeometry(DialogRectToPixels(units, place.x, place.y, place.width, place.height));
}

}  // namespace

QIcon ApplicationIcon() {
    const QString builtIn = QStringLiteral(":/icons/velmora.png");
    if (!QFile::exists(builtIn)) {
        return QIcon::fromTheme(QStringLiteral("velmora"));
    }
    QIcon icon(builtIn);
    icon.addFile(QStringLiteral(":/icons/velmora-128.png"));
    return icon;
}

MainWindow::MainWindow(RepairFiles& files, FileChooser& chooser)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      chooser_(chooser),
      controller_(*this, files),
      repairTimer_(this) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(DecodeWindows1252(kWindowCaption));
    CreateControls();
    ArrangeControls();
    ConnectControls();
    repairTimer_.setObjectName(QStringLiteral("repairTimer"));
    repairTimer_.setInterval(kRepairTimerPeriodMs);
}

MainWindow::~MainWindow() {
    // A window destroyed without ending (a test, say) still lets go of the
    // template file.
    if (!ended_) {
        Finish();
    }
}

template <typename Widget>
Widget* MainWindow::Control(const char* name) const {
    return findChild<Widget*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

void MainWindow::CreateControls() {
    // Creation order is the tab order and, first on top, the stacking order.
    for (const WindowControl& control : kWindowControls) {
        CreateWindowControl(this, control);
    }
    toggleButton_ = Control<QPushButton>("toggleButton");
    statusList_ = Control<StatusList>("statusList");
    currentFileEdit_ = Control<QLineEdit>("currentFileEdit");
    postfixEdit_ = Control<QLineEdit>("postfixEdit");
    baseFileButton_ = Control<QPushButton>("baseFileButton");

    // What a screen reader calls the fields and the list: their captions.
    Control<QLabel>("currentFileLabel")->setBuddy(currentFileEdit_);
    Control<QLabel>("postfixLabel")->setBuddy(postfixEdit_);
    statusList_->setAccessibleName(Control<QGroupBox>("statusGroup")->title());
}

bool MainWindow::EveryTextFits() const {
    for (const QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        const QRect room = label->contentsRect();
        const QRect needed = label->fontMetrics().boundingRect(
            room, static_cast<int>(label->alignment()) | Qt::TextWordWrap, label->text());
        if (!room.contains(needed)) {
            return false;
        }
    }
    for (const QPushButton* button : {toggleButton_, baseFileButton_}) {
        // Room for the wider of the two captions, and the button's frame.
        const QFontMetrics metrics = button->fontMetrics();
        const int caption = std::max({metrics.horizontalAdvance(button->text()),
                                      metrics.horizontalAdvance(DecodeWindows1252(kStopCaption)),
                                      metrics.horizontalAdvance(DecodeWindows1252(kStartCaption))});
        if (caption + kButtonTextMargin > button->width()) {
            return false;
        }
    }
    return true;
}

void MainWindow::ArrangeControls() {
    QWidget* widgets[std::size(kWindowControls)] = {};
    for (std::size_t i = 0; i < std::size(kWindowControls); ++i) {
        widgets[i] = Control<QWidget>(kWindowControls[i].name);
    }
    // The layout scales with the font. Fonts differ in their proportions,
    // so the units grow wider, should the font's words need more room than
    // its average letter suggests, until no text is cut.
    const DialogBaseUnits measured = MeasureDialogBaseUnits(font());
    const auto placeAll = [this, &widgets](const DialogBaseUnits& units) {
        layoutUnits_ = units;
        for (std::size_t i = 0; i < std::size(kWindowControls); ++i) {
            Place(widgets[i], units, kWindowControls[i].place);
        }
    };
    placeAll(measured);
    while (!EveryTextFits() && layoutUnits_.width < 2 * measured.width) {
        placeAll({layoutUnits_.width + kWidthUnitStep, measured.height});
    }
    setFixedSize(DialogSizeToPixels(layoutUnits_, VELMORA_WINDOW_WIDTH, VELMORA_WINDOW_HEIGHT));

    for (auto it = std::rbegin(widgets); it != std::rend(widgets); ++it) {
        (*it)->raise();
    }
    // A group box is only a frame: unlike on Windows it would take the
    // clicks meant for the controls inside it, so it goes to the back.
    Control<QGroupBox>("fileGroup")->lower();
    Control<QGroupBox>("statusGroup")->lower();
    setTabOrder(toggleButton_, currentFileEdit_);
    setTabOrder(currentFileEdit_, postfixEdit_);
    setTabOrder(postfixEdit_, baseFileButton_);
    // The first control that takes the focus while Start is still disabled.
    currentFileEdit_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::ConnectControls() {
    connect(baseFileButton_, &QPushButton::clicked, this,
            [this] { RunEvent([this] { ChooseBaseFile(); }); });
    connect(toggleButton_, &QPushButton::clicked, this,
            [this] { RunEvent([this] { controller_.OnToggle(); }); });
    connect(&repairTimer_, &QTimer::timeout, this, &MainWindow::OnTimerFired);
}

bool MainWindow::Start() {
    bool started = false;
    RunEvent([this, &started] { started = controller_.OnStartup(); });
    if (!started) {
        return false;  // the controller has shown why and asked to end
    }
    // Where the window opens unless a position was saved: the top-left
    // corner of the work area.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().topLeft());
    }
    positionStore_.Restore(*this);
    postfixEdit_->setText(DecodeFileSystemText(controller_.CurrentPostfix()));
    repairTimer_.start();
    return true;
}

template <typename Event>
void MainWindow::RunEvent(Event&& event) {
    ++eventDepth_;
    std::forward<Event>(event)();
    --eventDepth_;
    if (eventDepth_ == 0 && endRequested_) {
        Finish();
    }
}

void MainWindow::ChooseBaseFile() {
    const QString chosen = chooser_.ChooseBaseFile(this);
    if (chosen.isEmpty() || endRequested_) {
        return;  // cancelled: nothing changes
    }
    const QByteArray path = QFile::encodeName(QFileInfo(chosen).absoluteFilePath());
    const qsizetype nameStart = path.lastIndexOf('/') + 1;
    controller_.OnBaseFileChosen(path.left(nameStart).constData(), path.constData() + nameStart);
}

void MainWindow::OnTimerFired() {
    // A timer does not fire again while its own handler is still running,
    // and a tick can stay inside a message box for as long as the user
    // likes. So the tick runs on its own, outside the timer's handler, and
    // further ticks keep arriving meanwhile. Ticks that fall due while one
    // is still waiting to run are merged into it.
    if (tickPending_) {
        return;
    }
    tickPending_ = true;
    QMetaObject::invokeMethod(this, &MainWindow::DeliverTick, Qt::QueuedConnection);
}

void MainWindow::DeliverTick() {
    tickPending_ = false;
    if (ended_) {
        return;
    }
    RunEvent([this] { controller_.OnTick(); });
}

void MainWindow::RequestEnd() {
    if (ended_) {
        return;
    }
    if (!endRequested_) {
        endRequested_ = true;
        positionWhenHidden_ = pos();
        hide();  // gone from the screen at once
    }
    if (eventDepth_ == 0) {
        Finish();
    }
}

void MainWindow::EndClosingDialogs() {
    RequestEnd();
    for (QMessageBox* box : std::as_const(openMessageBoxes_)) {
        box->done(QMessageBox::Ok);
    }
    // The file chooser's dialog belongs to the window.
    for (QDialog* dialog : findChildren<QDialog*>()) {
        if (dialog->isVisible()) {
            dialog->reject();
        }
    }
}

void MainWindow::Finish() {
    if (ended_) {
        return;
    }
    ended_ = true;
    positionStore_.Save(endRequested_ ? positionWhenHidden_ : pos());
    repairTimer_.stop();
    controller_.OnShutdown();
    hide();
    emit ended();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->ignore();  // the window ends through RequestEnd, when no event runs
    RequestEnd();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        RequestEnd();
        return;
    }
    QWidget::keyPressEvent(event);  // Enter outside a button: nothing
}

void MainWindow::ShowError(const char* text) {
    // An ownerless, non-modal box with a loop of its own: the main window
    // keeps taking clicks and ticks while the box waits to be dismissed.
    QMessageBox box;
    box.setObjectName(QStringLiteral("errorBox"));
    box.setWindowTitle(DecodeWindows1252(kWindowCaption));
    box.setTextFormat(Qt::PlainText);
    box.setText(DecodeWindows1252(text));
    box.setIcon(QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::NonModal);
    QEventLoop loop;
    connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
    openMessageBoxes_.append(&box);
    box.show();
    loop.exec();
    openMessageBoxes_.removeOne(&box);
}

void MainWindow::CloseMainWindow() {
    RequestEnd();
}

void MainWindow::ReadPostfixField(char* buffer, std::size_t size) {
    EncodeFileSystemText(postfixEdit_->text(), buffer, std::min(size, kPostfixBufferSize));
}

void MainWindow::SetCurrentFileText(const char* text) {
    currentFileEdit_->setText(DecodeFileSystemText(text));
    currentFileEdit_->setCursorPosition(0);
}

void MainWindow::SetToggleCaption(const char* text) {
    toggleButton_->setText(DecodeWindows1252(text));
}

void MainWindow::EnableToggle() {
    toggleButton_->setEnabled(true);
}

void MainWindow::AppendLogLine(const char* before, const char* name, const char* after) {
    // A name's control characters are shown escaped: a newline in a name
    // must not make a line of its own in the list.
    char shownName[kMaxShownStatusLineLength + 1];
    EscapeControlCharacters(name, shownName, sizeof shownName);
    statusList_->AppendLine(DecodeWindows1252(before) +
                            EscapeLineSeparators(DecodeFileSystemText(shownName)) +
                            DecodeWindows1252(after));
}
