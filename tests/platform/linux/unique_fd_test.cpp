// The owned descriptor: exactly one owner closes it, exactly once.
#include "unique_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

namespace {

bool IsOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

// Both ends of a fresh pipe: two real descriptors to hand around.
void MakePipe(int* readEnd, int* writeEnd) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    *readEnd = ends[0];
    *writeEnd = ends[1];
}

TEST(UniqueFdTest, ClosesOnceWhereverOwnershipEnds) {
    int first = -1;
    int second = -1;
    MakePipe(&first, &second);
    {
        UniqueFd owner(first);
        UniqueFd moved(std::move(owner));
        EXPECT_FALSE(owner.valid());
        EXPECT_EQ(moved.get(), first);
        UniqueFd other(second);
        other = std::move(moved);  // closes `second`, takes `first`
        EXPECT_FALSE(IsOpen(second));
        EXPECT_TRUE(IsOpen(first));
    }
    EXPECT_FALSE(IsOpen(first));
}

TEST(UniqueFdTest, ReleaseHandsOverAndResetCloses) {
    int first = -1;
    int second = -1;
    MakePipe(&first, &second);
    UniqueFd owner(first);
    EXPECT_EQ(owner.release(), first);
    EXPECT_FALSE(owner.valid());
    owner.reset(second);
    owner.reset(second);  // the same descriptor again is kept, not closed
    EXPECT_TRUE(IsOpen(second));
    EXPECT_TRUE(owner.close());
    EXPECT_FALSE(IsOpen(second));
    EXPECT_TRUE(IsOpen(first));
    ::close(first);
}

}  // namespace
