#include "header_template.h"

#include <cstring>

namespace {

// Both bounds inclusive; the lower one is tested first.
TemplateLoadResult ResultOfLength(std::uint32_t length) {
    if (length < kTemplateMinLength) {
        return TemplateLoadResult::TooSmall;
    }
    if (length > kTemplateMaxLength) {
        return TemplateLoadResult::TooLarge;
    }
    return TemplateLoadResult::Loaded;
}

}  // namespace

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
    const TemplateLoadResult sized = ResultOfLength(length);
    if (sized != TemplateLoadResult::Loaded) {
        return sized;
    }
    std::uint32_t bytesRead = 0;
    if (!files.ReadBytes(headerTemplate.file, headerTemplate.bytes, length, &bytesRead) ||
        bytesRead != length) {
        return TemplateLoadResult::ReadFailed;
    }
    headerTemplate.length = length;
    return TemplateLoadResult::Loaded;
}

TemplateLoadResult TemplateFromBytes(HeaderTemplate& headerTemplate, const unsigned char* bytes,
                                     std::uint32_t length) {
    headerTemplate.length = 0;
    const TemplateLoadResult sized = ResultOfLength(length);
    if (sized == TemplateLoadResult::Loaded) {
        std::memcpy(headerTemplate.bytes, bytes, length);
        headerTemplate.length = length;
    }
    return sized;
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
