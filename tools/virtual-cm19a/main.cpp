// virtual-cm19a: plays a CM19A transceiver on the virtual bus, so the gateway
// can be run, demonstrated and tested without the hardware.
//
//   virtual-cm19a <bus-folder> [name] [--send COMMAND]... [--exit-after-ms N]
//
// The gateway finds it through the device entry VIRTUAL\<bus-folder>/<name>.
// Commands come one per line on stdin, or as --send arguments, which run in
// order once the gateway has connected for the first time:
//
//   A3 on, A3 off, A dim, A bright, A alllightson, ...   remote buttons
//   A up, A down, A left, A right, A p1 ... A sweepprogram   camera buttons
//   raw 20 60 9F 08 F7     any bytes, as one read
//   empty                  a read of 0 bytes
//   unplug, plug           take the device off the bus and put it back
//   wait 500               pause the following commands (milliseconds)
//   quit
//
// Output, one line each, flushed at once: "ready <socket>" when listening,
// "connected" and "disconnected", "R <hex>  <meaning>" for every read handed to
// the gateway and "W <hex>  <meaning>" for every frame it wrote.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "base/Convert.h"
#include "base/RuntimeError.h"
#include "radio/X10FrameCodec.h"
#include "usb/virtual/VirtualPacket.h"
#include "virtual-cm19a/VirtualCm19a.h"

namespace {

using Bytes = VirtualCm19a::Bytes;
using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) {
    g_stop = 1;
}

struct CommandName {
    const char* word;  // lower case, as typed (separators dropped)
    const char* shown;
    eX10CMD command;
};
constexpr CommandName kCommands[] = {
    {"on", "On", cON},
    {"off", "Off", cOFF},
    {"dim", "Dim", cDIM},
    {"bright", "Bright", cBRIGHT},
    {"up", "Up", cUP},
    {"down", "Down", cDOWN},
    {"left", "Left", cLEFT},
    {"right", "Right", cRIGHT},
    {"p1", "P1", cP1},
    {"p1set", "P1Set", cP1Set},
    {"p2", "P2", cP2},
    {"p2set", "P2Set", cP2Set},
    {"p3", "P3", cP3},
    {"p3set", "P3Set", cP3Set},
    {"p4", "P4", cP4},
    {"p4set", "P4Set", cP4Set},
    {"enter", "Enter", ccEnter},
    {"clearall", "ClearAll", cPClearAll},
    {"pclearall", "ClearAll", cPClearAll},
    {"sweep", "Sweep", cSWEEP},
    {"sweepprogram", "SweepProgram", cSWEEPProgram},
    {"allunitsoff", "AllUnitsOff", cAllUnitsOff},
    {"alllightsoff", "AllLightsOff", cAllLightsOff},
    {"alllightson", "AllLightsOn", cAllLightsOn},
};

std::string lower(std::string s) {
    std::string out;
    for (char c : s)
        if (c != '_' && c != '-')
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// What the bytes of one frame mean, in the words of the command table.
std::string meaning(const Bytes& bytes) {
    if (bytes == X10FrameCodec::InitialisationFrame()) return "initialisation";
    if (bytes.empty()) return "empty";
    const auto decoded = X10FrameCodec::DecodeFrame(bytes);
    if (const auto* r = std::get_if<X10FrameCodec::Received>(&decoded)) {
        std::string text = r->housecode;
        if (r->devicecode > 0) text += std::to_string(r->devicecode);
        for (const auto& c : kCommands)
            if (c.command == r->command) return text + " " + c.shown;
        return text + " ?";
    }
    if (std::holds_alternative<X10FrameCodec::ReceivedUnknown>(decoded)) return "unknown";
    return "ignored (bad check or filler)";
}

// "W 20 60 9F 08 F7  A3 On"; a read of no bytes is "R  empty".
std::string frameLine(char direction, const Bytes& bytes) {
    std::string text(1, direction);
    if (!bytes.empty()) text += " " + vb::hexBytes(bytes);
    return text + "  " + meaning(bytes);
}

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
}
void complain(const std::string& line) {
    std::fprintf(stderr, "virtual-cm19a: %s\n", line.c_str());
}

struct Send {
    Bytes bytes;
};
struct Plug {};
struct Unplug {};
struct Wait {
    long ms;
};
struct Quit {};
struct Help {};
using Command = std::variant<Send, Plug, Unplug, Wait, Quit, Help>;

