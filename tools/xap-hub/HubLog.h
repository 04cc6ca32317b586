#pragma once
// The hub's messages on standard error: one line each, "xap.hub: " and the
// text after the level (a syslog priority such as "<6>" when journald reads
// the stream, else a word such as "info: "), with a flood of one identical
// line written once and then counted (RepeatedLineFilter), so a burst of bad
// datagrams cannot fill a journal. Called from the hub's one thread only.

class HubLog {
public:
    enum class Level { Info, Warning, Error };

    static void write(Level level, const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Writes the count of repeats not yet reported (at shutdown).
    static void flush();
};
