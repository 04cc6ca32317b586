#pragma once
// xap-send's command line turned into one xAP message and where to send it.
//
//   [options] CLASS BLOCK.KEY=VALUE...
//
// An argument's block is everything before the last "." that precedes its
// first "=" (block names such as "Echo.Query" hold dots; keys do not), the
// value everything after that "=". Blocks appear in the order first named,
// each with its items in argument order. parse() refuses what would not make
// one well-formed message: no class, no item, an empty block or key, braces in
// a block name, control characters anywhere (a line break in a value would
// start a line of its own).

#include <string>
#include <vector>

class XapSendCommand {
public:
    static constexpr int kXapPort = 3639;

    // Fills the fields below; false with a one-line reason in *error.
    bool parse(const std::vector<std::string>& args, std::string* error);
    // The message text, built with the gateway's own codec.
    std::string text() const;

    bool help = false;
    bool print = false;
    std::string host = "127.0.0.1";
    int port = kXapPort;
    std::string msgClass;
    std::string source;  // "brindle.xap-send.<host name>" when not given
    std::string target;  // none when empty
    std::string uid = "FF00D700";

    struct Block {
        std::string name;
        std::vector<std::pair<std::string, std::string>> items;
    };
    std::vector<Block> blocks;

    static const char* usage();
};
