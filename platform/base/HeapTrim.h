#pragma once
// Hands the heap's free memory back to the system once the program has been
// quiet for a while. Building a status page or answering a burst of messages
// frees memory that the C library keeps in the heap for reuse; without this a
// gateway that serves one page a minute would stay at its largest size for
// months. Each call only moves the deadline, so nothing runs while the program
// is busy, and an idle program never wakes for it.

class HeapTrim {
public:
    static constexpr int kQuietMs = 2000;

    // For the program, once at start: while it is busy, freed memory stays in
    // the heap for the next page or message to reuse (a status page of half a
    // megabyte would otherwise be handed back and faulted in afresh every
    // time); it goes back once the program is quiet.
    static void keepWhileBusy();

    // After work that may have freed memory: trims once the program has been
    // quiet for the quiet time.
    static void soon();

    // How many times the heap was trimmed; and the quiet time, both for tests.
    static int trims();
    static void setQuietMs(int ms);
};
