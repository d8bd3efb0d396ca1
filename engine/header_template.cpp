#include "header_template.h"

TemplateLoadResult LoadHeaderTemplate(HeaderTemplate& headerTemplate, RepairFiles& files) {
    return LoadHeaderTemplateFrom(headerTemplate, files, kTemplateFileName);
}

TemplateLoadResult LoadHeaderTemplateFrom(HeaderTemplate& headerTemplate, RepairFiles& files,
                                          const char* fileName) {
    headerTemplate.length = 0;
    headerTemplate.file = files.OpenForReading(fileName);
    if (headerTemplate.file == kNoFile) {
        return TemplateLoadResult::NotFound;
    }
    // A size that cannot be told is 0xFFFFFFFF and so counts as too large.
    const std::uint32_t length = files.FileLength(headerTemplate.file);
    if (length < kTemplateMinLength) {
        return TemplateLoadResult::TooSmall;
    }
    if (length > kTemplateMaxLength) {
        return TemplateLoadResult::TooLarge;
    }
    std::uint32_t bytesRead = 0;
    if (!files.ReadBytes(headerTemplate.file, headerTemplate.bytes, length, &bytesRead) ||
        bytesRead != length) {
        return TemplateLoadResult::ReadFailed;
    }
    headerTemplate.length = length;
    return TemplateLoadResult::Loaded;
}

void ReleaseHeaderTemplate(HeaderTemplate& headerTemplate, RepairFiles& files) {
    if (headerTemplate.file != kNoFile) {
        files.CloseFile(headerTemplate.file);
        headerTemplate.file = kNoFile;
    }
}

const char* TemplateLoadMessage(TemplateLoadResult result) {
    switch (result) {
    case TemplateLoadResult::Loaded:
        return "";
    case TemplateLoadResult::NotFound:
        return "Header Datei nicht gefunden!";
    case TemplateLoadResult::TooSmall:
        return "Header zu klein! (Minimal 64 Byte)";
    case TemplateLoadResult::TooLarge:
        return "Header zu gro\xDF! (Maximal 2048 Byte)";
    case TemplateLoadResult::ReadFailed:
        return "Konnte Header Datei nicht lesen!";
    }
    return "";
}
