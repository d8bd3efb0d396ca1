#include "follow_up_outcome.h"

#include <cstring>
#include <vector>

#include "cli_command.h"
#include "file_reads.h"
#include "program_stream.h"
#include "repair_controller.h"
#include "repair_step.h"
#include "system_text.h"

namespace {

constexpr char kHeldOrReadOnly[] =
    "von einem anderen Programm ge\xC3\xB6"
    "ffnet oder schreibgesch\xC3\xBCtzt";

std::string NotRepaired(const std::string& name, const std::string& why) {
    return kStatusPrefix + NameAsText(name) + "\" nicht restauriert! (" + why + ")";
}

std::string Quoted(const char* before, const std::string& name, const char* after) {
    return FromWindows1252(before) + NameAsText(name) + after;
}

// Whether the start of a file as long as the template, or longer, is a
// program stream's; a system header longer than the template's bytes is
// read on from the file.
bool StartsInOrder(const SeriesFolder& folder, const std::string& name, const unsigned char* head,
                   std::size_t count, std::size_t asked) {
    const ParseResult start = StartsAsProgramStream(head, count);
    if (start != ParseResult::Truncated || count < asked) {
        return start == ParseResult::Valid;
    }
    std::vector<unsigned char> longer(kLongestPackAndSystemHeader);
    std::size_t longerCount = 0;
    return ReadFileStartIn(folder.handle, folder.path, name.c_str(), LinkRule::NeverFollow,
                           longer.data(), longer.size(), &longerCount) == ReadHeadResult::Read &&
           StartsAsProgramStream(longer.data(), longerCount) == ParseResult::Valid;
}

}  // namespace

FindingReport ReportOf(Finding finding, const std::string& name, const std::string& reason) {
    switch (finding) {
    case Finding::Missing:
        return {FindingKind::Ignored, ""};
    case Finding::NotAFile:
        return {FindingKind::Ignored,
                NotRepaired(name, "keine gew\xC3\xB6hnliche Datei oder ein Link")};
    case Finding::Empty:
        return {FindingKind::Waits, NotRepaired(name, "leer")};
    case Finding::TooShort:
        return {FindingKind::Waits, NotRepaired(name, "k\xC3\xBCrzer als der Header")};
    case Finding::Busy:
        return {FindingKind::Waits, NotRepaired(name, kHeldOrReadOnly)};
    case Finding::Unreadable:
        return {FindingKind::Failed, NotRepaired(name, "nicht lesbar: " + reason)};
    case Finding::AlreadyRepaired:
        return {FindingKind::Done, kStatusPrefix + NameAsText(name) + "\" bereits restauriert"};
    case Finding::InOrder:
        return {FindingKind::Done, kStatusPrefix + NameAsText(name) + "\" bereits in Ordnung"};
    case Finding::NeedsRepair:
        break;  // a look's finding, never a report's
    case Finding::Repaired:
        return {FindingKind::Done, Quoted(kStatusPrefix, name, kRepairedSuffix)};
    case Finding::NoExclusivity:
        return {FindingKind::Refused, Quoted(kNoExclusivityPrefix, name, kNoExclusivitySuffix)};
    case Finding::OtherOwner:
        return {FindingKind::Refused, Quoted(kOtherOwnerPrefix, name, kNoExclusivitySuffix)};
    case Finding::FolderGone:
        return {FindingKind::Waits, NotRepaired(name, "Ordner nicht mehr da")};
    case Finding::WriteFailed:
        return {FindingKind::Failed,
                FromWindows1252(kWriteFailedMessage) + " \"" + NameAsText(name) + "\": " + reason};
    case Finding::FlushFailed:
        return {FindingKind::Failed,
                "Header von \"" + NameAsText(name) +
                    "\" nicht auf den Datentr\xC3\xA4ger geschrieben: " + reason};
    }
    return {FindingKind::Failed, NotRepaired(name, "?")};
}

Finding LookAtFollowUpFile(const SeriesFolder& folder, const std::string& name,
                           const HeaderTemplate& headerTemplate, std::string* reason) {
    unsigned char head[kTemplateMaxLength];
    std::size_t count = 0;
    switch (ReadFileStartIn(folder.handle, folder.path, name.c_str(), LinkRule::NeverFollow, head,
                            headerTemplate.length, &count)) {
    case ReadHeadResult::Missing:
        return Finding::Missing;
    case ReadHeadResult::NotAFile:
        return Finding::NotAFile;
    case ReadHeadResult::Busy:
        return Finding::Busy;
    case ReadHeadResult::Failed:
        *reason = LastSystemErrorText();
        return Finding::Unreadable;
    case ReadHeadResult::Read:
        break;
    }
    if (count == 0) {
        return Finding::Empty;
    }
    if (count == headerTemplate.length && std::memcmp(head, headerTemplate.bytes, count) == 0) {
        return Finding::AlreadyRepaired;
    }
    // A sound recording keeps its own first pack, whatever the template.
    if (StartsInOrder(folder, name, head, count, headerTemplate.length)) {
        return Finding::InOrder;
    }
    return count < headerTemplate.length ? Finding::TooShort : Finding::NeedsRepair;
}

