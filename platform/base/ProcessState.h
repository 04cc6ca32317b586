#pragma once
// The one place that knows every piece of state the process keeps outside its
// objects. Each owner keeps its state next to its code and registers here how
// to put it back to the start of a run:
//
//   base      Clock::current()          the time source (back to the system clock)
//             Err                       the pending run-time fault
//             DoEvents                  the depth of nested event pumping
//             MessageFilter             the log's tracked repeats (summaries written)
//   registry  Registry::instance()      the registry store (read again from the
//                                       program folder on next use)
//   binding   CreateObject              the in-process class factories
//   xap       xapGlobal::values()       the transport's shared values and held messages
//             XapSettings               paths, addresses (the computer name stays)
//             ErrorLogFile::instance()  the error log's count of repeated lines
//   host      Application::instance()   the host object
//             WebSettings::instance()   the host's running web settings
//   web       HeaderFiles               the header files read so far
//   plugin    HostLink                  the plug-in's link to its host
//             hspi                      the configuration window it opens
//             frmConfig                 the configuration window open now
//             ModalUi                   the modal dialogs' hooks
//             cFirecrackerUSB           the transceiver's recovery times
//
// Not reset, on purpose:
// - tables that belong to live objects and empty as those go: the plug-in's
//   live transceivers and count of live objects, the open USB device links and
//   libusb event source, the connections waiting to be accepted;
// - serial numbers that must never repeat within a process (USB writers,
//   connection requests, menu database connections, device code generations);
// - libraries loaded once for the life of the process (CreateObject's loaded
//   plug-ins, the MQTT library and its load failure), and the log's start time.
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
