#pragma once
// The run-time fault a call raises: its number (0 when it raises none), or the
// fault itself (a test failure when there is none).

#include <gtest/gtest.h>
#include <functional>

#include "base/RuntimeError.h"

inline int errorNumber(const std::function<void()>& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}

inline RuntimeError errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e;
    }
    ADD_FAILURE() << "no error raised";
    return RuntimeError(0, "");
}
