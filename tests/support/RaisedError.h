#pragma once
// The number of the run-time fault a call raises, 0 when it raises none.

#include <functional>

#include "RuntimeError.h"

inline int errorNumber(const std::function<void()>& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}
