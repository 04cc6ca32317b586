#pragma once
// A whole file as bytes: read (empty when it cannot be opened) and written.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

inline std::string readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeAll(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}
