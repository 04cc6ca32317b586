#include "host/IniCache.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>

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

IniCache::IniCache() = default;
IniCache::~IniCache() = default;

size_t IniCache::OpenIniFile(const std::string& name, bool noReload) {
    const std::string lowered = vb::LCase(name);
    const auto known = std::find_if(m_slots.begin(), m_slots.end(),
                                    [&](const Slot& s) { return s.name == lowered; });
    const auto index = static_cast<size_t>(known - m_slots.begin());
    if (known != m_slots.end() && known->checked) return index;

    // The cache treats names ignoring case, so the disk must too: otherwise a
    // second spelling would create a fresh empty file on a case-sensitive file
    // system and reload the slot from it. A file last found under the very
    // name asked for is found there again with one look at the disk, which
    // also gives its time; any other needs the full search.
    const fs::path config = fs::path(ProgramFolder::path()) / "Config";
    const fs::path exact = config / fs::path(ProgramFolder::mapPath(name)).relative_path();
    std::error_code ec;
    fs::file_time_type modified;
    fs::path full;
    if (known != m_slots.end() && known->path == exact) {
        modified = fs::last_write_time(exact, ec);
        if (!ec) full = exact;
    }
    if (full.empty()) {
        full = ProgramFolder::resolveIgnoringCase(config, name);
        if (!fs::exists(full)) writeFileAtomically(full, {});
        modified = fs::last_write_time(full);
    }

    if (known != m_slots.end()) {
        known->path = full;
        if (modified > known->stamp) {
            known->stamp = modified;
            if (!noReload) known->store.Load(full.string());
        }
    } else {
        Slot s;
        s.name = lowered;
        s.stamp = modified;
        s.path = full;
        s.store.Load(full.string());
        m_slots.push_back(std::move(s));
    }
    markChecked(m_slots[index]);
    return index;
}

void IniCache::markChecked(Slot& slot) {
    // Without an event loop there is no turn to end, so every access checks.
    if (QCoreApplication::instance() == nullptr) return;
    if (!m_turnEnd) {
        m_turnEnd = std::make_unique<QTimer>();
        m_turnEnd->setSingleShot(true);
        m_turnEnd->setInterval(0);
        QObject::connect(m_turnEnd.get(), &QTimer::timeout, [this] {
            for (Slot& s : m_slots) s.checked = false;
        });
    }
    slot.checked = true;
    if (!m_turnEnd->isActive()) m_turnEnd->start();
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
