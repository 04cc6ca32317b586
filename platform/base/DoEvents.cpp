#include "base/DoEvents.h"

#include <QCoreApplication>

#include "base/ProcessState.h"

namespace {
int g_depth = 0;
const bool kDepthReset = ProcessState::registerReset("DoEvents", [] { g_depth = 0; });
}  // namespace

NestedEventScope::NestedEventScope() {
    ++g_depth;
}
NestedEventScope::~NestedEventScope() {
    --g_depth;
}

int nestedEventDepth() {
    return g_depth;
}

void DoEvents() {
    NestedEventScope scope;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
