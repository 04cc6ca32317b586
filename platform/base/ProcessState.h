#pragma once
// The one place that knows every piece of state the process keeps outside its
// objects. Each owner keeps its state next to its code and registers here how
// to put it back to the start of a run:
//
//   base      Clock::current()          the time source (back to the system clock)
//             Err                       the pending run-time fault
//   registry  Registry::instance()      the registry store (read again from the
//                                       program folder on next use)
//   xap       xapGlobal::values()       the transport's shared values and held messages
//             XapSettings               paths, addresses (the computer name stays)
//             ErrorLogFile::instance()  the error log's count of repeated lines
//   host      Application::instance()   the host object
//             WebSettings::instance()   the host's running web settings
//   plugin    HostLink                  the plug-in's link to its host
//
// The plug-in's table of live transceivers (cFirecrackerUSB) is not reset here:
// it belongs to the transceiver objects and is empty once they are gone.
//
// The program never resets; tests call resetAll() after every case, so no case
// sees what another left behind. One thread.

#include <string>

class ProcessState {
public:
    using Reset = void (*)();

    // Registers `reset` under `name` once; returns true so it can initialise a
    // static at namespace scope in the owner's file.
    static bool registerReset(const char* name, Reset reset);
    // Runs every registered reset, in the order they were registered.
    static void resetAll();
    // The registered names, for diagnostics and tests.
    static std::string names();
};
