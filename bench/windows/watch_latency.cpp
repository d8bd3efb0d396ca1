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

#include "win32_cli.h"

namespace {

constexpr std::size_t kTemplateSize = 2048;
constexpr std::size_t kFileSize = 64 * 1024;

using Bytes = std::vector<unsigned char>;

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 100;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string folder =
        std::string(temp) + "velmora-latency-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    const Bytes headerTemplate = Pattern(kTemplateSize, 1);
    if (files <= 0 || !WriteWhole(folder + "header.mpeg", headerTemplate) ||
        !WriteWhole(folder + "Film.mpg", Pattern(kFileSize, 2))) {
        std::fprintf(stderr, "FAILED: no folder to measure in (%s)\n", folder.c_str());
        return 1;
    }
    std::vector<double> latencies;
    {
        // Each line is seen the moment it comes (INFINITE: the pipe is waited on).
        StartedCli service = StartCli("watch .", folder);
        std::string seen;
        if (service.process == nullptr ||
            !WaitForOutput(service.output, "Beobachte 1 Ordner.", INFINITE, &seen)) {
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
            const bool lineCame =
                WaitForOutput(service.output, "\"" + name + "\" restauriert!", INFINITE, &seen);
            QueryPerformanceCounter(&repaired);
            std::copy(headerTemplate.begin(), headerTemplate.end(), recorded.begin());
            if (!lineCame || ReadWholeOnceFree(folder + name, kFileSize + 1) != recorded) {
                std::fprintf(stderr, "FAILED: %s not repaired exactly\n", name.c_str());
                return 1;
            }
            latencies.push_back(Milliseconds(closed, repaired));
        }
        TerminateProcess(service.process, 0);
        FinishCli(service);
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
