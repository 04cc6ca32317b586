#pragma once
// One name and value of a query string or a posted form, as the request keeps
// them in its collections.

#include <string>

struct KeyValuePair {
    std::string Key;
    std::string Value;
};
