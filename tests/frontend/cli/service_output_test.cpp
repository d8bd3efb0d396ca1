// watch's output on its own, over real pipes: a reader that never reads
// must not hold up the service, one that lags behind gets whole lines in
// order and one line for what it missed, and one that has gone is reported
// and wakes the service's wait.
#include "service_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "folder_events.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Whether a wait of up to 10 s on `events` was woken: it ended well before.
bool WaitIsWoken(FolderEvents& events) {
    const Clock::time_point start = Clock::now();
    events.WaitForEvents(10000);
    return MillisecondsSince(start) < 2000;
}

void CloseIfOpen(int* fd) {
    if (*fd >= 0) {
        close(*fd);
        *fd = -1;
    }
}

struct Pipe {
    Pipe() {
        int ends[2] = {-1, -1};
        EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
        read = ends[0];
        write = ends[1];
    }
    ~Pipe() {
        CloseIfOpen(&read);
        CloseIfOpen(&write);
    }
    int read;
    int write;
};

// Until the writer closes it, or with O_NONBLOCK until it is empty.
std::string ReadAll(int fd) {
    std::string text;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "a line without its end";
    return lines;
}

// 100,000 of them are several times the queue's limit. (A reader that never
// reads, and the end's deadline, are met by the running service in
// watch_output_test.cpp.)
constexpr int kLines = 100000;

std::string NumberedLine(int number) {
    return "Header \"Film#" + std::to_string(number) + ".mpg\" restauriert!";
}

// Once the reader takes what there is, the lines left out while the queue
// was full are told of in one line, and later lines come again. A line that
// would fit once the writer has got on a little is left out all the same:
// the gap stays one gap.
TEST(ServiceOutputTest, LaggingReaderGetsWholeLinesInOrderAndOneNoteForTheGap) {
    Pipe out;
    Pipe err;
    std::string error;
    ServiceOutput output(out.write, err.write);
    ASSERT_TRUE(output.Start({}, &error)) << error;
    for (int number = 0; number < kLines; ++number) {
        output.Line(OutputStream::Out, NumberedLine(number));
    }
    output.Line(OutputStream::Err, "Ordner nicht mehr da: /aufnahmen/");

    // One read of the full pipe, and the writer takes more lines from the
    // queue, far from catching up.
    std::string read(65536, '\0');
    const ssize_t first = ::read(out.read, read.data(), read.size());
    ASSERT_GT(first, 0);
    read.resize(static_cast<std::size_t>(first));
    int refilled = 0;
    for (const Clock::time_point start = Clock::now();
         refilled < 4096 && MillisecondsSince(start) < 10000;) {
        ASSERT_EQ(ioctl(out.read, FIONREAD, &refilled), 0);
    }
    output.Line(OutputStream::Out, NumberedLine(kLines));

    std::mutex mutex;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(out.read, buffer, sizeof buffer)) > 0) {
            std::lock_guard<std::mutex> lock(mutex);
            read.append(buffer, static_cast<std::size_t>(got));
        }
    });
    bool noted = false;
    for (const Clock::time_point start = Clock::now();
         !noted && MillisecondsSince(start) < 20000;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::lock_guard<std::mutex> lock(mutex);
        noted = read.find("ausgelassen") != std::string::npos;
    }
    output.Line(OutputStream::Out, "Beobachte 1 Ordner.");
    EXPECT_TRUE(output.Finish(10000));
    CloseIfOpen(&out.write);
    reader.join();
    ASSERT_TRUE(noted);

    const std::vector<std::string> lines = LinesOf(read);
    ASSERT_GE(lines.size(), 3u);
    const int written = static_cast<int>(lines.size()) - 2;
    EXPECT_GT(written, 1000);
    EXPECT_LT(written, kLines) << "the queue took every line";
    for (int number = 0; number < written; ++number) {
        ASSERT_EQ(lines[static_cast<std::size_t>(number)], NumberedLine(number));
    }
    EXPECT_EQ(lines[lines.size() - 2],
              "(" + std::to_string(kLines + 1 - written) +
                  " Zeilen ausgelassen: die Ausgabe wurde nicht schnell genug gelesen)");
    EXPECT_EQ(lines.back(), "Beobachte 1 Ordner.");
    CloseIfOpen(&err.write);
    EXPECT_EQ(ReadAll(err.read), "Ordner nicht mehr da: /aufnahmen/\n");
}

