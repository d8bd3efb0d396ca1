#include "repair_step.h"

#include <cstring>
#include <vector>

#include "program_stream.h"

bool WriteTemplate(RepairFiles& files, const HeaderTemplate& headerTemplate, FileHandle file,
                   RepairFailure* failure) {
    std::uint32_t written = 0;
    const FileResult result =
        files.WriteBytes(file, headerTemplate.bytes, headerTemplate.length, &written);
    if (result.ok && written == headerTemplate.length) {
        return true;
    }
    if (failure != nullptr) {
        *failure = {result, written, headerTemplate.length};
    }
    return false;
}

namespace {

// The result of a failed call, kept for the caller when it asked for it.
bool Failed(const FileResult& result, RepairFailure* failure) {
    if (!result.ok && failure != nullptr) {
        failure->call = result;
    }
    return !result.ok;
}

RepairResult ResultOfFailedOpen(OpenFailure failure) {
    switch (failure) {
    case OpenFailure::NoExclusivity:
        return RepairResult::NoExclusivity;
    case OpenFailure::OtherOwner:
        return RepairResult::OtherOwner;
    case OpenFailure::FolderGone:
        return RepairResult::FolderGone;
    case OpenFailure::None:
    case OpenFailure::Unavailable:
        break;
    }
    return RepairResult::Unavailable;
}

// Reads on through `file` until *head holds `wanted` bytes or the file
// ends.
bool ReadOn(RepairFiles& files, FileHandle file, std::size_t wanted,
            std::vector<unsigned char>* head, RepairFailure* failure) {
    while (head->size() < wanted) {
        const std::size_t had = head->size();
        head->resize(wanted);
        std::uint32_t got = 0;
        const FileResult read = files.ReadBytes(file, head->data() + had,
                                                static_cast<std::uint32_t>(wanted - had), &got);
        head->resize(had + (read.ok ? got : 0));
        if (Failed(read, failure)) {
            return false;
        }
        if (got == 0) {
            break;
        }
    }
    return true;
}

// The head of a file held for its repair, read through the repair's own
// handle: as much as the template, more only when a program stream's
// start needs it. Repaired when it is to be written (neither the template
// nor a program stream's start), ReadFailed when it cannot be read.
RepairResult JudgeHeldHead(RepairFiles& files, const HeaderTemplate& headerTemplate,
                           FileHandle file, RepairFailure* failure) {
    std::vector<unsigned char> head;
    if (!ReadOn(files, file, headerTemplate.length, &head, failure)) {
        return RepairResult::ReadFailed;
    }
    if (head.size() == headerTemplate.length &&
        std::memcmp(head.data(), headerTemplate.bytes, head.size()) == 0) {
        return RepairResult::AlreadyRepaired;
    }
    ParseResult start = StartsAsProgramStream(head.data(), head.size());
    if (start == ParseResult::Truncated && head.size() == headerTemplate.length) {
        if (!ReadOn(files, file, kLongestPackAndSystemHeader, &head, failure)) {
            return RepairResult::ReadFailed;
        }
        start = StartsAsProgramStream(head.data(), head.size());
    }
    if (start == ParseResult::Valid) {
        return RepairResult::InOrder;
    }
    // Written from the start, as a freshly opened file would be.
    return Failed(files.Rewind(file), failure) ? RepairResult::ReadFailed : RepairResult::Repaired;
}

}  // namespace

RepairResult RepairFollowUpFile(RepairFiles& files, const HeaderTemplate& headerTemplate,
                                FolderHandle folder, const char* name, const char* baseName,
                                Durability durability, HeadCheck headCheck, RepairFailure* why) {
    OpenFailure failure = OpenFailure::None;
    const FileHandle file = files.OpenForWriting(folder, name, baseName, &failure);
    if (file == kNoFile) {
        return ResultOfFailedOpen(failure);
    }
    // Told by the open file: it may have grown or shrunk since it was looked at.
    if (files.FileLength(file) < headerTemplate.length) {
        files.CloseFile(file);
        return RepairResult::TooShort;
    }
    if (headCheck == HeadCheck::InsideTheOpen) {
        const RepairResult head = JudgeHeldHead(files, headerTemplate, file, why);
        if (head != RepairResult::Repaired) {
            files.CloseFile(file);
            return head;
        }
    }
    const bool written = WriteTemplate(files, headerTemplate, file, why);
    const bool flush = written && durability == Durability::FlushedBeforeReturn;
    if (!written || flush) {
        // Nothing more is written: another program that opens the file now
        // need not wait for a message, nor for the disk.
        files.StopWriting(file);
    }
    const bool flushed = !flush || !Failed(files.FlushFile(file), why);
    files.CloseFile(file);
    if (!written) {
        return RepairResult::WriteFailed;
    }
    return flushed ? RepairResult::Repaired : RepairResult::FlushFailed;
}
