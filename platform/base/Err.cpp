#include "base/Err.h"

#include <new>

#include "base/ProcessState.h"
#include "base/RuntimeError.h"

Err::State& Err::state() {
    static State s;
    return s;
}

void Err::set(int number, const std::string& description, int line) {
    State& s = state();
    s.number = number;
    s.description = description;
    s.line = line;
}

void Err::capture(const std::exception& e) {
    if (const auto* fault = dynamic_cast<const RuntimeError*>(&e)) {
        set(fault->number(), fault->description());
    } else if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
        set(7, "Out of memory");
    } else {
        set(51, std::string("Internal error: ") + e.what());
    }
}

void Err::capture() {
    const std::exception_ptr current = std::current_exception();
    if (!current) return;
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& e) {
        capture(e);
    } catch (...) {
        set(51, "Internal error");
    }
}

void Err::Clear() {
    set(0, {}, 0);
}

namespace {
const bool kErrReset = ProcessState::registerReset("Err", [] { Err::Clear(); });
}  // namespace
