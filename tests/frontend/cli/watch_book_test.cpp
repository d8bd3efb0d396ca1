// The watch service's bookkeeping on its own: when a file is looked at
// again, and which events the service caused itself.
#include "watch_book.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// The files' states as the book is told them: a name not here cannot be
// stamped.
struct Stamps {
    std::map<std::string, FileStamp> byName;

    StampOfFile Teller() {
        return [this](int folder, const std::string& name, FileStamp* stamp) {
            const auto found = byName.find(std::to_string(folder) + "/" + name);
            if (found == byName.end()) {
                return false;
            }
            *stamp = found->second;
            return true;
        };
    }
    void Write(const std::string& file) { ++byName[file].written; }
};

std::vector<std::string> TakeAllDue(WatchBook& book) {
    std::vector<std::string> due;
    int folder = -1;
    std::string name;
    while (book.TakeDue(&folder, &name)) {
        due.push_back(std::to_string(folder) + "/" + name);
    }
    return due;
}

using Names = std::vector<std::string>;

// A busy file is retried once per period and not before; nothing is
// scheduled while nothing waits; its own reads' and write's closes right
// after a look do not make it due again, another program's closes do.
TEST(WatchBook, WaitingFilesAreRetriedOncePerPeriodAndOwnEventsIgnored) {
    Stamps stamps;
    WatchBook book(2, 1000, stamps.Teller());
    EXPECT_EQ(book.MillisecondsToRetry(0), -1);
    book.OnFileEvent(0, "Film#1.mpg", FolderEventKind::Arrived);
    book.OnFileEvent(1, "Talk#1.mpg", FolderEventKind::Arrived);
    book.OnFileEvent(0, "Film#1.mpg", FolderEventKind::WriterClosed);  // already due: once
    ASSERT_EQ(TakeAllDue(book), (Names{"0/Film#1.mpg", "1/Talk#1.mpg"}));

    book.RecordAttempt(0, "Film#1.mpg", AttemptOutcome::Waiting, false, 1000);
    book.OnFileEvent(0, "Film#1.mpg", FolderEventKind::ReaderClosed);  // its own look
    book.EndOfOwnEvents();
    book.RecordAttempt(1, "Talk#1.mpg", AttemptOutcome::Finished, true, 1000);
    book.OnFileEvent(1, "Talk#1.mpg", FolderEventKind::ReaderClosed);
    // Its own repair's close, or a recorder's merged with it: looked at again.
    book.OnFileEvent(1, "Talk#1.mpg", FolderEventKind::WriterClosed);
    book.EndOfOwnEvents();
    EXPECT_EQ(TakeAllDue(book), Names{"1/Talk#1.mpg"});
    book.RecordAttempt(1, "Talk#1.mpg", AttemptOutcome::Finished, false, 1000);
    book.EndOfOwnEvents();
    EXPECT_EQ(book.WaitingCount(), 1u);
    EXPECT_EQ(book.TrackedCount(), 1u) << "a finished file is forgotten";

    EXPECT_EQ(book.MillisecondsToRetry(1400), 600);
    book.StartRetryRoundIfDue(1999);
    EXPECT_EQ(TakeAllDue(book), Names{});
    book.StartRetryRoundIfDue(2000);
    EXPECT_EQ(TakeAllDue(book), Names{"0/Film#1.mpg"});
    book.RecordAttempt(0, "Film#1.mpg", AttemptOutcome::Waiting, false, 2001);
    book.EndOfOwnEvents();
    EXPECT_EQ(book.MillisecondsToRetry(2001), 1000);

    // Another program's reader letting go makes the waiting file due at once.
    book.OnFileEvent(0, "Film#1.mpg", FolderEventKind::ReaderClosed);
    EXPECT_EQ(TakeAllDue(book), Names{"0/Film#1.mpg"});
    book.RecordAttempt(0, "Film#1.mpg", AttemptOutcome::Finished, true, 2100);
    book.EndOfOwnEvents();
    EXPECT_EQ(book.WaitingCount(), 0u);
    EXPECT_EQ(book.MillisecondsToRetry(2100), -1);
}

