// velmora-cli.exe run as a process for the Windows tests and the Windows
// benchmark (run under Wine): to its end (its exit code and what it printed),
// or started with its output on a pipe that is read until a line comes; and
// the files they write and read. Nothing here needs GoogleTest.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "code_pages.h"

struct CliRun {
    long exitCode = -1;  // -1: it did not start or did not end in time
    std::string output;  // standard output and error, as they came
};

// The build hands paths over in Unix form; Wine has them on Z:.
inline std::string WinePath(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

inline std::string CliPath() {
    return WinePath(VELMORA_CLI);
}

inline std::string ReadAll(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    return text;
}

// velmora-cli.exe started with `arguments` in `folder`, its output through
// a pipe, on this test's console.
struct StartedCli {
    HANDLE process = nullptr;
    HANDLE output = nullptr;  // the pipe's read end
};

// velmora-cli.exe started with `arguments` in `folder`, writing to the
// inheritable handles `out` and `err`. The command line goes over as
// UTF-16, as a shell hands it over.
inline HANDLE StartCliWriting(const std::wstring& arguments, const std::string& folder, HANDLE out,
                              HANDLE err) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    const std::wstring exe = FromAnsi(CliPath());
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        FromAnsi(folder).c_str(), &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

inline HANDLE StartCliWriting(const std::string& arguments, const std::string& folder, HANDLE out,
                              HANDLE err) {
    return StartCliWriting(FromAnsi(arguments), folder, out, err);
}

// A pipe whose write end the program inherits; false when there is none.
inline bool MakePipe(HANDLE* readEnd, HANDLE* writeEnd) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(readEnd, writeEnd, &inherit, 0)) {
        return false;
    }
    SetHandleInformation(*readEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}

inline StartedCli StartCli(const std::wstring& arguments, const std::string& folder) {
    StartedCli started;
    HANDLE writeEnd = nullptr;
    if (!MakePipe(&started.output, &writeEnd)) {
        return started;
    }
    started.process = StartCliWriting(arguments, folder, writeEnd, writeEnd);
    CloseHandle(writeEnd);
    return started;
}

// Waits for the program's end and reads what it printed.
inline CliRun FinishCli(StartedCli started) {
    CliRun run;
    if (started.process != nullptr) {
        run.output = ReadAll(started.output);
        DWORD code = 0;
        if (WaitForSingleObject(started.process, 30000) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(started.process, &code)) {
            run.exitCode = static_cast<long>(code);
        }
        CloseHandle(started.process);
    }
    if (started.output != nullptr) {
        CloseHandle(started.output);
    }
    return run;
}

inline StartedCli StartCli(const std::string& arguments, const std::string& folder) {
    return StartCli(FromAnsi(arguments), folder);
}

inline CliRun RunCli(const std::wstring& arguments, const std::string& folder) {
    return FinishCli(StartCli(arguments, folder));
}

inline CliRun RunCli(const std::string& arguments, const std::string& folder) {
    return FinishCli(StartCli(arguments, folder));
}

// A run's standard output and standard error apart.
struct CliRunApart {
    long exitCode = -1;  // -1: it did not start or did not end in time (then ended by force)
    std::string out;
    std::string err;
};

inline CliRunApart RunCliApart(const std::wstring& arguments, const std::string& folder,
                               DWORD timeoutMs = 30000) {
    CliRunApart run;
    HANDLE out = nullptr;
    HANDLE outWriter = nullptr;
    HANDLE err = nullptr;
    HANDLE errWriter = nullptr;
    if (!MakePipe(&out, &outWriter)) {
        return run;
    }
    if (MakePipe(&err, &errWriter)) {
        const HANDLE process = StartCliWriting(arguments, folder, outWriter, errWriter);
        CloseHandle(errWriter);
        CloseHandle(outWriter);
        outWriter = nullptr;
        DWORD code = 0;
        if (process != nullptr) {
            if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0 &&
                GetExitCodeProcess(process, &code)) {
                run.exitCode = static_cast<long>(code);
            } else {
                TerminateProcess(process, 99);
                WaitForSingleObject(process, 10000);
            }
            CloseHandle(process);
        }
        run.err = ReadAll(err);
        CloseHandle(err);
    }
    if (outWriter != nullptr) {
        CloseHandle(outWriter);
    }
    run.out = ReadAll(out);
    CloseHandle(out);
    return run;
}

