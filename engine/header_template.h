// The header template: the bytes written over the start of every follow-up
// file, loaded once from "header.mpeg" and held open until shutdown.
#pragma once

#include <cstdint>

#include "repair_files.h"

inline constexpr std::uint32_t kTemplateMinLength = 64;
inline constexpr std::uint32_t kTemplateMaxLength = 2048;
inline constexpr char kTemplateFileName[] = "header.mpeg";

struct HeaderTemplate {
    unsigned char bytes[kTemplateMaxLength] = {};
    std::uint32_t length = 0;
    FileHandle file = kNoFile;
};

enum class TemplateLoadResult { Loaded, NotFound, TooSmall, TooLarge, ReadFailed };

// Opens "header.mpeg" exclusively and reads it whole. The file stays open
// whatever the result, until ReleaseHeaderTemplate.
TemplateLoadResult LoadHeaderTemplate(HeaderTemplate& headerTemplate, RepairFiles& files);

// The same for a template file of another name (the command-line program's
// --header), resolved as the platform resolves names.
TemplateLoadResult LoadHeaderTemplateFrom(HeaderTemplate& headerTemplate, RepairFiles& files,
                                          const char* fileName);

// The template from bytes read elsewhere (a check that only compares with
// it, and must not hold the file): the same size rules, no file kept.
TemplateLoadResult TemplateFromBytes(HeaderTemplate& headerTemplate, const unsigned char* bytes,
                                     std::uint32_t length);

// Closes the template file if it is open.
void ReleaseHeaderTemplate(HeaderTemplate& headerTemplate, RepairFiles& files);

// The message shown for a failed load (Windows-1252); empty for Loaded.
const char* TemplateLoadMessage(TemplateLoadResult result);
