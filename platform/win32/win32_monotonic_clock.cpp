#include <windows.h>

#include "monotonic_clock.h"

long long MonotonicMilliseconds() {
    return static_cast<long long>(GetTickCount64());
}