// A parked file waits for a change (one it was parked for, or one past its
// own failed write), not for time or readers; a file that left, or whose
// folder went, is forgotten even when it was due.
TEST(WatchBook, ParkedFilesWaitForAChangeAndLeftFilesAreForgotten) {
    Stamps stamps;
    stamps.Write("0/Film#1.mpg");
    WatchBook book(2, 1000, stamps.Teller());
    book.OnFileEvent(0, "Film#1.mpg", FolderEventKind::Arrived);
    ASSERT_EQ(TakeAllDue(book).size(), 1u);
    stamps.Write("0/Film#1.mpg");  // the failed write
    book.RecordAttempt(0, "Film#1.mpg", AttemptOutcome::Parked, true, 0);
    // A recorder's close still unread when the look began, then its own.
    book.OnFileEvent(0, "Film#1.mpg", FolderEventKind::WriterClosed);
    book.OnFileEvent(0, "Film#1.mpg", FolderEventKind::WriterClosed);
    book.EndOfOwnEvents();
    book.OnFileEvent(0, "Film#1.mpg", FolderEventKind::ReaderClosed);
    book.OnFileEvent(0, "Film#1.mpg", FolderEventKind::AttributesChanged);
    book.StartRetryRoundIfDue(60000);
    EXPECT_EQ(TakeAllDue(book), Names{});
    EXPECT_EQ(book.ParkedCount(), 1u);
    EXPECT_EQ(book.MillisecondsToRetry(0), -1);

    stamps.Write("0/Film#1.mpg");
    book.OnFileEvent(0, "Film#1.mpg", FolderEventKind::WriterClosed);
    EXPECT_EQ(TakeAllDue(book), Names{"0/Film#1.mpg"});

    book.OnFileEvent(0, "Film#2.mpg", FolderEventKind::Arrived);
    book.OnFileEvent(0, "Film#2.mpg", FolderEventKind::Left);
    book.OnFileEvent(1, "Talk#1.mpg", FolderEventKind::Arrived);
    book.ForgetFolder(1);
    EXPECT_EQ(TakeAllDue(book), Names{});
    EXPECT_EQ(book.TrackedCount(), 1u);
    // Parked for its base file's sake: due again when that changes; a file
    // that left stays out.
    book.RecordAttempt(0, "Film#1.mpg", AttemptOutcome::Parked, false, 0);
    book.EndOfOwnEvents();
    book.MakeDueAgain(0, "Film#1.mpg");
    book.MakeDueAgain(0, "Film#2.mpg");
    EXPECT_EQ(TakeAllDue(book), Names{"0/Film#1.mpg"});
    EXPECT_EQ(book.TrackedCount(), 1u);
}

// Windows tells of writes instead of closes. A write must not make a
// waiting file due (a recorder writes all the time; the file's round comes
// anyway), nor one parked after its own failed write until it is written
// past that (or the write's own event would wake it over and over); any other
// file is looked at.
TEST(WatchBook, WritesWakeOnlyFilesThatNeitherWaitNorFailedTheirOwnWrite) {
    Stamps stamps;
    WatchBook book(1, 200, stamps.Teller());
    for (const char* name : {"Busy#1.mpg", "Full#1.mpg", "Locked#1.mpg"}) {
        book.OnFileEvent(0, name, FolderEventKind::Arrived);
    }
    ASSERT_EQ(TakeAllDue(book).size(), 3u);
    stamps.Write("0/Full#1.mpg");
    book.RecordAttempt(0, "Busy#1.mpg", AttemptOutcome::Waiting, false, 0);
    book.RecordAttempt(0, "Full#1.mpg", AttemptOutcome::Parked, true, 0);
    book.RecordAttempt(0, "Locked#1.mpg", AttemptOutcome::Parked, false, 0);
    book.EndOfOwnEvents();
    for (const char* name : {"Busy#1.mpg", "Full#1.mpg", "Locked#1.mpg", "New#1.mpg"}) {
        book.OnFileEvent(0, name, FolderEventKind::Written);
    }
    EXPECT_EQ(TakeAllDue(book), (Names{"0/Locked#1.mpg", "0/New#1.mpg"}));
    stamps.Write("0/Full#1.mpg");
    book.OnFileEvent(0, "Full#1.mpg", FolderEventKind::Written);
    EXPECT_EQ(TakeAllDue(book), Names{"0/Full#1.mpg"});
    EXPECT_EQ(book.MillisecondsToRetry(0), 200);
}

}  // namespace
