// The program entry and the main dialog: it turns window messages into the
// controller's events and decides nothing itself.
#include <windows.h>
// commdlg.h needs the declarations of windows.h first.
#include <commdlg.h>

#include <cstddef>

#include "byte_text.h"
#include "dialog_view.h"
#include "repair_controller.h"
#include "resource.h"
#include "win32_repair_files.h"
#include "window_position_store.h"

namespace {

constexpr UINT_PTR kRepairTimerId = 103;

// "All" and "MPEG-PS"; the literal's own zero ends the list.
constexpr char kBaseFileFilter[] = "All\0*.*\0MPEG-PS\0*.mpg\0";
constexpr DWORD kMpegFilterIndex = 2;

// The record as Windows 95 to 2000 knew it (OPENFILENAME_SIZE_VERSION_400A:
// up to lpTemplateName), so every Windows version shows the same dialog.
constexpr DWORD kOpenFileNameSize =
    offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(OPENFILENAMEA::lpTemplateName);
#ifndef _WIN64
static_assert(kOpenFileNameSize == 76);
#endif

DialogView view;
// The ANSI interface, with paths no longer than its buffers; the
// template is held alone, so a second copy started in the same folder is
// refused.
Win32RepairFiles files(Win32FilesOptions{.codePage = kAnsiCodePage,
                                         .longPaths = false,
                                         .headReadWhileHeld = false,
                                         .templateReadableByOthers = false});
RepairController controller(view, files);
WindowPositionStore positionStore;

// The chosen path, kept for the whole run: the next request starts there.
char baseFilePath[MAX_PATH] = "";

// The dialog fills in the whole path and says where its name begins; the
// engine takes the folder (with its closing separator) and the name.
void ReportChosenFile(const char* path, WORD nameOffset) {
    const std::size_t nameStart = BoundedLength(path, nameOffset);
    char folder[MAX_PATH] = "";
    CopyText(folder, sizeof folder, path, nameStart);
    controller.OnBaseFileChosen(folder, path + nameStart);
}

void ChooseBaseFile(HWND dialog) {
    OPENFILENAMEA request = {};
    request.lStructSize = kOpenFileNameSize;
    request.hwndOwner = dialog;
    request.lpstrFilter = kBaseFileFilter;
    request.nFilterIndex = kMpegFilterIndex;
    request.lpstrFile = baseFilePath;
    request.nMaxFile = sizeof baseFilePath;
    request.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    // The dialog may leave the process in the chosen folder, and nobody can
    // rename or delete a process's current folder: the recordings' folder
    // would stay locked after Stop. The program's own folder is kept.
    char current[MAX_PATH] = "";
    const DWORD currentLength = GetCurrentDirectoryA(sizeof current, current);
    const BOOL chosen = GetOpenFileNameA(&request);
    if (currentLength > 0 && currentLength < sizeof current) {
        SetCurrentDirectoryA(current);
    }
    if (chosen) {
        ReportChosenFile(baseFilePath, request.nFileOffset);
    }
}

void OnInitDialog(HWND dialog) {
    view.Attach(dialog);
    if (!controller.OnStartup()) {
        return;  // the controller has shown why and ended the dialog
    }
    positionStore.Restore(dialog);
    view.SetPostfixField(controller.CurrentPostfix());
    SetTimer(dialog, kRepairTimerId, static_cast<UINT>(kRepairTimerPeriodMs), nullptr);
}

void OnCommand(HWND dialog, WORD id) {
    switch (id) {
    case IDCANCEL:
        EndDialog(dialog, 0);
        break;
    case IDC_BASE_FILE:
        ChooseBaseFile(dialog);
        break;
    case IDC_TOGGLE:
        controller.OnToggle();
        break;
    default:
        break;  // IDOK (Enter) and everything else does nothing
    }
}

void OnDestroy(HWND dialog) {
    positionStore.Save(dialog);
    KillTimer(dialog, kRepairTimerId);
    controller.OnShutdown();
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        break;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam));
        break;
    case WM_TIMER:
        if (wParam == kRepairTimerId) {
            controller.OnTick();
        }
        break;
    case WM_DESTROY:
        OnDestroy(dialog);
        break;
    default:
        break;
    }
    // Everything else is the dialog manager's; WM_INITDIALOG leaves the focus
    // to it as well.
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}
