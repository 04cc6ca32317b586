#include "base/HeapTrim.h"

#include <malloc.h>
#include <QTimer>

#include "base/ProcessState.h"

namespace {

int s_trims = 0;
int s_quietMs = HeapTrim::kQuietMs;

QTimer& timer() {
    // Made on first use on the event loop's thread; lives as long as the process.
    static QTimer* const t = [] {
        auto* made = new QTimer;
        made->setSingleShot(true);
        QObject::connect(made, &QTimer::timeout, [] {
            ::malloc_trim(0);
            ++s_trims;
        });
        return made;
    }();
    return *t;
}

const bool kReset = ProcessState::registerReset("HeapTrim", [] {
    s_trims = 0;
    s_quietMs = HeapTrim::kQuietMs;
});

}  // namespace

void HeapTrim::keepWhileBusy() {
    // Blocks below the first limit come from the heap, not from a mapping of
    // their own; the heap's free top shrinks by itself only past the second.
    ::mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
}

void HeapTrim::soon() {
    timer().start(s_quietMs);
}

int HeapTrim::trims() {
    return s_trims;
}

void HeapTrim::setQuietMs(int ms) {
    s_quietMs = ms;
}
