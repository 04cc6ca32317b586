#pragma once
// The pending run-time fault: what a handler has caught and not yet reported.
// Log writers read it into their line and clear it, so a fault is reported once.
// Process-wide, like everything on the one thread.

#include <exception>
#include <string>

class Err {
public:
    // Records the exception currently being handled (call inside a catch block),
    // or the given one. Non-RuntimeError exceptions get number 51 ("Internal error").
    static void capture();
    static void capture(const std::exception& e);
    static void set(int number, const std::string& description, int line = 0);

    static bool pending() { return state().number != 0; }
    static int Number() { return state().number; }
    static int Erl() { return state().line; }
    static const std::string& Description() { return state().description; }
    static void Clear();

private:
    struct State {
        int number = 0;
        int line = 0;
        std::string description;
    };
    static State& state();
};
