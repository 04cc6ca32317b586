#include "host/IniCache.h"

#include "base/AtomicFile.h"
#include "base/Convert.h"
#include "base/ProgramFolder.h"
#include "xap/XapLog.h"

namespace fs = std::filesystem;

namespace {

const std::string& fileOrDefault(const std::string& sFile) {
    static const std::string kDefault = "qixBrindle.ini";
    return sFile.empty() ? kDefault : sFile;
}

}  // namespace

size_t IniCache::OpenIniFile(const std::string& name, bool noReload) {
    const std::string lowered = vb::LCase(name);
    // The cache treats names ignoring case, so the disk must too: otherwise a
    // second spelling would create a fresh empty file on a case-sensitive file
    // system and reload the slot from it.
    const fs::path full =
        ProgramFolder::resolveIgnoringCase(fs::path(ProgramFolder::path()) / "Config", name);

    if (!fs::exists(full)) writeFileAtomically(full, {});

    for (size_t slot = 0; slot < m_slots.size(); ++slot) {
        Slot& s = m_slots[slot];
        if (s.name != lowered) continue;
        const fs::file_time_type modified = fs::last_write_time(full);
        if (modified > s.stamp) {
            s.stamp = modified;
            if (!noReload) s.store.Load(full.string());
        }
        return slot;
    }

    Slot s;
    s.name = lowered;
    s.stamp = fs::last_write_time(full);
    s.store.Load(full.string());
    m_slots.push_back(std::move(s));
    return m_slots.size() - 1;
}

std::string IniCache::GetINISetting(const std::string& group, const std::string& Key,
                                    const std::string& defaultValue, const std::string& sFile) {
    return guarded("GetIniSetting ", {}, [&]() -> std::string {
        const size_t slot = OpenIniFile(fileOrDefault(sFile), false);
        return m_slots[slot].store.Read(group, Key, defaultValue);
    });
}

void IniCache::SaveINISetting(const std::string& group, const std::string& Key,
                              const std::string& Value, const std::string& sFile) {
    guarded("SaveINISetting ", [&] {
        // No reload here: a newer file on disk must not wipe out settings
        // changed earlier in this run and not yet flushed.
        const size_t slot = OpenIniFile(fileOrDefault(sFile), true);
        m_slots[slot].store.WriteKey(group, Key, Value);
        m_slots[slot].dirty = true;
    });
}

std::string IniCache::GetINISection(const std::string& group, const std::string& sFile) {
    return guarded("GetINISection ", {}, [&]() -> std::string {
        const size_t slot = OpenIniFile(fileOrDefault(sFile), false);
        const IniTool& store = m_slots[slot].store;
        const std::vector<std::string> names = store.Keys(group);
        if (names.size() == 1 && names.front().empty()) return {};
        std::string text;
        for (const std::string& key : names) {
            text.push_back('\0');
            text += key + "=" + store.Read(group, key, {});
        }
        return text.substr(1);
    });
}

void IniCache::ClearIniSection(const std::string& group, const std::string& sFile) {
    guarded("ClearIniSection ", [&] {
        const size_t slot = OpenIniFile(fileOrDefault(sFile), false);
        m_slots[slot].store.RemoveSection(group);
    });
}

void IniCache::FlushIniCache() {
    guarded("FlushIniCache ", [&] {
        for (Slot& s : m_slots) {
            if (!s.dirty) continue;
            // Save reports its own failure; the flag is cleared either way, and
            // the changes stay in memory for the next save of this file.
            s.store.Save();
            s.dirty = false;
        }
    });
}
