#include "repair_step.h"

bool WriteTemplate(RepairFiles& files, const HeaderTemplate& headerTemplate, FileHandle file) {
    std::uint32_t written = 0;
    return files.WriteBytes(file, headerTemplate.bytes, headerTemplate.length, &written) &&
           written == headerTemplate.length;
}

RepairResult RepairFollowUpFile(RepairFiles& files, const HeaderTemplate& headerTemplate,
                                const char* directory, const char* name, Durability durability) {
    OpenFailure failure = OpenFailure::None;
    const FileHandle file = files.OpenForWriting(directory, name, &failure);
    if (file == kNoFile) {
        return failure == OpenFailure::NoExclusivity ? RepairResult::NoExclusivity
                                                     : RepairResult::Unavailable;
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
