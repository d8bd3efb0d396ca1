// Choosing the base file. The window asks through this interface, so that
// tests can answer without a real dialog.
#pragma once

#include <QString>

class QFileDialog;
class QWidget;

class FileChooser {
public:
    // The full path of the chosen existing file, or an empty string when the
    // user cancelled.
    virtual QString ChooseBaseFile(QWidget* owner) = 0;

protected:
    ~FileChooser() = default;
};

// The file-selection dialog: "All (*)" and "MPEG-PS (*.mpg)", the second
// chosen every time, opening at the previously chosen file.
class DialogFileChooser final : public FileChooser {
public:
    QString ChooseBaseFile(QWidget* owner) override;

    // Sets up a dialog for the next choice; public for the tests.
    void Configure(QFileDialog& dialog) const;

private:
    QString previousChoice_;
};

inline constexpr char kAllFilesFilter[] = "All (*)";
inline constexpr char kMpegFilter[] = "MPEG-PS (*.mpg)";