// The service's wait for events, which the output's writers may end.
class ServiceWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(events.Open(&error)) << error;
    }

    FolderEvents events;
};

// Standard output's reader goes while the service waits: the writer says so
// on standard error and ends the wait at once. One of standard error is
// only noted; standard output goes on.
TEST_F(ServiceWaitTest, ReaderThatWentIsReportedAndWakesTheWait) {
    std::string error;
    Pipe out;
    Pipe err;
    CloseIfOpen(&out.read);
    ServiceOutput output(out.write, err.write);
    int wakes = 0;
    ASSERT_TRUE(output.Start(
        [&] {
            ++wakes;
            events.Wake();
        },
        &error))
        << error;
    std::thread repair([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        output.Line(OutputStream::Out, NumberedLine(1));
    });
    EXPECT_TRUE(WaitIsWoken(events));
    repair.join();
    EXPECT_TRUE(output.ReaderGone());
    output.Line(OutputStream::Out, NumberedLine(2));
    output.Line(OutputStream::Err, "danach");
    EXPECT_FALSE(output.Finish(2000));
    EXPECT_EQ(wakes, 1);
    CloseIfOpen(&err.write);
    EXPECT_EQ(ReadAll(err.read), "Die Standardausgabe hat keinen Leser mehr (" +
                                     std::string(std::strerror(EPIPE)) + "), Ende.\ndanach\n");

    Pipe quietOut;
    Pipe quietErr;
    CloseIfOpen(&quietErr.read);
    ServiceOutput quiet(quietOut.write, quietErr.write);
    ASSERT_TRUE(quiet.Start([&] { events.Wake(); }, &error)) << error;
    quiet.Line(OutputStream::Err, "Ordner nicht mehr da: /aufnahmen/");
    EXPECT_TRUE(WaitIsWoken(events));
    EXPECT_TRUE(quiet.ReaderGone());
    quiet.Line(OutputStream::Out, "Beobachte 1 Ordner.");
    EXPECT_FALSE(quiet.Finish(2000));
    CloseIfOpen(&quietOut.write);
    EXPECT_EQ(ReadAll(quietOut.read), "Beobachte 1 Ordner.\n");
}

// A wake that comes before the wait is kept for it, and spent by it.
TEST_F(ServiceWaitTest, WakeEndsOneWaitFromAnyThread) {
    std::thread([&] { events.Wake(); }).join();
    EXPECT_TRUE(WaitIsWoken(events));
    const Clock::time_point start = Clock::now();
    events.WaitForEvents(200);
    EXPECT_GE(MillisecondsSince(start), 150) << "the wake was not spent";
}

// Made before the service takes its signals out of their normal handling,
// the writers must still leave a SIGTERM to it.
TEST(ServiceOutputTest, WritersLeaveTheSignalsToTheService) {
    sigset_t stop;  // unblocked, as at the program's start
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    ASSERT_EQ(pthread_sigmask(SIG_UNBLOCK, &stop, nullptr), 0);
    Pipe out;
    Pipe err;
    std::string error;
    ServiceOutput output(out.write, err.write);
    ASSERT_TRUE(output.Start({}, &error)) << error;
    FolderEvents events;
    ASSERT_TRUE(events.Open(&error)) << error;
    // Both writers under way, each waiting for its next line.
    output.Line(OutputStream::Out, "Beobachte 1 Ordner.");
    output.Line(OutputStream::Err, "Ordner nicht mehr da: /aufnahmen/");
    char line[64];
    ASSERT_GT(read(out.read, line, sizeof line), 0);
    ASSERT_GT(read(err.read, line, sizeof line), 0);
    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    events.WaitForEvents(5000);
    EXPECT_EQ(events.TakeSignal(), ServiceSignal::Stop);
    EXPECT_TRUE(output.Finish(2000));
}

}  // namespace
