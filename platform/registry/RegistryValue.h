#pragma once
// One typed registry value, as both the registry and its file format hold it
// (see Registry.h for how each type's data is laid out).

#include <cstdint>
#include <string>

struct RegistryValue {
    static constexpr uint32_t REG_NONE = 0;
    static constexpr uint32_t REG_SZ = 1;
    static constexpr uint32_t REG_EXPAND_SZ = 2;
    static constexpr uint32_t REG_BINARY = 3;
    static constexpr uint32_t REG_DWORD = 4;
    static constexpr uint32_t REG_MULTI_SZ = 7;

    uint32_t type = REG_NONE;
    std::string data;
};
