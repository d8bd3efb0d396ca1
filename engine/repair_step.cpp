#include "repair_step.h"

bool WriteTemplate(RepairFiles& files, const HeaderTemplate& headerTemplate, FileHandle file) {
    std::uint32_t written = 0;
    return files.WriteBytes(file, headerTemplate.bytes, headerTemplate.length, &written) &&
           written == headerTemplate.length;
}

RepairResult RepairFollowUpFile(RepairFiles& files, const HeaderTemplate& headerTemplate,
                                const char* directory, const char* name) {
    OpenFailure failure = OpenFailure::None;
    const FileHandle file = files.OpenForWriting(directory, name, &failure);
    if (file == kNoFile) {
        return failure == OpenFailure::NoExclusivity ? RepairResult::NoExclusivity
                                                     : RepairResult::Unavailable;
    }
    const bool written = WriteTemplate(files, headerTemplate, file);
    if (!written) {
        files.StopWriting(file);
    }
    files.CloseFile(file);
    return written ? RepairResult::Repaired : RepairResult::WriteFailed;
}
