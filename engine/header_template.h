// The header template: the bytes written over the start of every follow-up
// file, loaded once from "header.mpeg" and held open until shutdown.
//
// A loaded template owns the file it was read from: the file stays open
// (and so locked against other writers) until the template is destroyed or
// ReleaseFile is called, and it moves with the template. The file layer that
// opened it must outlive it.
#pragma once

#include <cstdint>

#include "repair_files.h"

inline constexpr std::uint32_t kTemplateMinLength = 64;
inline constexpr std::uint32_t kTemplateMaxLength = 2048;
inline constexpr char kTemplateFileName[] = "header.mpeg";

enum class TemplateLoadResult { Loaded, NotFound, TooSmall, TooLarge, ReadFailed };

class HeaderTemplate {
public:
    HeaderTemplate() = default;
    ~HeaderTemplate() { ReleaseFile(); }
    HeaderTemplate(const HeaderTemplate&) = delete;
    HeaderTemplate& operator=(const HeaderTemplate&) = delete;
    HeaderTemplate(HeaderTemplate&& other) noexcept;
    HeaderTemplate& operator=(HeaderTemplate&& other) noexcept;

    // The template file while it is held; kNoFile when none is.
    FileHandle File() const { return file_; }

    // Closes the template file now (so that it can be opened again); the
    // bytes stay.
    void ReleaseFile();

    unsigned char bytes[kTemplateMaxLength] = {};
    std::uint32_t length = 0;

private:
    friend TemplateLoadResult LoadHeaderTemplateFrom(HeaderTemplate& headerTemplate,
                                                     RepairFiles& files, const char* fileName);
    FileHandle file_ = kNoFile;
    RepairFiles* files_ = nullptr;  // the layer that opened file_
};

// Opens "header.mpeg" exclusively and reads it whole. The file stays open
// whatever the result, held by the template (a file it held before is
// closed first).
TemplateLoadResult LoadHeaderTemplate(HeaderTemplate& headerTemplate, RepairFiles& files);

// The same for a template file of another name (the command-line program's
// --header), resolved as the platform resolves names.
TemplateLoadResult LoadHeaderTemplateFrom(HeaderTemplate& headerTemplate, RepairFiles& files,
                                          const char* fileName);

// The template from bytes read elsewhere (a check that only compares with
// it, and must not hold the file): the same size rules, no file kept.
TemplateLoadResult TemplateFromBytes(HeaderTemplate& headerTemplate, const unsigned char* bytes,
                                     std::uint32_t length);

// The message shown for a failed load (Windows-1252); empty for Loaded.
const char* TemplateLoadMessage(TemplateLoadResult result);
