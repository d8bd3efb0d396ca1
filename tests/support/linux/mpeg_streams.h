// Real MPEG streams for the tests: shell commands (ffmpeg makes recordings),
// ffprobe's view of a file, and slices of a recording's bytes.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "test_files.h"

struct ShellRun {
    int status = -1;  // the exit code, -1 when it did not end normally
    std::string out;
};

// Where a shell command's messages (its standard error) go: dropped, or into
// `out` after its output (to tell why ffmpeg failed).
enum class ShellMessages { Dropped, Kept };

// A shell command's standard output and exit code.
inline ShellRun RunShell(const std::string& command,
                         ShellMessages messages = ShellMessages::Dropped) {
    ShellRun result;
    const char* redirect = messages == ShellMessages::Dropped ? " 2>/dev/null" : " 2>&1";
    FILE* pipe = popen((command + redirect).c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// What ffprobe makes of a file: its container format and the codec of each
// stream, e.g. "format_name=mpeg video=mpeg2video audio=mp2"; empty when it
// fails. Its messages are dropped (its decoder complains about a recording
// cut in the middle of a picture).
inline std::string Probe(const std::string& path) {
    const ShellRun probe = RunShell(
        "ffprobe -v error -show_entries format=format_name:stream=codec_type,codec_name "
        "-of default=noprint_wrappers=1 '" +
        path + "'");
    if (probe.status != 0) {
        return "";
    }
    std::string format;
    std::string codec;
    std::string streams;
    std::size_t start = 0;
    while (start < probe.out.size()) {
        const std::size_t end = std::min(probe.out.find('\n', start), probe.out.size());
        const std::string line = probe.out.substr(start, end - start);
        if (line.rfind("format_name=", 0) == 0) {
            format = line;
        } else if (line.rfind("codec_name=", 0) == 0) {
            codec = line.substr(11);
        } else if (line.rfind("codec_type=", 0) == 0) {
            streams += " " + line.substr(11) + "=" + codec;
        }
        start = end + 1;
    }
    return format + streams;
}

// The bytes [from, to) of a recording.
inline Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}
