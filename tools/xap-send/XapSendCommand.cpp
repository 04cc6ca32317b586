#include "xap-send/XapSendCommand.h"

#include <algorithm>

#include "base/HostName.h"
#include "xap/XapMessage.h"

namespace {

bool hasControl(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    });
}

bool fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

}  // namespace

const char* XapSendCommand::usage() {
    return "usage: xap-send [options] CLASS BLOCK.KEY=VALUE...\n"
           "\n"
           "Builds one xAP message and sends it as one UDP datagram, by default to\n"
           "the hub on this computer (127.0.0.1:3639), which relays it to every\n"
           "local xAP program.\n"
           "\n"
           "  --target ADDRESS   the message's target (default: none, for everyone)\n"
           "  --source ADDRESS   the message's source (default brindle.xap-send.<host>)\n"
           "  --uid UID          the message's UID (default FF00D700)\n"
           "  --to HOST          where to send: an IPv4 address, a name, or\n"
           "                     \"broadcast\" for 255.255.255.255 (default 127.0.0.1)\n"
           "  --port N           the UDP port (default 3639)\n"
           "  --print            also print the message on standard output\n"
           "  --help             this text\n"
           "\n"
           "Example: xap-send --target 'qix.CM19A.*' WDT.Echo Echo.Query.Query=Ping\n"
           "Exit status: 0 sent, 1 not sent, 2 bad arguments.\n";
}

bool XapSendCommand::parse(const std::vector<std::string>& args, std::string* error) {
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            help = true;
            return true;
        }
        if (a == "--print") {
            print = true;
            continue;
        }
        if (a.rfind("--", 0) == 0) {
            if (i + 1 >= args.size()) return fail(error, a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--target") {
                target = v;
            } else if (a == "--source") {
                source = v;
            } else if (a == "--uid") {
                uid = v;
            } else if (a == "--to") {
                host = v == "broadcast" ? "255.255.255.255" : v;
            } else if (a == "--port") {
                const bool digits =
                    !v.empty() && v.size() <= 5 &&
                    std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
                port = digits ? std::stoi(v) : 0;
                if (port < 1 || port > 65535) return fail(error, "bad port: " + v);
            } else {
                return fail(error, "unknown option " + a);
            }
            continue;
        }
        positional.push_back(a);
    }

    if (positional.empty()) return fail(error, "no message class");
    msgClass = positional.front();
    if (source.empty()) source = "brindle.xap-send." + hostName();
    for (const std::string* field : {&msgClass, &source, &target, &uid, &host})
        if (hasControl(*field)) return fail(error, "control characters in an option or class");
    if (msgClass.empty() || source.empty() || uid.empty() || host.empty())
        return fail(error, "empty class, source, UID or host");

    for (size_t i = 1; i < positional.size(); ++i) {
        const std::string& a = positional[i];
        const size_t eq = a.find('=');
        const size_t dot = eq == std::string::npos ? std::string::npos : a.rfind('.', eq);
        if (dot == std::string::npos || dot == 0 || dot + 1 == eq)
            return fail(error, "not BLOCK.KEY=VALUE: " + a);
        std::string name = a.substr(0, dot);
        std::string key = a.substr(dot + 1, eq - dot - 1);
        std::string value = a.substr(eq + 1);
        if (hasControl(a)) return fail(error, "control characters in " + name + "." + key);
        if (name.find_first_of("{}") != std::string::npos)
            return fail(error, "braces in block name " + name);
        auto block = std::find_if(blocks.begin(), blocks.end(),
                                  [&](const Block& b) { return b.name == name; });
        if (block == blocks.end()) {
            blocks.push_back(Block{std::move(name), {}});
            block = blocks.end() - 1;
        }
        block->items.emplace_back(std::move(key), std::move(value));
    }
    if (blocks.empty()) return fail(error, "no BLOCK.KEY=VALUE item");
    return true;
}

std::string XapSendCommand::text() const {
    XapMessage msg;
    msg.MsgClass = msgClass;
    msg.msgSource = source;
    msg.MsgTarget = target;
    msg.MsgUID = uid;
    msg.Init("");
    msg.AddHeader();
    for (const Block& b : blocks) {
        msg.AddSection(b.name);
        for (const auto& [key, value] : b.items) msg.AddItem(b.name, key, value);
    }
    return msg.ToXap();
}
