// xap-hub: the xAP hub for one computer. Listens on UDP 3639 on every address,
// learns the programs on this computer from their heartbeats, and relays every
// xAP datagram to each of them on 127.0.0.1.
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "xap-hub/HubLog.h"
#include "xap-hub/XapHub.h"

namespace {

const char kUsage[] =
    "usage: xap-hub [--address A] [--port N]\n"
    "\n"
    "Relays xAP messages to the xAP programs on this computer. Listens on UDP\n"
    "port N (default 3639) on address A (default: every address, so broadcasts\n"
    "from the LAN arrive). A program on this computer becomes a client with its\n"
    "first heartbeat (the \"port\" item names where it listens on 127.0.0.1) and\n"
    "stops being one with \"xap-hbeat.stopped\" or after twice its heartbeat\n"
    "interval without one. Every xAP datagram received, from the network or from\n"
    "a client, is sent to each client once, never back to its sender. At most\n"
    "256 clients. Messages go to standard error; SIGINT or SIGTERM ends it.\n";

int usageError(const char* text) {
    std::fprintf(stderr, "xap-hub: %s\n%s", text, kUsage);
    return 2;
}

volatile std::sig_atomic_t g_stop = 0;

void requestStop(int) {
    g_stop = 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string address;
    int port = XapHub::kXapPort;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc) return usageError("unknown or incomplete option");
        if (std::strcmp(a, "--address") == 0) {
            address = argv[++i];
        } else if (std::strcmp(a, "--port") == 0) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 1 || n > 65535) return usageError("bad port");
            port = static_cast<int>(n);
        } else {
            return usageError("unknown option");
        }
    }

    // SIGINT and SIGTERM are taken only while the hub sleeps, so a stop never
    // cuts a batch of relays short.
    sigset_t stopping, waitMask;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopping, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // Standard error may be a pipe whose reader goes away (a restarted
    // journal); a write there must not end the hub.
    signal(SIGPIPE, SIG_IGN);

    XapHub hub(port);
    std::string error;
    if (!hub.start(address, &error)) {
        HubLog::write(HubLog::Level::Error, "cannot listen on port %d: %s", port, error.c_str());
        HubLog::flush();
        return 1;
    }
    const bool ok = hub.run(g_stop, waitMask);
    HubLog::flush();
    return ok ? 0 : 1;
}
