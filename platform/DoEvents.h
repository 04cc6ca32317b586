#pragma once
// Lets pending events (sockets, timers, USB completions, window input) run
// inside an operation. Whatever such an event calls may re-enter the caller's
// object; receivers that can be re-entered guard themselves with a busy flag.

void DoEvents();
