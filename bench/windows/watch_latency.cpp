// velmora-cli.exe watch on Windows (run under Wine here), measured from
// outside: a recorder writes a follow-up file while holding it with share
// mode 0, then closes it; the time from the close to the service's line.
// Every timed file is checked: its line arrived and its head is the
// template with every other byte as it was.
//   velmora_watch_latency_win32 [FILES]   (default 100)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kTemplateSize = 2048;
constexpr std::size_t kFileSize = 64 * 1024;

using Bytes = std::vector<unsigned char>;

Bytes Pattern(std::size_t size, unsigned seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>((i * 7 + seed * 13) & 0xFF);
    }
    return bytes;
}

bool WriteAll(HANDLE file, const Bytes& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool WriteNew(const std::string& path, const Bytes& bytes) {
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const bool written = file != INVALID_HANDLE_VALUE && WriteAll(file, bytes);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return written;
}

Bytes ReadWhole(const std::string& path) {
    Bytes bytes(kFileSize + 1);
    DWORD got = 0;
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
        CloseHandle(file);
    }
    bytes.resize(got);
    return bytes;
}

// A file the service has just repaired, read once it lets go of it: when
// the repair's write is reported, it looks at the head once more, inside an
// exclusive open.
Bytes ReadWholeOnceFree(const std::string& path) {
    Bytes bytes = ReadWhole(path);
    for (int attempt = 0; bytes.empty() && attempt < 100; ++attempt) {
        Sleep(10);
        bytes = ReadWhole(path);
    }
    return bytes;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// The service, its output on a pipe read until a wanted line.
struct Service {
    HANDLE process = nullptr;
    HANDLE output = nullptr;
    std::string seen;

    bool Start(const std::string& folder) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&output, &writeEnd, &inherit, 0)) {
            return false;
        }
        SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd;
        startup.hStdError = writeEnd;
        std::string exe = "Z:" VELMORA_CLI;
        std::replace(exe.begin(), exe.end(), '/', '\\');
        std::string commandLine = "\"" + exe + "\" watch .";
        PROCESS_INFORMATION started{};
        const bool ok = CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                       nullptr, folder.c_str(), &startup, &started) != FALSE;
        CloseHandle(writeEnd);
        if (ok) {
            CloseHandle(started.hThread);
            process = started.hProcess;
        }
        return ok;
    }

    // Blocks until `line` has come; false when the service ended first.
    bool WaitFor(const std::string& line) {
        char buffer[4096];
        DWORD got = 0;
        while (seen.find(line) == std::string::npos) {
            if (!ReadFile(output, buffer, sizeof buffer, &got, nullptr) || got == 0) {
                return false;
            }
            seen.append(buffer, got);
        }
        seen.erase(0, seen.find(line) + line.size());
        return true;
    }

    ~Service() {
        if (process != nullptr) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
        if (output != nullptr) {
            CloseHandle(output);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 100;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string folder =
        std::string(temp) + "velmora-latency-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    const Bytes headerTemplate = Pattern(kTemplateSize, 1);
    if (files <= 0 || !WriteNew(folder + "header.mpeg", headerTemplate) ||
        !WriteNew(folder + "Film.mpg", Pattern(kFileSize, 2))) {
        std::fprintf(stderr, "FAILED: no folder to measure in (%s)\n", folder.c_str());
        return 1;
    }
    std::vector<double> latencies;
    {
        Service service;
        if (!service.Start(folder) || !service.WaitFor("Beobachte 1 Ordner.")) {
            std::fprintf(stderr, "FAILED: velmora-cli.exe watch did not start\n");
            return 1;
        }
        for (int number = 1; number <= files; ++number) {
            const std::string name = "Film#" + std::to_string(number) + ".mpg";
            Bytes recorded = Pattern(kFileSize, 3 + number);
            std::fill(recorded.begin(), recorded.begin() + kTemplateSize, 0);
            const HANDLE recorder = CreateFileA((folder + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_NEW, 0, nullptr);
            if (recorder == INVALID_HANDLE_VALUE || !WriteAll(recorder, recorded)) {
                std::fprintf(stderr, "FAILED: %s not recorded\n", name.c_str());
                return 1;
            }
            Sleep(static_cast<DWORD>(rand() % 400));  // a close at any point of the rounds
            LARGE_INTEGER closed;
            LARGE_INTEGER repaired;
            QueryPerformanceCounter(&closed);
            CloseHandle(recorder);
            const bool lineCame = service.WaitFor("\"" + name + "\" restauriert!");
            QueryPerformanceCounter(&repaired);
            std::copy(headerTemplate.begin(), headerTemplate.end(), recorded.begin());
            if (!lineCame || ReadWholeOnceFree(folder + name) != recorded) {
                std::fprintf(stderr, "FAILED: %s not repaired exactly\n", name.c_str());
                return 1;
            }
            latencies.push_back(Milliseconds(closed, repaired));
        }
    }
    for (int number = 1; number <= files; ++number) {
        DeleteFileA((folder + "Film#" + std::to_string(number) + ".mpg").c_str());
    }
    DeleteFileA((folder + "Film.mpg").c_str());
    DeleteFileA((folder + "header.mpeg").c_str());
    RemoveDirectoryA(folder.c_str());

    std::sort(latencies.begin(), latencies.end());
    const auto at = [&latencies](double share) {
        return latencies[static_cast<std::size_t>(share *
                                                  static_cast<double>(latencies.size() - 1))];
    };
    double sum = 0;
    for (double latency : latencies) {
        sum += latency;
    }
    std::printf(
        "watch close -> repaired over %d files: mean %.1f ms, p50 %.1f ms, p90 %.1f ms, "
        "p99 %.1f ms, max %.1f ms (retry period 200 ms)\n",
        files, sum / files, at(0.5), at(0.9), at(0.99), latencies.back());
    return 0;
}
