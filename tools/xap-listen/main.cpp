// xap-listen: joins the hub on this computer as an xAP client and prints every
// message it relays, optionally filtered by source and class.
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/HostName.h"
#include "base/MessageFilter.h"
#include "base/SignalNotifier.h"
#include "xap-listen/XapListener.h"

namespace {

const char kUsage[] =
    "usage: xap-listen [options]\n"
    "\n"
    "Binds a UDP port on 127.0.0.1, announces it with heartbeats to the xAP hub\n"
    "on this computer (xap-hub) and prints every xAP message the hub relays,\n"
    "each followed by an empty line. SIGINT or SIGTERM sends a last heartbeat\n"
    "\"xap-hbeat.stopped\" and ends it.\n"
    "\n"
    "  --source PATTERN   only messages from a matching source; xAP wildcards:\n"
    "                     \"*\" stands for one part, \">\" for the rest\n"
    "                     (e.g. 'qix.CM19A.>')\n"
    "  --class PATTERN    only messages of a matching class (e.g. 'xAPBSC.*')\n"
    "  --no-heartbeats    leave out heartbeats\n"
    "  --count N          end after printing N messages\n"
    "  --port N           the port to bind (default: any free one)\n"
    "  --interval S       seconds between heartbeats, 1 to 3600 (default 60)\n"
    "  --name SOURCE      this client's own source (default brindle.xap-listen.<host>)\n"
    "  --hub-port N       the hub's port (default 3639)\n"
    "  --help             this text\n";

int usageError(const std::string& text) {
    std::fprintf(stderr, "xap-listen: %s\n%s", text.c_str(), kUsage);
    return 2;
}

bool number(const char* text, long low, long high, long* out) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n < low || n > high) return false;
    *out = n;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    XapListener::Options options;
    options.source = "brindle.xap-listen." + hostName();
    long count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--no-heartbeats") {
            options.heartbeats = false;
            continue;
        }
        if (i + 1 >= argc) return usageError("unknown or incomplete option " + a);
        const char* v = argv[++i];
        long n = 0;
        if (a == "--source") {
            options.sourceFilter = v;
        } else if (a == "--class") {
            options.classFilter = v;
        } else if (a == "--name") {
            options.source = v;
        } else if (a == "--count") {
            if (!number(v, 1, 1000000000, &count)) return usageError("bad count");
        } else if (a == "--port") {
            if (!number(v, 0, 65535, &n)) return usageError("bad port");
            options.port = static_cast<int>(n);
        } else if (a == "--hub-port") {
            if (!number(v, 1, 65535, &n)) return usageError("bad hub port");
            options.hubPort = static_cast<int>(n);
        } else if (a == "--interval") {
            if (!number(v, 1, 3600, &n)) return usageError("bad interval");
            options.intervalS = static_cast<int>(n);
        } else {
            return usageError("unknown option " + a);
        }
    }
    if (options.source.find_first_of("\r\n") != std::string::npos)
        return usageError("line breaks in --name");

    MessageFilter::install();
    QCoreApplication app(argc, argv);
    XapListener listener(options);
    long printed = 0;
    listener.onMessage([&](const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (text.empty() || text.back() != '\n') std::fputc('\n', stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        if (count > 0 && ++printed >= count) QCoreApplication::quit();
    });
    std::string error;
    if (!listener.start(&error)) {
        qCritical("xap-listen: %s", error.c_str());
        return 1;
    }
    qInfo("xap-listen: listening on 127.0.0.1:%d", listener.port());
    SignalNotifier stop([](int) { QCoreApplication::quit(); });
    const int result = QCoreApplication::exec();
    listener.stop();
    MessageFilter::flush();
    return result;
}
