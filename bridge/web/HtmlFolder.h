#pragma once
// Finds the file a request path names below the HTML folder. Request paths
// arrive lower-cased with "\" separators, so names are matched ignoring case.
// A path that would leave the folder (a ".." part, however it was encoded) or
// that names a hidden file (a part starting with ".") finds nothing, as does a
// folder or anything that is not an ordinary file.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace HtmlFolder {

std::optional<std::filesystem::path> find(const std::string& folder, std::string_view requestPath);

}  // namespace HtmlFolder
