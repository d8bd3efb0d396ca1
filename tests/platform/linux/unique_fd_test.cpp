// The owned descriptor: exactly one owner closes it, exactly once.
#include "unique_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "owned_handle_checks.h"

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

TEST(UniqueFdTest, ClosesOnceAndHandsOver) {
    int first = -1;
    int second = -1;
    MakePipe(&first, &second);
    EXPECT_EQ(ClosesOnceWhereverOwnershipEnds<UniqueFd>(first, second, IsOpen), "");
    MakePipe(&first, &second);
    EXPECT_EQ(ReleaseHandsOverAndResetCloses<UniqueFd>(first, second, IsOpen, ::close), "");
}

}  // namespace
