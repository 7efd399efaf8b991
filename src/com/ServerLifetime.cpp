#include "com/ServerLifetime.h"

LONG ServerLifetime::Unlock() {
    LONG count = count_;
    for (;;) {
        if (count <= 0) return 0;
        const LONG seen = InterlockedCompareExchange(&count_, count - 1, count);
        if (seen == count) break;
        count = seen;
    }
    if (count - 1 == 0 && lastRelease_) lastRelease_();
    return count - 1;
}
