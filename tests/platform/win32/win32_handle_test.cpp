// The owned handle: exactly one owner closes it, exactly once.
#include "win32_handle.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "owned_handle_checks.h"

namespace {

bool IsOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

HANDLE NewEvent() {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TEST(UniqueHandleTest, ClosesOnceAndHandsOver) {
    EXPECT_EQ(ClosesOnceWhereverOwnershipEnds<UniqueHandle>(NewEvent(), NewEvent(), IsOpen), "");
    EXPECT_EQ(
        ReleaseHandsOverAndResetCloses<UniqueHandle>(NewEvent(), NewEvent(), IsOpen, CloseHandle),
        "");
    // CreateFile's failure and other calls' null both count as no handle.
    EXPECT_FALSE(UniqueHandle(nullptr).valid());
    EXPECT_FALSE(UniqueHandle(INVALID_HANDLE_VALUE).valid());
}

}  // namespace
