#pragma once
// The two fixed vocabularies of the bridge: the command words, whose position
// is the transceiver's command code, and the standard X10 function names by
// function code.

#include <array>
#include <string>
#include <string_view>

class X10Words {
public:
    static constexpr int kLastWord = 20;
    static constexpr int kLastFunction = 15;

    // Position 0 is the empty word; out-of-range positions give the empty string.
    static const std::string& Word(int position);
    static const std::string& FunctionName(int code);
    // The position of a word compared ignoring case (1 to 20), or -1.
    static int Position(std::string_view word);
    static const std::array<std::string, kLastWord + 1>& Words();
    static const std::array<std::string, kLastFunction + 1>& FunctionNames();
};
