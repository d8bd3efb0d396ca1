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

// A series' template for repair and watch with --from-base: made from its
// base file at the template's largest size, as make-header makes it by
// default. No file is held.
bool MakeSeriesTemplate(const std::string& basePath, HeaderTemplate* headerTemplate,
                        std::string* message);
