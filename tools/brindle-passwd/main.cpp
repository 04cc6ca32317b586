// brindle-passwd <program folder> <user>
// Reads the password twice from the terminal without echo (or once from a pipe)
// and stores its salted hash for the user in <folder>/Config/webusers.ini.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "web/WebUsers.h"

namespace {

// One line from standard input, without echo when it is a terminal.
bool readSecret(const char* prompt, std::string& out) {
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool ok = static_cast<bool>(std::getline(std::cin, out));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: brindle-passwd <program folder> <user>\n");
        return 2;
    }
    const std::string user = argv[2];
    std::string password;
    if (!readSecret("Password: ", password) || password.empty()) {
        std::fprintf(stderr, "brindle-passwd: no password given, nothing stored\n");
        return 1;
    }
    if (::isatty(STDIN_FILENO) != 0) {
        std::string again;
        if (!readSecret("Again: ", again) || again != password) {
            std::fprintf(stderr, "brindle-passwd: the passwords differ, nothing stored\n");
            return 1;
        }
    }
    const std::filesystem::path config = std::filesystem::path(argv[1]) / "Config";
    if (!WebUsers::store(config, user, password)) {
        std::fprintf(stderr, "brindle-passwd: could not store user \"%s\" in %s\n", user.c_str(),
                     (config / WebUsers::kFile).c_str());
        return 1;
    }
    std::fprintf(stderr, "brindle-passwd: user \"%s\" stored in %s\n", user.c_str(),
                 (config / WebUsers::kFile).c_str());
    return 0;
}
