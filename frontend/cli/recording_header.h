// The header template made from a recording: its first pack that carries a
// system header, padded to the template's size. make-header writes it to a
// file; repair and watch with --from-base make each series' own from its
// base file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "header_template.h"
#include "program_stream.h"
#include "series_folder.h"

struct RecordingHeader {
    HeaderPack found;                  // where in the recording, and what
    std::vector<unsigned char> bytes;  // the template
};

// Reads the start of the recording at `path` (a link is followed; only a
// regular file is opened) and builds its template of `size` bytes. False,
// with *message naming `path` and the reason (German, UTF-8), when the file
// cannot be read, is empty, is a transport stream, has no pack with a
// system header in its first MiB, has one cut off by its end, or when
// `size` is too small for the headers. Only the first pack is needed, so a
// recording that is still growing will do.
bool MakeRecordingHeader(const std::string& path, std::size_t size, RecordingHeader* header,
                         std::string* message);

enum class SeriesTemplateResult {
    Made,
    Busy,  // another program holds the base file and lets nobody read it: try again
    None,  // the base file gives none; *message says why
};

// A series' template for repair and watch with --from-base: made from its
// base file `baseName` in the held folder, at the template's largest size,
// as make-header makes it by default. The base file is followed through a
// link only when the link belongs to this user or to its file's owner. No
// file is held.
SeriesTemplateResult MakeSeriesTemplate(const SeriesFolder& folder, const std::string& baseName,
                                        HeaderTemplate* headerTemplate, std::string* message);