// Reads what the running program prints into *text until `expected` is in
// it; false when the program ended first or timeoutMs passed. With INFINITE
// it waits on the pipe itself, so that a line is seen the moment it comes.
inline bool WaitForOutput(HANDLE pipe, const std::string& expected, DWORD timeoutMs,
                          std::string* text) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (text->find(expected) == std::string::npos) {
        DWORD available = 0;
        if (timeoutMs != INFINITE &&
            !PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            return false;  // the program has ended
        }
        if (timeoutMs == INFINITE || available > 0) {
            char buffer[4096];
            DWORD got = 0;
            const DWORD wanted =
                timeoutMs == INFINITE ? sizeof buffer : std::min<DWORD>(available, sizeof buffer);
            if (!ReadFile(pipe, buffer, wanted, &got, nullptr) || got == 0) {
                return false;
            }
            text->append(buffer, got);
        } else if (GetTickCount64() > end) {
            return false;
        } else {
            Sleep(5);
        }
    }
    return true;
}

inline std::vector<unsigned char> Pattern(std::size_t size, unsigned seed) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>((i * 7 + seed * 13) & 0xFF);
    }
    return bytes;
}

// A path as Windows takes it whatever its length: "\\?\" in front of an
// absolute one.
inline std::wstring LongPath(const std::wstring& path) {
    return path.rfind(L"\\\\", 0) == 0 || path.size() < 3 || path[1] != L':' ? path
                                                                             : L"\\\\?\\" + path;
}

// Writes all of `bytes` to the open file; false when any is missing.
[[nodiscard]] inline bool WriteAll(HANDLE file, const std::vector<unsigned char>& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Creates or replaces the file, shared with nobody while it is written;
// true when every byte was written.
[[nodiscard]] inline bool WriteWhole(const std::wstring& path,
                                     const std::vector<unsigned char>& bytes) {
    const HANDLE file =
        CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool written = WriteAll(file, bytes);
    CloseHandle(file);
    return written;
}

[[nodiscard]] inline bool WriteWhole(const std::string& path,
                                     const std::vector<unsigned char>& bytes) {
    return WriteWhole(FromAnsi(path), bytes);
}

inline std::vector<unsigned char> ReadWhole(const std::wstring& path, std::size_t limit = 4096) {
    std::vector<unsigned char> bytes(limit);
    const HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    if (file != INVALID_HANDLE_VALUE) {
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
        CloseHandle(file);
    }
    bytes.resize(got);
    return bytes;
}

inline std::vector<unsigned char> ReadWhole(const std::string& path, std::size_t limit = 4096) {
    return ReadWhole(FromAnsi(path), limit);
}

// A file watch has just repaired, read once it lets go of it: when the
// repair's write is reported, it looks at the head once more, inside an
// exclusive open.
inline std::vector<unsigned char> ReadWholeOnceFree(const std::string& path,
                                                    std::size_t limit = 4096) {
    std::vector<unsigned char> bytes = ReadWhole(path, limit);
    for (int attempt = 0; bytes.empty() && attempt < 100; ++attempt) {
        Sleep(10);
        bytes = ReadWhole(path, limit);
    }
    return bytes;
}

// The file as a repair leaves it: the header over its start, the rest as it was.
inline std::vector<unsigned char> Repaired(std::vector<unsigned char> original,
                                           const std::vector<unsigned char>& header) {
    std::copy(header.begin(), header.end(), original.begin());
    return original;
}
