// The platform's file layer, keeping the system's reason when a read, a
// write or a flush fails, so that the command's message can name it.
#pragma once

#include <cstdint>
#include <string>

#include "cli_files.h"
#include "repair_files.h"

class ReasonKeepingFiles final : public ForwardingFiles {
public:
    using ForwardingFiles::ForwardingFiles;

    bool WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                    std::uint32_t* bytesWritten) override {
        const bool written = ForwardingFiles::WriteBytes(file, bytes, count, bytesWritten);
        if (!written) {
            lastFailure = LastSystemErrorText();
        } else if (*bytesWritten != count) {
            lastFailure = "nur " + std::to_string(*bytesWritten) + " von " + std::to_string(count) +
                          " Byte geschrieben";
        }
        return written;
    }

    // A head read inside the repair's own open (HeadCheck::InsideTheOpen).
    bool ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                   std::uint32_t* bytesRead) override {
        const bool read = ForwardingFiles::ReadBytes(file, buffer, count, bytesRead);
        if (!read) {
            lastFailure = LastSystemErrorText();
        }
        return read;
    }

    bool Rewind(FileHandle file) override {
        const bool rewound = ForwardingFiles::Rewind(file);
        if (!rewound) {
            lastFailure = LastSystemErrorText();
        }
        return rewound;
    }

    bool FlushFile(FileHandle file) override {
        const bool flushed = ForwardingFiles::FlushFile(file);
        if (!flushed) {
            lastFailure = LastSystemErrorText();
        }
        return flushed;
    }

    std::string lastFailure;
};
