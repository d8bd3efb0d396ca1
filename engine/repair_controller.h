// The tool's logic: it holds all working state and reacts to the five events
// the front end delivers (start-up, base file chosen, Start/Stop, timer tick,
// shutdown), acting only through RepairView and RepairFiles.
#pragma once

#include <cstdint>

#include "follow_up_name.h"
#include "header_template.h"
#include "repair_files.h"
#include "repair_view.h"
#include "window_layout.h"

// A status line is the follow-up name between two of the texts below, at
// most 287 bytes in all.
inline constexpr std::size_t kMaxStatusLineLength = 287;
// A status line as the windows show it, each control character escaped
// (EscapeControlCharacters): at most four bytes for each byte.
inline constexpr std::size_t kMaxShownStatusLineLength = 4 * kMaxStatusLineLength;

class RepairController {
public:
    RepairController(RepairView& view, RepairFiles& files);
    RepairController(const RepairController&) = delete;
    RepairController& operator=(const RepairController&) = delete;

    // Loads the template. On failure shows why, closes the window and returns false.
    bool OnStartup();

    // A base file was chosen: its folder, as the file layer takes it (ending
    // in a separator, or empty for the current folder), and its name. The
    // series' names split the name at its last dot.
    void OnBaseFileChosen(const char* folder, const char* name);

    void OnToggle();
    void OnTick();
    void OnShutdown();

    const char* CurrentPostfix() const { return postfix_; }

    // Read-only views of the state, for the front ends' tests and benchmarks.
    bool IsRunning() const { return runFlag_; }
    std::uint16_t SequenceCounter() const { return sequenceCounter_; }
    const char* FollowUpName() const { return followUpName_; }
    const char* BaseDirectory() const { return baseDirectory_; }
    const HeaderTemplate& Template() const { return template_; }
    bool HoldsFolder() const { return folder_ != kNoFolder; }

private:
    void SetRunning(bool running);
    void ReportOnce(bool* reported, const char* before, const char* after);
    void FinishFailedRepair(FileHandle file);
    void AdvanceToNextFile();

    RepairView& view_;
    RepairFiles& files_;
    HeaderTemplate template_;
    char baseDirectory_[kNameBufferSize] = "";
    char baseName_[kNameBufferSize] = "";
    std::uint16_t stemLength_ = 0;
    char postfix_[kPostfixBufferSize] = "#";
    std::uint16_t sequenceCounter_ = 1;
    char followUpName_[kNameBufferSize] = "";
    bool runFlag_ = false;
    // Counts chosen base files, so that a tick interrupted by a message box
    // can tell whether a new series was chosen meanwhile.
    std::uint32_t seriesNumber_ = 0;
    bool exclusivityReported_ = false;
    bool otherOwnerReported_ = false;
    // The base file's folder, held while the series runs: its files are
    // opened in the folder that was there when Start was pressed.
    FolderHandle folder_ = kNoFolder;
};

// How often the front end delivers OnTick: five times a second.
inline constexpr int kRepairTimerPeriodMs = 200;

// The caption of the main window and of every message (Windows-1252).
inline constexpr char kWindowCaption[] = VELMORA_WINDOW_CAPTION;

// Texts of the controller (Windows-1252).
inline constexpr char kWriteFailedMessage[] = "Konnte Header Datei nicht schreiben!";
inline constexpr char kNameTooLongMessage[] = "Pfad oder Name der Basis Datei zu lang!";
inline constexpr char kInvalidBaseFileMessage[] = "Ung\xFCltige Basis Datei!";
inline constexpr char kStartCaption[] = VELMORA_START_CAPTION;
inline constexpr char kStopCaption[] = "Stop";
inline constexpr char kStatusPrefix[] = "Header \"";
inline constexpr char kRepairedSuffix[] = "\" restauriert!";
inline constexpr char kNotRepairedSuffix[] = "\" nicht restauriert!";
// Once per series, when the platform cannot tell who else has the file open.
inline constexpr char kNoExclusivityPrefix[] = "Kein Exklusivzugriff: \"";
inline constexpr char kNoExclusivitySuffix[] = "\"";
// Once per series, when a follow-up file belongs to another user than its
// base file: in a folder several users may write, it is never written.
inline constexpr char kOtherOwnerPrefix[] = "Anderer Eigent\xFCmer: \"";

constexpr bool FitsStatusLine(std::size_t beforeSize, std::size_t afterSize) {
    return beforeSize - 1 + kMaxNameLength + afterSize - 1 <= kMaxStatusLineLength;
}
static_assert(FitsStatusLine(sizeof kStatusPrefix, sizeof kNotRepairedSuffix));
static_assert(FitsStatusLine(sizeof kNoExclusivityPrefix, sizeof kNoExclusivitySuffix));
static_assert(FitsStatusLine(sizeof kOtherOwnerPrefix, sizeof kNoExclusivitySuffix));
