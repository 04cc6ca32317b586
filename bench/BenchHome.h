#pragma once
// What the benchmarks that start the real gateway share: a loopback program
// folder (its Config/qixXap.ini keeps every datagram on 127.0.0.1, its
// registry selects the virtual transceiver on the folder's bus and registers
// the plug-in, and `extraRegistry` adds keys of its own; needs KESTREL_LIB),
// starting the gateway (needs BRINDLE_EXE), the resident memory and CPU time
// of its process, and the builds to compare: this one, and the one whose
// build folder the environment variable BRINDLE_BASELINE names (its brindle
// and plug-in), measured in the same run.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

// A benchmark that cannot go on says why and stops.
[[noreturn]] inline void die(const char* what) {
    std::perror(what);
    std::exit(1);
}

// The UDP socket of a hub on 127.0.0.1:3639, where the gateway sends.
inline int bindLoopbackHub() {
    const int hub = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(3639);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(hub, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) die("hub bind");
    return hub;
}

// One build of the gateway: its program and its plug-in library.
struct BenchBuild {
    std::string name;
    std::string exe;
    std::string kestrel;
};

// "after" (this build), preceded by "before" when BRINDLE_BASELINE names a
// build folder holding brindle and the plug-in.
inline std::vector<BenchBuild> benchBuilds() {
    namespace fs = std::filesystem;
    std::vector<BenchBuild> builds;
    if (const char* base = std::getenv("BRINDLE_BASELINE"); base != nullptr && *base != '\0') {
        const fs::path exe = fs::path(base) / "brindle";
        std::error_code ec;
        for (fs::recursive_directory_iterator it(base, ec), end; it != end; it.increment(ec))
            if (it->path().filename() == "libkestrel.so" && fs::exists(exe)) {
                builds.push_back({"before", exe.string(), it->path().string()});
                break;
            }
        if (builds.empty()) std::fprintf(stderr, "no brindle and libkestrel.so below %s\n", base);
    }
    builds.push_back({builds.empty() ? "this build" : "after", BRINDLE_EXE, KESTREL_LIB});
    return builds;
}

inline std::filesystem::path makeBenchHome(const std::string& name,
                                           const std::string& extraRegistry = {},
                                           const std::string& kestrel = KESTREL_LIB) {
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
        << extraRegistry << "[HKEY_CLASSES_ROOT\\Kestrel.hspi\\InprocServer32]\n@=\"" << kestrel
        << "\"\n\n"
           "[HKEY_CLASSES_ROOT\\Kestrel.cFireCrackerUSB\\InprocServer32]\n@=\""
        << kestrel << "\"\n";
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

// A value of /proc/<pid>/smaps_rollup ("Rss", "Pss", ...), in KiB; -1 when
// it cannot be read.
inline long rollupKiB(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

// The CPU time the process has used, user and system, in milliseconds: the
// scheduler's nanosecond count summed over its threads, where the kernel keeps
// it (the clock-tick count of /proc/<pid>/stat is only good to 10 ms).
inline double cpuMs(pid_t pid) {
    const std::string base = "/proc/" + std::to_string(pid);
    std::error_code ec;
    double ns = 0;
    bool counted = false;
    for (std::filesystem::directory_iterator it(base + "/task", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::ifstream in(it->path() / "schedstat");
        double running = 0;
        if (in >> running) {
            ns += running;
            counted = true;
        }
    }
    if (counted) return ns / 1e6;
    std::ifstream in(base + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;  // state ... cmajflt
    double user = 0;
    double system = 0;
    fields >> user >> system;
    return (user + system) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Starts the real gateway on the folder: headless, or on the X display
// `display` (":99"); its process id, or -1.
inline pid_t startGateway(const std::filesystem::path& home, const std::string& exe = BRINDLE_EXE,
                          const std::string& display = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("BRINDLE_HOME", home.c_str(), 1);
        if (display.empty()) {
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        } else {
            ::setenv("DISPLAY", display.c_str(), 1);
            ::unsetenv("WAYLAND_DISPLAY");
            ::unsetenv("QT_QPA_PLATFORM");
        }
        ::execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}
