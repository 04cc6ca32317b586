#pragma once
// Lets pending events (sockets, timers, USB completions, window input) run
// inside an operation. Whatever such an event calls may re-enter the caller's
// object; receivers that can be re-entered guard themselves with a busy flag.

// Runs the pending events once.
void DoEvents();

// How many operations are letting events run right now (DoEvents, waits).
// Something that tears the program down must not run while this is above 0:
// the operations below it would return into freed objects.
int nestedEventDepth();

// Marks an operation that runs events of its own (a wait's local loop).
class NestedEventScope {
public:
    NestedEventScope();
    ~NestedEventScope();
    NestedEventScope(const NestedEventScope&) = delete;
    NestedEventScope& operator=(const NestedEventScope&) = delete;
};
