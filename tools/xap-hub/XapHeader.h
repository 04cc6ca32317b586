#pragma once
// The first block of an xAP text, which is all a hub or a listener needs: the
// block's name ("xap-header" for messages, "xap-hbeat" for heartbeats) and the
// header items that say who sent it and, for heartbeats, where it listens.
//
// parse() reads outside input and never raises: anything that is not a first
// line, "{", items and "}" gives nullopt. Keys are compared ignoring case,
// keys and values are trimmed of blanks and a CR; the first of a repeated key
// counts. Work is bounded by the text's length.

#include <optional>
#include <string>
#include <string_view>

struct XapHeader {
    std::string name;  // the first line, lower-cased ("xap-hbeat", "xap-header")
    std::string msgClass;
    std::string source;
    std::string target;
    std::string uid;
    int port = 0;      // 1 to 65535 when the "port" item is a plain decimal in range
    int interval = 0;  // seconds, 1 or more when the "interval" item is a plain decimal

    bool isHeartbeat() const { return name == "xap-hbeat"; }

    static std::optional<XapHeader> parse(std::string_view text);
};
