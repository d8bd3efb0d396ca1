// What the engine asks of the window. Texts are zero-terminated byte strings:
// the program's own in Windows-1252, file names in the file system's encoding.
#pragma once

#include <cstddef>

class RepairView {
public:
    // A message box captioned "Velmora" with OK only. Returns when dismissed;
    // until then the window stays usable and further events may run nested.
    virtual void ShowError(const char* text) = 0;

    // Ends the window once the outermost running event has returned.
    virtual void CloseMainWindow() = 0;

    // Copies the postfix field's text into buffer, at most size - 1 bytes,
    // always zero-terminated.
    virtual void ReadPostfixField(char* buffer, std::size_t size) = 0;

    virtual void SetCurrentFileText(const char* text) = 0;
    virtual void SetToggleCaption(const char* text) = 0;
    virtual void EnableToggle() = 0;

    // Adds a line at the end of the status list and brings it into view: the
    // program's words before and after a file name, which the window shows
    // with its control characters escaped. At most kMaxStatusLineLength
    // bytes in all.
    virtual void AppendLogLine(const char* before, const char* name, const char* after) = 0;

protected:
    ~RepairView() = default;
};
