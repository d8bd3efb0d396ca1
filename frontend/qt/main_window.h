// The one window of the program. It routes the user's actions and the
// repair timer to the controller, and carries out the controller's view
// operations on its widgets.
#pragma once

#include <QList>
#include <QPoint>
#include <QTimer>
#include <QWidget>

#include "dialog_units.h"
#include "repair_controller.h"
#include "repair_files.h"
#include "repair_view.h"
#include "window_layout.h"
#include "window_position_store.h"

class FileChooser;
class QIcon;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class StatusList;

class MainWindow final : public QWidget, public RepairView {
    Q_OBJECT

public:
    MainWindow(RepairFiles& files, FileChooser& chooser);
    ~MainWindow() override;

    // Loads the template and, when that worked, restores the position, shows
    // the postfix and starts the repair timer. False when the program must
    // end: the reason was shown and the window has already ended.
    bool Start();

    const RepairController& Controller() const { return controller_; }
    // The dialog base units the controls were placed with.
    const DialogBaseUnits& LayoutUnits() const { return layoutUnits_; }

    // RepairView
    void ShowError(const char* text) override;
    void CloseMainWindow() override;
    void ReadPostfixField(char* buffer, std::size_t size) override;
    void SetCurrentFileText(const char* text) override;
    void SetToggleCaption(const char* text) override;
    void EnableToggle() override;
    void AppendLogLine(const char* before, const char* name, const char* after) override;

public slots:
    // Ends the window now unless an event is still running, in which case
    // it ends as soon as that event returns.
    void RequestEnd();
    // Ends the window as RequestEnd does, and first closes every dialog it
    // has open, so that the events waiting in them return and the window
    // ends at once, not when the user answers.
    void EndClosingDialogs();

signals:
    // The window has ended: position saved, timer stopped, template released.
    void ended();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    template <typename Widget>
    Widget* Control(const char* name) const;
    void ArrangeControls();
    bool EveryTextFits() const;
    void ConnectControls();

    void ChooseBaseFile();
    void OnTimerFired();
    void DeliverTick();

    // Runs one event of the controller. Events nest while a message box or
    // the file chooser is open; the window ends only after the outermost one.
    template <typename Event>
    void RunEvent(Event&& event);
    void Finish();

    FileChooser& chooser_;
    RepairController controller_;
    WindowPositionStore positionStore_;
    QTimer repairTimer_;
    DialogBaseUnits layoutUnits_;

    // The controls the window works with; the others only show their text.
    QPushButton* toggleButton_ = nullptr;
    StatusList* statusList_ = nullptr;
    QLineEdit* currentFileEdit_ = nullptr;
    QLineEdit* postfixEdit_ = nullptr;
    QPushButton* baseFileButton_ = nullptr;

    // The message boxes open now, the innermost last.
    QList<QMessageBox*> openMessageBoxes_;
    int eventDepth_ = 0;
    bool tickPending_ = false;
    bool endRequested_ = false;
    bool ended_ = false;
    QPoint positionWhenHidden_;
};

// The program's icon: built in when the build had it, else from the icon
// theme, where the installed program puts it.
QIcon ApplicationIcon();
