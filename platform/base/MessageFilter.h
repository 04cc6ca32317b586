#pragma once
// The program's messages on standard error, one line each with its level (a
// syslog priority such as "<3>" when journald reads the stream, else a word
// such as "error: "), and a flood of repeated messages (one, or several in
// turn) written once each and then summarised with its count (see
// RepeatedLineFilter), so a burst of bad
// datagrams cannot fill a journal. install() replaces Qt's message handler for
// the process; flush() writes the pending count.

class MessageFilter {
public:
    static void install();
    static void flush();
};
