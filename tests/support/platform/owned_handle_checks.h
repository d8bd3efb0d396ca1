// What every owning type of a system handle (UniqueFd, UniqueHandle) must do:
// exactly one owner closes the handle, exactly once. Each check takes two
// open raw handles of its own, a test whether a raw handle is still open and
// a way to close one by hand, and returns the first step that went wrong
// ("" when none did).
#pragma once

#include <string>
#include <utility>

template <typename Owner, typename Raw, typename IsOpen>
std::string ClosesOnceWhereverOwnershipEnds(Raw first, Raw second, IsOpen isOpen) {
    {
        Owner owner(first);
        Owner moved(std::move(owner));
        if (owner.valid() || moved.get() != first) {
            return "a move did not hand the handle over";
        }
        Owner other(second);
        other = std::move(moved);  // closes `second`, takes `first`
        if (isOpen(second) || !isOpen(first)) {
            return "a move assignment did not close the old handle and keep the new";
        }
    }
    return isOpen(first) ? "the last owner did not close its handle" : "";
}

template <typename Owner, typename Raw, typename IsOpen, typename CloseRaw>
std::string ReleaseHandsOverAndResetCloses(Raw first, Raw second, IsOpen isOpen,
                                           CloseRaw closeRaw) {
    Owner owner(first);
    if (owner.release() != first || owner.valid()) {
        return "release did not hand the handle over";
    }
    owner.reset(second);
    owner.reset(second);  // the same handle again is kept, not closed
    if (!isOpen(second)) {
        return "a reset to the handle already owned closed it";
    }
    if (!owner.close() || isOpen(second)) {
        return "close did not close, or did not say so";
    }
    const bool releasedStillOpen = isOpen(first);
    closeRaw(first);
    return releasedStillOpen ? "" : "a released handle was closed";
}
