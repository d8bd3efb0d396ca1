// A clock for waits and retry periods that no change of the system's time
// moves. One implementation per platform.
#pragma once

// Milliseconds since an arbitrary start; only ever goes forward.
long long MonotonicMilliseconds();
