#include "repair_step.h"

#include <cstring>
#include <vector>

#include "program_stream.h"

bool WriteTemplate(RepairFiles& files, const HeaderTemplate& headerTemplate, FileHandle file) {
    std::uint32_t written = 0;
    return files.WriteBytes(file, headerTemplate.bytes, headerTemplate.length, &written) &&
           written == headerTemplate.length;
}

namespace {

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
            std::vector<unsigned char>* head) {
    while (head->size() < wanted) {
        const std::size_t had = head->size();
        head->resize(wanted);
        std::uint32_t got = 0;
        const bool read = files.ReadBytes(file, head->data() + had,
                                          static_cast<std::uint32_t>(wanted - had), &got);
        head->resize(had + (read ? got : 0));
        if (!read) {
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
                           FileHandle file) {
    std::vector<unsigned char> head;
    if (!ReadOn(files, file, headerTemplate.length, &head)) {
        return RepairResult::ReadFailed;
    }
    if (head.size() == headerTemplate.length &&
        std::memcmp(head.data(), headerTemplate.bytes, head.size()) == 0) {
        return RepairResult::AlreadyRepaired;
    }
    ParseResult start = StartsAsProgramStream(head.data(), head.size());
    if (start == ParseResult::Truncated && head.size() == headerTemplate.length) {
        if (!ReadOn(files, file, kLongestPackAndSystemHeader, &head)) {
            return RepairResult::ReadFailed;
        }
        start = StartsAsProgramStream(head.data(), head.size());
    }
    if (start == ParseResult::Valid) {
        return RepairResult::InOrder;
    }
    // Written from the start, as a freshly opened file would be.
    return files.Rewind(file) ? RepairResult::Repaired : RepairResult::ReadFailed;
}

}  // namespace

RepairResult RepairFollowUpFile(RepairFiles& files, const HeaderTemplate& headerTemplate,
                                FolderHandle folder, const char* name, const char* baseName,
                                Durability durability, HeadCheck headCheck) {
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
        const RepairResult head = JudgeHeldHead(files, headerTemplate, file);
        if (head != RepairResult::Repaired) {
            files.CloseFile(file);
            return head;
        }
    }
    const bool written = WriteTemplate(files, headerTemplate, file);
    const bool flush = written && durability == Durability::FlushedBeforeReturn;
    if (!written || flush) {
        // Nothing more is written: another program that opens the file now
        // need not wait for a message, nor for the disk.
        files.StopWriting(file);
    }
    const bool flushed = !flush || files.FlushFile(file);
    files.CloseFile(file);
    if (!written) {
        return RepairResult::WriteFailed;
    }
    return flushed ? RepairResult::Repaired : RepairResult::FlushFailed;
}
