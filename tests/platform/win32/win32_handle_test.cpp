// The owned handle: exactly one owner closes it, exactly once.
#include "win32_handle.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <utility>

namespace {

bool IsOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

HANDLE NewEvent() {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TEST(UniqueHandleTest, ClosesOnceWhereverOwnershipEnds) {
    const HANDLE first = NewEvent();
    const HANDLE second = NewEvent();
    {
        UniqueHandle owner(first);
        UniqueHandle moved(std::move(owner));
        EXPECT_FALSE(owner.valid());
        EXPECT_EQ(moved.get(), first);
        UniqueHandle other(second);
        other = std::move(moved);  // closes `second`, takes `first`
        EXPECT_FALSE(IsOpen(second));
        EXPECT_TRUE(IsOpen(first));
    }
    EXPECT_FALSE(IsOpen(first));
}

TEST(UniqueHandleTest, ReleaseHandsOverAndResetCloses) {
    const HANDLE first = NewEvent();
    const HANDLE second = NewEvent();
    UniqueHandle owner(first);
    EXPECT_EQ(owner.release(), first);
    EXPECT_FALSE(owner.valid());
    owner.reset(second);
    owner.reset(second);  // the same handle again is kept, not closed
    EXPECT_TRUE(IsOpen(second));
    EXPECT_TRUE(owner.close());
    EXPECT_FALSE(IsOpen(second));
    EXPECT_TRUE(IsOpen(first));
    CloseHandle(first);
    // CreateFile's failure and other calls' null both count as no handle.
    EXPECT_FALSE(UniqueHandle(nullptr).valid());
    EXPECT_FALSE(UniqueHandle(INVALID_HANDLE_VALUE).valid());
}

}  // namespace