namespace {

// The words for a failed repair: the system's reason, or how much of the
// template a write took when it took only part without a system error.
std::string FailureText(const RepairFailure& failure) {
    if (failure.call.ok) {
        return "nur " + std::to_string(failure.bytesWritten) + " von " +
               std::to_string(failure.bytesAsked) + " Byte geschrieben";
    }
    return SystemErrorText(failure.call.systemError);
}

Finding RepairWithHeadCheck(RepairFiles& files, const SeriesFolder& folder, const std::string& name,
                            const std::string& baseName, const HeaderTemplate& headerTemplate,
                            Durability durability, HeadCheck headCheck, std::string* reason) {
    RepairFailure failure;
    switch (RepairFollowUpFile(files, headerTemplate, folder.handle, name.c_str(), baseName.c_str(),
                               durability, headCheck, &failure)) {
    case RepairResult::Repaired:
        return Finding::Repaired;
    case RepairResult::AlreadyRepaired:
        return Finding::AlreadyRepaired;
    case RepairResult::InOrder:
        return Finding::InOrder;
    case RepairResult::ReadFailed:
        *reason = FailureText(failure);
        return Finding::Unreadable;
    case RepairResult::Unavailable:
        return Finding::Busy;
    case RepairResult::NoExclusivity:
        return Finding::NoExclusivity;
    case RepairResult::OtherOwner:
        return Finding::OtherOwner;
    case RepairResult::FolderGone:
        return Finding::FolderGone;
    case RepairResult::TooShort:
        return Finding::TooShort;
    case RepairResult::WriteFailed:
        *reason = FailureText(failure);
        return Finding::WriteFailed;
    case RepairResult::FlushFailed:
        *reason = FailureText(failure);
        return Finding::FlushFailed;
    }
    return Finding::WriteFailed;
}

#ifdef _WIN32
// What the attributes tell of a file that may wait on a recorder: NeedsRepair
// only means that its head is to be judged inside the exclusive open.
Finding LookAtAttributes(const SeriesFolder& folder, const std::string& name,
                         const HeaderTemplate& headerTemplate, std::string* reason) {
    std::uint64_t size = 0;
    switch (LookAtFileIn(folder.path, name.c_str(), &size)) {
    case AttributesLook::Missing:
        return Finding::Missing;
    case AttributesLook::NotAFile:
        return Finding::NotAFile;
    case AttributesLook::Failed:
        *reason = LastSystemErrorText();
        return Finding::Unreadable;
    case AttributesLook::ReadOnly:
        // Nobody records into a read-only file: its head may be read.
        return LookAtFollowUpFile(folder, name, headerTemplate, reason);
    case AttributesLook::Regular:
        break;
    }
    if (size == 0) {
        return Finding::Empty;
    }
    return size < headerTemplate.length ? Finding::TooShort : Finding::NeedsRepair;
}
#endif

}  // namespace

Finding RepairFollowUpFileIn(RepairFiles& files, const SeriesFolder& folder,
                             const std::string& name, const std::string& baseName,
                             const HeaderTemplate& headerTemplate, Durability durability,
                             std::string* reason) {
    // Judged again inside the exclusive open: the file may have changed
    // since its look.
    return RepairWithHeadCheck(files, folder, name, baseName, headerTemplate, durability,
                               HeadCheck::InsideTheOpen, reason);
}

Finding LookAndRepairWaitingFile(RepairFiles& files, const SeriesFolder& folder,
                                 const std::string& name, const std::string& baseName,
                                 const HeaderTemplate& headerTemplate, std::string* reason) {
#ifdef _WIN32
    const Finding finding = LookAtAttributes(folder, name, headerTemplate, reason);
    const HeadCheck headCheck = HeadCheck::InsideTheOpen;
#else
    // Reading disturbs nobody on Linux; the head is judged again under the lease.
    const Finding finding = LookAtFollowUpFile(folder, name, headerTemplate, reason);
    const HeadCheck headCheck = HeadCheck::InsideTheOpen;
#endif
    if (finding != Finding::NeedsRepair) {
        return finding;
    }
    // Its line is printed only once its head is on the disk.
    return RepairWithHeadCheck(files, folder, name, baseName, headerTemplate,
                               Durability::FlushedBeforeReturn, headCheck, reason);
}
