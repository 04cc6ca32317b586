#pragma once
// Where the program's files live. The program folder is the folder named by the
// environment variable BRINDLE_HOME, or else the folder of the running
// executable. Below it: Config/, Data/, HTML/, Scripts/.
//
// Paths written the Windows way ("\Config\x") are mapped by turning every "\"
// into "/".

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ProgramFolder {

// The program folder, without a trailing "/".
std::string path();
// The executable's file name without folder ("brindle").
std::string programName();
// The full path of the executable that runs; empty when the system will not say.
std::string executablePath();
// "\" to "/".
std::string mapPath(std::string_view systemPath);
// Finds an existing file or folder below base whose relative path equals
// relative ignoring case (request paths arrive lower-cased). Returns the path
// as it exists on disk, or base/relative when nothing matches. When folders is
// given, each folder whose entries decided a step is added to it (a change of
// those entries, seen in the folder's modification time, can change the answer).
std::filesystem::path resolveIgnoringCase(const std::filesystem::path& base,
                                          std::string_view relative,
                                          std::vector<std::filesystem::path>* folders = nullptr);

}  // namespace ProgramFolder
