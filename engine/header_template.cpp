#include "header_template.h"

#include <cstring>
#include <utility>

#include "byte_text.h"

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

HeaderTemplate::HeaderTemplate(HeaderTemplate&& other) noexcept {
    *this = std::move(other);
}

HeaderTemplate& HeaderTemplate::operator=(HeaderTemplate&& other) noexcept {
    if (this != &other) {
        ReleaseFile();
        std::memcpy(bytes, other.bytes, sizeof bytes);
        length = other.length;
        file_ = std::exchange(other.file_, kNoFile);
        files_ = std::exchange(other.files_, nullptr);
    }
    return *this;
}

void HeaderTemplate::ReleaseFile() {
    if (file_ != kNoFile) {
        files_->CloseFile(file_);
    }
    file_ = kNoFile;
    files_ = nullptr;
}

TemplateLoadResult LoadHeaderTemplate(HeaderTemplate& headerTemplate, RepairFiles& files) {
    return LoadHeaderTemplateFrom(headerTemplate, files, kTemplateFileName);
}

TemplateLoadResult LoadHeaderTemplateFrom(HeaderTemplate& headerTemplate, RepairFiles& files,
                                          const char* fileName) {
    headerTemplate.ReleaseFile();
    headerTemplate.length = 0;
    headerTemplate.file_ = files.OpenForReading(fileName);
    if (headerTemplate.file_ == kNoFile) {
        return TemplateLoadResult::NotFound;
    }
    headerTemplate.files_ = &files;
    // A size that cannot be told is kUnknownLength and so counts as too large.
    const std::uint32_t length = files.FileLength(headerTemplate.file_);
    const TemplateLoadResult sized = ResultOfLength(length);
    if (sized != TemplateLoadResult::Loaded) {
        return sized;
    }
    std::uint32_t bytesRead = 0;
    if (!files.ReadBytes(headerTemplate.file_, headerTemplate.bytes, length, &bytesRead).ok ||
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

namespace {

constexpr auto kTooSmallMessage = JoinTexts(FixedText("Header zu klein! (Minimal "),
                                            DecimalText<kTemplateMinLength>(), FixedText(" Byte)"));
constexpr auto kTooLargeMessage = JoinTexts(FixedText("Header zu gro\xDF! (Maximal "),
                                            DecimalText<kTemplateMaxLength>(), FixedText(" Byte)"));

}  // namespace

const char* TemplateLoadMessage(TemplateLoadResult result) {
    switch (result) {
    case TemplateLoadResult::Loaded:
        return "";
    case TemplateLoadResult::NotFound:
        return "Header Datei nicht gefunden!";
    case TemplateLoadResult::TooSmall:
        return kTooSmallMessage.c_str();
    case TemplateLoadResult::TooLarge:
        return kTooLargeMessage.c_str();
    case TemplateLoadResult::ReadFailed:
        return "Konnte Header Datei nicht lesen!";
    }
    return "";
}
