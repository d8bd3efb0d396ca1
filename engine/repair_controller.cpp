#include "repair_controller.h"

#include <cstring>

#include "byte_text.h"
#include "repair_step.h"

RepairController::RepairController(RepairView& view, RepairFiles& files)
    : view_(view), files_(files) {}

bool RepairController::OnStartup() {
    const TemplateLoadResult result = LoadHeaderTemplate(template_, files_);
    if (result == TemplateLoadResult::Loaded) {
        return true;
    }
    view_.ShowError(TemplateLoadMessage(result));
    view_.CloseMainWindow();
    return false;
}

void RepairController::OnBaseFileChosen(const char* folder, const char* name) {
    // Everything is checked before any state changes: a refused choice leaves
    // the tool as a cancelled one does.
    const std::size_t folderLength = BoundedLength(folder, kNameBufferSize);
    const std::size_t nameLength = BoundedLength(name, kNameBufferSize);
    if (folderLength + nameLength > kMaxNameLength) {
        view_.ShowError(kNameTooLongMessage);
        return;
    }
    if (nameLength == 0) {
        view_.ShowError(kInvalidBaseFileMessage);
        return;
    }
    char postfix[kPostfixBufferSize] = "";
    view_.ReadPostfixField(postfix, sizeof postfix);
    postfix[kMaxPostfixLength] = '\0';

    const std::size_t longestName = MaxFollowUpNameLength(name, postfix);
    if (longestName > kMaxNameLength || folderLength + longestName > files_.MaxPathLength()) {
        view_.ShowError(kNameTooLongMessage);
        return;
    }

    CopyText(baseDirectory_, sizeof baseDirectory_, folder, folderLength);
    CopyText(baseName_, sizeof baseName_, name, nameLength);
    sequenceCounter_ = 1;
    stemLength_ = StemLengthOfName(baseName_);
    CopyText(postfix_, sizeof postfix_, postfix, kMaxPostfixLength);
    BuildFollowUpName(baseName_, stemLength_, postfix_, sequenceCounter_, followUpName_,
                      sizeof followUpName_);
    view_.SetCurrentFileText(followUpName_);
    view_.SetToggleCaption(kStartCaption);
    view_.EnableToggle();
    SetRunning(false);
    ++seriesNumber_;
    exclusivityReported_ = false;
    otherOwnerReported_ = false;
}

void RepairController::OnToggle() {
    SetRunning(!runFlag_);
    view_.SetToggleCaption(runFlag_ ? kStopCaption : kStartCaption);
}

void RepairController::SetRunning(bool running) {
    runFlag_ = running;
    if (running && folder_ == kNoFolder) {
        folder_ = files_.HoldFolder(baseDirectory_);  // none yet: tried again on each tick
    } else if (!running && folder_ != kNoFolder) {
        files_.ReleaseFolder(folder_);
        folder_ = kNoFolder;
    }
}

void RepairController::ReportOnce(bool* reported, const char* before, const char* after) {
    if (!*reported) {
        *reported = true;
        view_.AppendLogLine(before, followUpName_, after);
    }
}

void RepairController::OnTick() {
    if (!runFlag_) {
        return;
    }
    // A folder missing at Start is waited for like a missing file.
    if (folder_ == kNoFolder && (folder_ = files_.HoldFolder(baseDirectory_)) == kNoFolder) {
        return;
    }
    OpenFailure failure = OpenFailure::None;
    const FileHandle file = files_.OpenForWriting(folder_, followUpName_, baseName_, &failure);
    if (file == kNoFile) {
        if (failure == OpenFailure::NoExclusivity) {
            ReportOnce(&exclusivityReported_, kNoExclusivityPrefix, kNoExclusivitySuffix);
        } else if (failure == OpenFailure::OtherOwner) {
            ReportOnce(&otherOwnerReported_, kOtherOwnerPrefix, kNoExclusivitySuffix);
        }
        return;
    }
    if (WriteTemplate(files_, template_, file)) {
        view_.AppendLogLine(kStatusPrefix, followUpName_, kRepairedSuffix);
        files_.CloseFile(file);
        AdvanceToNextFile();
        return;
    }
    FinishFailedRepair(file);
}

void RepairController::FinishFailedRepair(FileHandle file) {
    // The message box runs nested events: ticks (which find this file held
    // and return), Start/Stop, even a new base file. Keep what this tick
    // worked on.
    char name[kNameBufferSize];
    CopyText(name, sizeof name, followUpName_, kMaxNameLength);
    const std::uint32_t series = seriesNumber_;

    // The message may stay open for minutes; nobody waits on this file
    // meanwhile.
    files_.StopWriting(file);
    view_.ShowError(kWriteFailedMessage);
    SetRunning(false);
    view_.SetToggleCaption(kStartCaption);
    view_.AppendLogLine(kStatusPrefix, name, kNotRepairedSuffix);
    files_.CloseFile(file);
    // A series chosen while the message was open starts at its first file,
    // which this tick has not dealt with.
    if (series == seriesNumber_) {
        AdvanceToNextFile();
    }
}

void RepairController::OnShutdown() {
    SetRunning(false);
    template_.ReleaseFile();
}

void RepairController::AdvanceToNextFile() {
    ++sequenceCounter_;  // 16 bits: 65535 wraps to 0
    BuildFollowUpName(baseName_, stemLength_, postfix_, sequenceCounter_, followUpName_,
                      sizeof followUpName_);
    view_.SetCurrentFileText(followUpName_);
}