std::optional<Bytes> parseHex(std::istringstream& in, std::string& error) {
    Bytes bytes;
    std::string token;
    while (in >> token) {
        if (token.starts_with("0x") || token.starts_with("0X")) token = token.substr(2);
        if (token.empty() || (token.size() % 2 != 0 && token.size() != 1)) {
            error = "not a hex byte: " + token;
            return std::nullopt;
        }
        if (token.size() == 1) token = "0" + token;
        for (std::size_t i = 0; i < token.size(); i += 2) {
            const std::string pair = token.substr(i, 2);
            if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
                !std::isxdigit(static_cast<unsigned char>(pair[1]))) {
                error = "not a hex byte: " + pair;
                return std::nullopt;
            }
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
        }
    }
    return bytes;
}

std::optional<Command> parse(const std::string& line, std::string& error) {
    std::istringstream in(line);
    std::string first;
    if (!(in >> first)) return std::nullopt;
    const std::string word = lower(first);
    if (word == "quit" || word == "exit") return Quit{};
    if (word == "help" || word == "?") return Help{};
    if (word == "plug") return Plug{};
    if (word == "unplug") return Unplug{};
    if (word == "empty") return Send{};
    if (word == "wait") {
        long ms = -1;
        if (!(in >> ms) || ms < 0) {
            error = "wait needs milliseconds";
            return std::nullopt;
        }
        return Wait{ms};
    }
    if (word == "raw") {
        auto bytes = parseHex(in, error);
        if (!bytes) return std::nullopt;
        return Send{*bytes};
    }

    // <house>[unit] <button>
    const char house = static_cast<char>(std::toupper(static_cast<unsigned char>(first[0])));
    int unit = 1;
    if (house < 'A' || house > 'P') {
        error = "unknown command: " + line;
        return std::nullopt;
    }
    if (first.size() > 1) {
        const std::string digits = first.substr(1);
        const bool number =
            digits.size() <= 2 && std::all_of(digits.begin(), digits.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c)) != 0;
            });
        unit = number ? std::stoi(digits) : 0;
        if (unit < 1 || unit > 16) {
            error = "unit must be 1 to 16: " + first;
            return std::nullopt;
        }
    }
    std::string button;
    if (!(in >> button)) {
        error = "which button? " + line;
        return std::nullopt;
    }
    button = lower(button);
    for (const auto& c : kCommands)
        if (button == c.word)
            return Send{X10FrameCodec::BuildFrame(std::string(1, house), unit, c.command)};
    error = "unknown button: " + button;
    return std::nullopt;
}

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: virtual-cm19a <bus-folder> [name] [--send COMMAND]... "
                 "[--exit-after-ms N]\n"
                 "commands: A3 on | A3 off | A dim | A bright | A up/down/left/right |"
                 " A p1..p4 | A p1set..p4set | A enter | A clearall | A sweep |"
                 " A sweepprogram | A allunitsoff | A alllightsoff | A alllightson |"
                 " raw <hex bytes> | empty | unplug | plug | wait <ms> | quit\n");
}

struct QueuedCommand {
    std::string line;
    bool fromArguments;
};

class Session {
public:
    explicit Session(VirtualCm19a& device) : m_device(device) {}

    void queue(std::string line, bool fromArguments) {
        m_queue.push_back({std::move(line), fromArguments});
    }
    bool quitting() const { return m_quit; }

    // Runs queued commands whose turn has come; returns the time of the next
    // turn when a wait holds them back.
    std::optional<Clock::time_point> runQueue() {
        while (!m_quit && !m_queue.empty()) {
            if (Clock::now() < m_resume) return m_resume;
            // The arguments script presses buttons for a listening gateway.
            if (m_queue.front().fromArguments && !m_everConnected) return std::nullopt;
            const std::string line = m_queue.front().line;
            m_queue.pop_front();
            run(line);
        }
        return std::nullopt;
    }

    void onConnection() {
        bool replaced = false;
        if (!m_device.accept(replaced)) return;
        if (replaced) say("disconnected");
        say("connected");
        m_everConnected = true;
    }

    void onClientReadable() {
        while (auto packet = m_device.receive()) {
            if (packet->hungUp) {
                m_device.disconnect();
                say("disconnected");
                return;
            }
            if (packet->data.empty()) continue;
            const Bytes payload(packet->data.begin() + 1, packet->data.end());
            if (packet->data[0] == VirtualPacket::kWrite)
                say(frameLine(VirtualPacket::kWrite, payload));
            else
                say("? " + vb::hexBytes(Bytes(packet->data.begin(), packet->data.end())));
        }
    }

private:
    void run(const std::string& line) {
        std::string error;
        std::optional<Command> command;
        try {
            command = parse(line, error);
        } catch (const RuntimeError& e) {
            error = e.description();
        }
        if (!command) {
            if (!error.empty()) complain(error);
            return;
        }
        std::visit([this](auto& c) { apply(c); }, *command);
    }

