#pragma once
// The host object's cache of open INI files: one IniTool per file name, kept for
// the life of the program, serving the host's settings members. Files live in
// the Config folder below the program folder; an empty file name means
// "qixBrindle.ini". Names are matched ignoring case, both in the cache and on
// disk, so every spelling of a name reaches the same file.
//
// Reads see the file as it is on disk: a file modified later than the cached
// time stamp is reloaded first, dropping unsaved changes. With an application
// running, a file's name and freshness are checked once per event-loop turn
// (a page reads dozens of keys in one turn), so an edit on disk is seen from
// the next turn on; without one, at every access. SaveINISetting only
// changes memory and marks the file dirty; FlushIniCache writes dirty files.
// ClearIniSection does not mark the file dirty.
//
// Each member catches faults at its own boundary, logs them ("brindlehub",
// member name and a space) and returns what it has: an empty string when the
// read itself failed.
//
// One thread; no locks. Slots are never removed.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/IniTool.h"

class QTimer;

class IniCache {
public:
    IniCache();
    ~IniCache();
    IniCache(const IniCache&) = delete;
    IniCache& operator=(const IniCache&) = delete;

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
        std::filesystem::path path;  // where it was last found
        IniTool store;
        bool dirty = false;
        bool checked = false;  // name and stamp checked in this event-loop turn
    };

    // The slot of a file, creating the file (empty) and the slot as needed and
    // reloading a file that changed on disk unless noReload is set.
    size_t OpenIniFile(const std::string& name, bool noReload);
    // Spares the slot's checks until the current event-loop turn is over.
    void markChecked(Slot& slot);

    std::vector<Slot> m_slots;
    // Fires once the current event-loop turn is over and forgets the checks.
    std::unique_ptr<QTimer> m_turnEnd;
};
