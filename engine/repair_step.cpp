#include "repair_step.h"

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

}  // namespace

RepairResult RepairFollowUpFile(RepairFiles& files, const HeaderTemplate& headerTemplate,
                                FolderHandle folder, const char* name, const char* baseName,
                                Durability durability) {
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
