#include "app/Desktop.h"

#include "base/ProcessState.h"

Desktop::Factory& Desktop::factory() {
    static Factory made = nullptr;
    return made;
}

namespace {
const bool kReset = ProcessState::registerReset("desktop", [] { Desktop::factory() = nullptr; });
}  // namespace
