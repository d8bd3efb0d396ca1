// A new file written whole by the command-line program (make-header's
// template), never through a link and never over anything but a regular
// file. One implementation per platform.
#pragma once

#include <cstddef>
#include <string>

enum class CreateFileResult { Created, Exists, NotAFile, Failed };

// What is at a path that holds no regular file.
enum class NotAFileKind { Folder, Link, Device, Fifo, Socket };

// Writes `bytes` into a new file at `path`. An existing regular file is left
// alone (Exists) unless `replace`, and then it is replaced whole, never
// written through a link. Anything else there (a folder, a link, a device,
// a FIFO, a socket) is never replaced: NotAFile, with *kind saying what it
// is. *error holds the system's reason on Failed.
CreateFileResult CreateNewFile(const char* path, const unsigned char* bytes, std::size_t size,
                               bool replace, NotAFileKind* kind, std::string* error);
