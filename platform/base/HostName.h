#pragma once
// The computer's name and its IPv4 addresses, from the resolver.

#include <string>
#include <string_view>
#include <vector>

// The host name (at most 127 characters); empty when the system gives none.
std::string hostName();
// The computer name a host name stands for: the text before its first dot
// ("host.example.com" gives "host"). A computer name never holds a dot, and
// the gateway's xAP source is built from it.
std::string computerNameOf(std::string_view hostName);
// The IPv4 addresses of a name as dotted quads, in the resolver's order,
// without repeats; empty when it cannot be resolved.
std::vector<std::string> resolveIPv4(const std::string& name);
