#pragma once
// Qt's warnings on standard error, with a flood of one identical message
// written once and then summarised with its count (see RepeatedLineFilter),
// so a burst of bad datagrams cannot fill a journal. install() replaces Qt's
// message handler for the process; flush() writes the pending count.

class MessageFilter {
public:
    static void install();
    static void flush();
};
