#pragma once
// What the benchmarks that start the real gateway share: a loopback program
// folder (its Config/qixXap.ini keeps every datagram on 127.0.0.1, its
// registry selects the virtual transceiver on the folder's bus and registers
// the plug-in, and `extraRegistry` adds keys of its own; needs KESTREL_LIB),
// starting the gateway (needs BRINDLE_EXE), and the resident memory of its
// process.

#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

inline std::filesystem::path makeBenchHome(const std::string& name,
                                           const std::string& extraRegistry = {}) {
    namespace fs = std::filesystem;
    const fs::path home = fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
    for (const char* folder : {"Config", "Data", "bus"}) fs::create_directories(home / folder);
    std::ofstream(home / "Config" / "qixXap.ini")
        << "[Interface]\nBroadcastAddress=127.0.0.1\nInterfaceAddress=127.0.0.1\n";
    std::ofstream(home / "Config" / "registry.reg")
        << "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum]\n"
           "\"0\"=\"VIRTUAL\\\\"
        << (home / "bus" / "cm19a").string() << "\"\n\n"
        << extraRegistry
        << "[HKEY_CLASSES_ROOT\\Kestrel.hspi\\InprocServer32]\n@=\"" KESTREL_LIB
           "\"\n\n"
           "[HKEY_CLASSES_ROOT\\Kestrel.cFireCrackerUSB\\InprocServer32]\n@=\"" KESTREL_LIB "\"\n";
    return home;
}

// The resident memory of a process, in KiB; -1 when it cannot be read.
inline long residentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Starts the real gateway headless on the folder; its process id, or -1.
inline pid_t startGateway(const std::filesystem::path& home) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("BRINDLE_HOME", home.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(BRINDLE_EXE, BRINDLE_EXE, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}
