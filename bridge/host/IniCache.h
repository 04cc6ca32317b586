#pragma once
// The host object's cache of open INI files: one IniTool per file name, kept for
// the life of the program, serving the host's settings members. Files live in
// the Config folder below the program folder; an empty file name means
// "qixBrindle.ini". Names are matched ignoring case, both in the cache and on
// disk, so every spelling of a name reaches the same file.
//
// Reads see the file as it is on disk: a file modified later than the cached
// time stamp is reloaded first, dropping unsaved changes. SaveINISetting only
// changes memory and marks the file dirty; FlushIniCache writes dirty files.
// ClearIniSection does not mark the file dirty.
//
// Each member catches faults at its own boundary, logs them ("brindlehub",
// member name and a space) and returns what it has: an empty string when the
// read itself failed.
//
// One thread; no locks. Slots are never removed.

#include <filesystem>
#include <string>
#include <vector>

#include "host/IniTool.h"

class IniCache {
public:
    std::string GetINISetting(const std::string& group, const std::string& Key,
                              const std::string& defaultValue, const std::string& sFile = {});
    void SaveINISetting(const std::string& group, const std::string& Key, const std::string& Value,
                        const std::string& sFile = {});
    // The section as key=value pairs separated by NUL characters, with no NUL at
    // either end; an empty text when the section has no keys.
    std::string GetINISection(const std::string& group, const std::string& sFile = {});
    void ClearIniSection(const std::string& group, const std::string& sFile = {});
    void FlushIniCache();

private:
    struct Slot {
        std::string name;  // lower-cased
        std::filesystem::file_time_type stamp;
        IniTool store;
        bool dirty = false;
    };

    // The slot of a file, creating the file (empty) and the slot as needed and
    // reloading a file that changed on disk unless noReload is set.
    size_t OpenIniFile(const std::string& name, bool noReload);

    std::vector<Slot> m_slots;
};