    void apply(const Send& s) {
        if (!m_device.connected()) {
            complain("not sent, no program is connected: " + vb::hexBytes(s.bytes));
            return;
        }
        if (!m_device.sendRead(s.bytes)) {
            complain("not sent, the program does not take it: " + vb::hexBytes(s.bytes));
            return;
        }
        say(frameLine(VirtualPacket::kRead, s.bytes));
    }
    void apply(const Plug&) {
        if (m_device.plugged()) return;
        std::string error;
        if (!m_device.plug(error))
            complain(error);
        else
            say("ready " + m_device.path());
    }
    void apply(const Unplug&) {
        const bool wasConnected = m_device.connected();
        m_device.unplug();
        if (wasConnected) say("disconnected");
        say("unplugged");
    }
    void apply(const Wait& w) { m_resume = Clock::now() + std::chrono::milliseconds(w.ms); }
    void apply(const Quit&) { m_quit = true; }
    void apply(const Help&) { usage(stdout); }

    VirtualCm19a& m_device;
    std::deque<QueuedCommand> m_queue;
    Clock::time_point m_resume{};
    bool m_everConnected = false;
    bool m_quit = false;
};

int millisecondsUntil(Clock::time_point t) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 60'000));
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional, sends;
    std::optional<Clock::time_point> exitAt;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if ((arg == "--send" || arg == "--exit-after-ms") && i + 1 >= argc) {
            usage(stderr);
            return 2;
        }
        if (arg == "--send") {
            sends.push_back(argv[++i]);
        } else if (arg == "--exit-after-ms") {
            char* end = nullptr;
            const long ms = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || ms < 0) {
                usage(stderr);
                return 2;
            }
            exitAt = Clock::now() + std::chrono::milliseconds(ms);
        } else if (arg.starts_with("--")) {
            usage(stderr);
            return 2;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty() || positional.size() > 2) {
        usage(stderr);
        return 2;
    }

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction stop {};
    stop.sa_handler = onSignal;  // no SA_RESTART: poll returns so the loop can end
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);

    VirtualCm19a device(positional[0], positional.size() > 1 ? positional[1] : "cm19a");
    std::string error;
    if (!device.plug(error)) {
        complain(error);
        return 1;
    }
    say("ready " + device.path());

    Session session(device);
    for (auto& s : sends) session.queue(s, true);
    bool stdinOpen = true;
    std::string pending;

    while (!g_stop && !session.quitting()) {
        std::optional<Clock::time_point> wake = session.runQueue();
        if (session.quitting()) break;
        if (exitAt && (!wake || *exitAt < *wake)) wake = exitAt;
        if (exitAt && Clock::now() >= *exitAt) break;

        std::vector<pollfd> fds;
        if (device.listenFd() >= 0) fds.push_back({device.listenFd(), POLLIN, 0});
        if (device.clientFd() >= 0) fds.push_back({device.clientFd(), POLLIN | POLLRDHUP, 0});
        if (stdinOpen) fds.push_back({STDIN_FILENO, POLLIN, 0});
        const int timeout = wake ? millisecondsUntil(*wake) : -1;
        if (::poll(fds.data(), fds.size(), timeout) <= 0) continue;

        for (const pollfd& p : fds) {
            if (p.revents == 0) continue;
            if (p.fd == device.listenFd()) {
                session.onConnection();
            } else if (p.fd == device.clientFd()) {
                session.onClientReadable();
            } else if (p.fd == STDIN_FILENO) {
                char buffer[1024];
                const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
                if (n <= 0) {
                    stdinOpen = false;
                    // At a terminal, end of input means done; a script's closed
                    // or empty stdin leaves the device playing.
                    if (::isatty(STDIN_FILENO)) g_stop = 1;
                    continue;
                }
                pending.append(buffer, static_cast<std::size_t>(n));
                std::size_t eol;
                while ((eol = pending.find('\n')) != std::string::npos) {
                    std::string line = pending.substr(0, eol);
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    pending.erase(0, eol + 1);
                    session.queue(std::move(line), false);
                }
            }
        }
    }
    device.unplug();
    return 0;
}
