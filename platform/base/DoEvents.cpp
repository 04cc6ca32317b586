#include "base/DoEvents.h"

#include <QCoreApplication>

namespace {
int g_depth = 0;
}

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
