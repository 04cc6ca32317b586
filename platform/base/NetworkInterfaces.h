#pragma once
// The IPv4 addresses of this machine's network interfaces, among which the
// xAP transport chooses its local address. Only interfaces that are up and
// running (switched on, with a carrier) count. The order is stable from one
// start to the next: addresses of interfaces other than loopback first, then
// loopback; within each, by interface index, then as the system lists them.

#include <string>
#include <vector>

class NetworkInterfaces {
public:
    struct Address {
        std::string address;  // dotted quad
        unsigned index = 0;   // the interface's index
        bool running = false;
        bool loopback = false;
    };

    // Every IPv4 address the system reports now; empty when it cannot be asked.
    static std::vector<Address> query();
    // The addresses of running interfaces in the order above, without repeats;
    // an address in 127.0.0.0/8 counts as loopback wherever it sits.
    static std::vector<std::string> ordered(std::vector<Address> all);
    // ordered(query()).
    static std::vector<std::string> upIPv4();
    // Whether a dotted quad lies in 127.0.0.0/8.
    static bool isLoopback(const std::string& address);
};
