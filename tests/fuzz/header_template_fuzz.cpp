// LoadHeaderTemplate over arbitrary file contents, reported sizes and reads
// that fail or come up short: the result always matches the file, the
// template buffer is never overrun, and the file stays held until released.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "header_template.h"
#include "repair_files.h"

namespace {

constexpr FileHandle kTemplateHandle = 7;

class TemplateFile final : public RepairFiles {
public:
    std::string content;
    bool missing = false;
    std::uint32_t reportedLength = 0;  // FileLength's answer
    bool failRead = false;
    std::uint32_t shortReadBy = 0;
    int opens = 0;
    int closes = 0;

    FileHandle OpenForReading(const char* name) override {
        Require(std::strcmp(name, "header.mpeg") == 0, "the template is header.mpeg");
        if (missing) {
            return kNoFile;
        }
        ++opens;
        return kTemplateHandle;
    }
    FolderHandle HoldFolder(const char*) override {
        Require(false, "loading the template holds no folder");
        return kNoFolder;
    }
    void ReleaseFolder(FolderHandle) override {}
    FileHandle OpenForWriting(FolderHandle, const char*, const char*, OpenFailure*) override {
        Require(false, "loading the template writes nothing");
        return kNoFile;
    }
    std::uint32_t FileLength(FileHandle file) override {
        Require(file == kTemplateHandle, "the length of the open template");
        return reportedLength;
    }
    FileResult ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                         std::uint32_t* bytesRead) override {
        Require(file == kTemplateHandle, "reads from the open template");
        Require(count <= kTemplateMaxLength, "never more than the template buffer holds");
        *bytesRead = 0;
        if (failRead) {
            return {false, 5};
        }
        std::uint32_t n =
            count < content.size() ? count : static_cast<std::uint32_t>(content.size());
        n -= n < shortReadBy ? n : shortReadBy;
        std::memcpy(buffer, content.data(), n);
        *bytesRead = n;
        return {};
    }
    FileResult WriteBytes(FileHandle, const void*, std::uint32_t, std::uint32_t*) override {
        Require(false, "loading the template writes nothing");
        return {false, 0};
    }
    FileResult Rewind(FileHandle) override {
        Require(false, "loading the template reads it once, from its start");
        return {false, 0};
    }
    FileResult FlushFile(FileHandle) override {
        Require(false, "loading the template flushes nothing");
        return {false, 0};
    }
    void CloseFile(FileHandle file) override {
        Require(file == kTemplateHandle, "closes only the template");
        ++closes;
    }
    std::uint32_t MaxPathLength() const override { return 259; }
};

TemplateLoadResult Expected(const TemplateFile& file) {
    if (file.missing) {
        return TemplateLoadResult::NotFound;
    }
    if (file.reportedLength < kTemplateMinLength) {
        return TemplateLoadResult::TooSmall;
    }
    if (file.reportedLength > kTemplateMaxLength) {
        return TemplateLoadResult::TooLarge;
    }
    // One read of exactly the length: it must neither fail nor come up short.
    if (file.failRead) {
        return TemplateLoadResult::ReadFailed;
    }
    std::uint32_t delivered = file.reportedLength < file.content.size()
                                  ? file.reportedLength
                                  : static_cast<std::uint32_t>(file.content.size());
    delivered -= delivered < file.shortReadBy ? delivered : file.shortReadBy;
    return delivered == file.reportedLength ? TemplateLoadResult::Loaded
                                            : TemplateLoadResult::ReadFailed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const std::uint8_t mode = input.Byte();
    const std::uint32_t claimed = input.Long();
    TemplateFile file;
    file.content = input.Rest();
    file.missing = (mode & 0x01) != 0;
    file.failRead = (mode & 0x02) != 0;
    file.shortReadBy = (mode & 0x04) != 0 ? 1 + mode / 8 : 0;
    switch ((mode >> 3) & 0x03) {
    case 0:
        file.reportedLength = static_cast<std::uint32_t>(file.content.size());
        break;
    case 1:
        file.reportedLength = kUnknownLength;  // a size that cannot be told
        break;
    default:
        file.reportedLength = claimed;  // a size that changed under us
        break;
    }

    HeaderTemplate headerTemplate;
    const TemplateLoadResult result = LoadHeaderTemplate(headerTemplate, file);
    Require(result == Expected(file), "the result matches the file");
    if (result == TemplateLoadResult::NotFound) {
        Require(headerTemplate.File() == kNoFile, "no handle when nothing was opened");
    } else {
        Require(headerTemplate.File() == kTemplateHandle,
                "the file stays held whatever the result");
    }
    if (result == TemplateLoadResult::Loaded) {
        Require(headerTemplate.length >= kTemplateMinLength &&
                    headerTemplate.length <= kTemplateMaxLength,
                "a loaded template is 64 to 2048 bytes");
        Require(std::memcmp(headerTemplate.bytes, file.content.data(), headerTemplate.length) == 0,
                "the template is the file's bytes");
    }
    Require(std::strlen(TemplateLoadMessage(result)) < 64, "a short message");
    headerTemplate.ReleaseFile();
    headerTemplate.ReleaseFile();
    Require(file.closes == file.opens, "released exactly once");
    Require(headerTemplate.File() == kNoFile, "no handle after the release");
    return 0;
}
