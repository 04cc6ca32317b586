#pragma once
// The one run-time fault type of the program. A fault carries a number, a
// description and a source, as the fault handlers report them. Operations that
// catch their faults do so at their own boundary; everything else lets the fault
// travel up to the nearest such boundary.

#include <stdexcept>
#include <string>

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const std::string& description, const std::string& source = {});

    int number() const { return m_number; }
    const std::string& description() const { return m_description; }
    const std::string& source() const { return m_source; }

    // Numbers used across the program, named as the messages they stand for.
    static constexpr int kInvalidCall = 5;
    static constexpr int kOverflow = 6;
    static constexpr int kSubscriptOutOfRange = 9;
    static constexpr int kTypeMismatch = 13;
    static constexpr int kFileNotFound = 53;
    static constexpr int kPathNotFound = 76;
    static constexpr int kObjectRequired = 91;
    static constexpr int kCannotCreateObject = 429;
    static constexpr int kMemberNotFound = 438;

private:
    int m_number;
    std::string m_description;
    std::string m_source;
};

[[noreturn]] void raiseError(int number, const std::string& description,
                             const std::string& source = {});
