#pragma once
// The program's reader and writer of INI-style settings files. Load reads the
// whole file into memory; reads and writes are answered from memory; Save writes
// the whole store back, sorted by section and key, with upper-cased section
// names and without comments or blank lines.
//
// Storage: one case-insensitive, insertion-ordered dictionary holding two kinds
// of entries, told apart by their form only:
//   section entry   key = section name                   value = name as first seen
//   value entry     key = section name, "\x03", key name  value = value text
// Key names and values are kept exactly as they stood on either side of the
// first "=" (no trimming). Keys before any section header belong to the section
// with the empty name.
//
// Failures: a missing file loads as an empty store; a file that exists but
// cannot be read raises a RuntimeError to the caller. A byte-order mark at the
// start of the file is skipped. WriteKey blanks CR and LF in names and values
// and refuses (error log, RuntimeError) a key that would read back as a
// comment, a section header or another key. Save never raises: it reports its
// failure to the error log and standard error, and through the event log when
// the host object exists, and leaves the file on disk exactly as it was (the
// new text is built in memory and replaces the file atomically).
//
// One thread; no locks.

#include <string>
#include <string_view>
#include <vector>

#include "base/OrderedDictionary.h"

class IniTool {
public:
    // Empties the store and remembers fPath for Save, whether or not it exists.
    void Load(const std::string& fPath);
    // Empties the store and reads text as Load reads a file's contents; the
    // path stays.
    void LoadText(std::string_view text);
    // Kept for callers that still invoke it; it has nothing to do.
    void DumpHashTable();
    // The value, or defaultvalue when the key is missing or its value is empty.
    std::string Read(const std::string& header, const std::string& Key,
                     const std::string& defaultvalue) const;
    // Sets a value, adding the section and the key as needed.
    void WriteKey(const std::string& header, const std::string& Key, const std::string& newValue);
    void RemoveKey(const std::string& header, const std::string& Key);
    // Removes the section's value entries; the section entry itself stays.
    void RemoveSection(const std::string& header);
    // Section names in the order first seen. Never empty: a store without
    // sections gives one empty string.
    std::vector<std::string> Headers() const;
    // Key names of one section, in insertion order. The header is used as a
    // case-insensitive regular expression anchored at the start, so pattern
    // characters in a section name keep their meaning. A section without keys,
    // a name that is not a valid pattern, or one whose repeats would write it
    // out past a thousand steps (".{5000}") or whose groups nest more than 64
    // deep, gives one empty string.
    std::vector<std::string> Keys(const std::string& header) const;
    // Empties the store; the path stays.
    void Clear();
    // Writes the store to path(), first copying an existing file to path()+"_bck".
    void Save();

    const std::string& path() const { return m_path; }

private:
    OrderedDictionary<std::string> m_dict;
    std::string m_path;
};
