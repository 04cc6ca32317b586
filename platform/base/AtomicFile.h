#pragma once
// Replaces a file's contents without ever leaving it half written: the text goes
// to a temporary file in the same folder, is flushed to disk, and is renamed
// over the old file. A failure leaves the old file as it was and raises a
// run-time fault (number 75, "Path/File access error: " and the reason).

#include <filesystem>
#include <string_view>

void writeFileAtomically(const std::filesystem::path& file, std::string_view content);

// Removes the temporary files that writeFileAtomically left in `folder` when the
// process was killed during a save ("<name>.tmp-XXXXXX", last changed more than
// `minAgeSeconds` ago, so a save in progress is never touched). Never raises;
// returns how many it removed.
int removeStaleTemporaryFiles(const std::filesystem::path& folder, int minAgeSeconds = 60);
