#include "settings/cSettings.h"

#include "base/Convert.h"
#include "base/RuntimeError.h"
#include "settings/cRegistry.h"

namespace {

const std::string kSection = "Software\\Quillon";
const std::string kCustomSection = kSection + "\\Custom";
constexpr int kFileAccessError = 75;
constexpr int kDuplicateKey = 457;

size_t cell(int16_t Index) {
    if (Index < 0 || Index > 16)
        raiseError(RuntimeError::kSubscriptOutOfRange, "Subscript out of range");
    return static_cast<size_t>(Index);
}

std::string houseLetter(size_t index) {
    return std::string(1, static_cast<char>('A' + index));
}

// A custom code edited into another type keeps its data: a number as its four
// stored bytes, a text as its characters.
std::vector<uint8_t> bytesOf(const Variant& value) {
    if (value.type() == Variant::Type::Long) {
        const auto n = static_cast<uint32_t>(value.toLong());
        return {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
    }
    return value.toBytes();
}

}  // namespace

cSettings::cSettings(Registry& registry) : m_registry(&registry) {
    for (size_t i = 0; i < kCells; ++i) m_remap[i] = houseLetter(i);
    m_enabled.fill(true);
    load();
}

void cSettings::load() {
    cRegistry reg(*m_registry);
    reg.ClassKey(Registry::HKEY_LOCAL_MACHINE);
    reg.SectionKey(kSection);
    auto read = [&reg](const std::string& name, uint32_t type, const Variant& def) {
        reg.ValueKey(name);
        reg.ValueType(type);
        reg.Default(def);
        return reg.Value();
    };
    // The file is edited by hand: a value that does not convert to its setting's
    // type leaves the default in place rather than failing the whole load.
    auto readBoolean = [&read](const std::string& name, bool& target) {
        try {
            target = read(name, Registry::REG_SZ, target).toBool();
        } catch (const RuntimeError&) {
        }
    };
    for (size_t i = 0; i < 16; ++i) {
        const std::string letter = houseLetter(i);
        m_remap[i] = read("Remap " + letter, Registry::REG_SZ, m_remap[i]).toString();
        readBoolean("Enabled " + letter, m_enabled[i]);
        readBoolean("Retransmit " + letter, m_retransmit[i]);
        try {
            m_unitOffset[i] =
                read("UnitOffset " + letter, Registry::REG_DWORD, m_unitOffset[i]).toInt();
        } catch (const RuntimeError&) {
        }
        readBoolean("Ignore ALN " + letter, m_ignoreALN[i]);
        readBoolean("Ignore ALF " + letter, m_ignoreALF[i]);
        readBoolean("Ignore AUF " + letter, m_ignoreAUF[i]);
        readBoolean("Ninja Emu " + letter, m_ninjaEmu[i]);
    }
    try {
        m_debounceTime = read("DebounceTime", Registry::REG_DWORD, m_debounceTime).toLong();
    } catch (const RuntimeError&) {
    }
    try {
        m_logging = static_cast<ELogLevel>(
            read("Logging", Registry::REG_DWORD, int32_t{m_logging}).toLong());
    } catch (const RuntimeError&) {
    }

    reg.SectionKey(kCustomSection);
    std::vector<std::string> names;
    int32_t count = 0;
    reg.EnumerateValues(names, count);
    if (count == 0) return;
    for (const std::string& name : names) {
        m_customNames.push_back(name);
        m_customData.emplace_back(name + "#", bytesOf(read(name, Registry::REG_BINARY, {})));
    }
}

void cSettings::Save() {
    Registry::Batch batch(*m_registry);
    cRegistry reg(*m_registry);
    reg.ClassKey(Registry::HKEY_LOCAL_MACHINE);
    reg.SectionKey(kSection);
    if (!reg.KeyExists()) reg.CreateKey();
    auto write = [&reg](const std::string& name, uint32_t type, const Variant& value) {
        reg.ValueKey(name);
        reg.ValueType(type);
        reg.Value(value);
    };
    for (size_t i = 0; i < 16; ++i) {
        const std::string letter = houseLetter(i);
        write("Remap " + letter, Registry::REG_SZ, m_remap[i]);
        write("Enabled " + letter, Registry::REG_SZ, m_enabled[i]);
        write("Retransmit " + letter, Registry::REG_SZ, m_retransmit[i]);
        write("UnitOffset " + letter, Registry::REG_DWORD, int32_t{m_unitOffset[i]});
        write("Ignore ALN " + letter, Registry::REG_SZ, m_ignoreALN[i]);
        write("Ignore ALF " + letter, Registry::REG_SZ, m_ignoreALF[i]);
        write("Ignore AUF " + letter, Registry::REG_SZ, m_ignoreAUF[i]);
        write("Ninja Emu " + letter, Registry::REG_SZ, m_ninjaEmu[i]);
    }
    write("DebounceTime", Registry::REG_DWORD, m_debounceTime);
    write("Logging", Registry::REG_DWORD, int32_t{m_logging});

    // Dropping the whole key first is what makes the saved list exactly the one
    // in memory, removed codes included.
    reg.SectionKey(kCustomSection);
    reg.DeleteKey();
    for (size_t k = 0; k < m_customNames.size(); ++k)
        write(m_customNames[k], Registry::REG_BINARY, m_customData[k].second);

    if (batch.commit() != Registry::ERROR_SUCCESS)
        raiseError(kFileAccessError, "Path/File access error: " + m_registry->lastError(),
                   "cSettings");
}

#define HOUSE_PROPERTY(Name, Type, table)             \
    Type cSettings::Name(int16_t Index) const {       \
        return table[cell(Index)];                    \
    }                                                 \
    void cSettings::Name(int16_t Index, Type value) { \
        table[cell(Index)] = value;                   \
    }

HOUSE_PROPERTY(Enabled, bool, m_enabled)
HOUSE_PROPERTY(Retransmit, bool, m_retransmit)
HOUSE_PROPERTY(UnitOffset, int16_t, m_unitOffset)
HOUSE_PROPERTY(IgnoreALN, bool, m_ignoreALN)
HOUSE_PROPERTY(IgnoreALF, bool, m_ignoreALF)
HOUSE_PROPERTY(IgnoreAUF, bool, m_ignoreAUF)
HOUSE_PROPERTY(NinjaEmu, bool, m_ninjaEmu)
#undef HOUSE_PROPERTY

std::string cSettings::Remap(int16_t Index) const {
    return m_remap[cell(Index)];
}
void cSettings::Remap(int16_t Index, const std::string& value) {
    m_remap[cell(Index)] = value;
}

size_t cSettings::position(int32_t Index) const {
    if (Index < 1 || Index > CustomCount())
        raiseError(RuntimeError::kInvalidCall, "Invalid procedure call or argument");
    return static_cast<size_t>(Index - 1);
}

int32_t cSettings::CustomAdd(const std::string& Name, const std::vector<uint8_t>& Bin) {
    const std::string key = Name + "#";
    for (const auto& entry : m_customData)
        if (vb::equalsIgnoreCase(entry.first, key))
            raiseError(kDuplicateKey,
                       "This key is already associated with an element of this collection");
    m_customData.emplace_back(key, Bin);
    m_customNames.push_back(Name);
    return CustomCount();
}

std::vector<uint8_t> cSettings::CustomRaw(const Variant& Index) const {
    const bool isText = Index.type() == Variant::Type::String;
    if (Index.isNumeric() && !isText) return m_customData[position(Index.toLong())].second;
    // Keys all end in "#", so a text that reads as a number, used as the key
    // unchanged, finds nothing: such a code is reachable by position only.
    const std::string key = Index.isNumeric() ? Index.toString() : Index.toString() + "#";
    for (const auto& entry : m_customData)
        if (vb::equalsIgnoreCase(entry.first, key)) return entry.second;
    raiseError(RuntimeError::kInvalidCall, "Invalid procedure call or argument");
}

std::string cSettings::CustomName(int32_t Index) const {
    return m_customNames[position(Index)];
}

void cSettings::CustomRemove(int32_t Index) {
    const size_t at = position(Index);
    m_customData.erase(m_customData.begin() + static_cast<std::ptrdiff_t>(at));
    m_customNames.erase(m_customNames.begin() + static_cast<std::ptrdiff_t>(at));
}

void cSettings::CustomClear() {
    m_customData.clear();
    m_customNames.clear();
}

const MemberTable& cSettings::members() const {
    using S = cSettings;
    using Args = std::vector<Variant>;
    // The getters and setters share their names, so each side is picked by type.
    using GetText = std::string (S::*)(int16_t) const;
    using SetText = void (S::*)(int16_t, const std::string&);
    using GetFlag = bool (S::*)(int16_t) const;
    using SetFlag = void (S::*)(int16_t, bool);
    using GetShort = int16_t (S::*)(int16_t) const;
    using SetShort = void (S::*)(int16_t, int16_t);
    using GetLong = int32_t (S::*)() const;
    using SetLong = void (S::*)(int32_t);
    auto flag = [](std::string_view name, GetFlag get, SetFlag set) {
        return property(name, get, set);
    };
    // ELogLevel is no type that travels by name: it is read and written as its number.
    auto getLogging = [](S& s, Args& args) -> int32_t {
        if (!args.empty())
            raiseError(450, "Wrong number of arguments or invalid property assignment");
        return s.Logging();
    };
    auto letLogging = [](S& s, Args& args) {
        if (args.size() != 1)
            raiseError(450, "Wrong number of arguments or invalid property assignment");
        s.Logging(static_cast<ELogLevel>(args[0].toLong()));
    };
    static const MemberTable table = MemberTable::of<S>({
        property("Remap", static_cast<GetText>(&S::Remap), static_cast<SetText>(&S::Remap)),
        flag("Enabled", &S::Enabled, &S::Enabled),
        flag("Retransmit", &S::Retransmit, &S::Retransmit),
        property("UnitOffset", static_cast<GetShort>(&S::UnitOffset),
                 static_cast<SetShort>(&S::UnitOffset)),
        flag("IgnoreALN", &S::IgnoreALN, &S::IgnoreALN),
        flag("IgnoreALF", &S::IgnoreALF, &S::IgnoreALF),
        flag("IgnoreAUF", &S::IgnoreAUF, &S::IgnoreAUF),
        flag("NinjaEmu", &S::NinjaEmu, &S::NinjaEmu),
        property("DebounceTime", static_cast<GetLong>(&S::DebounceTime),
                 static_cast<SetLong>(&S::DebounceTime)),
        property("Logging", getLogging, letLogging),
        method("Save", &S::Save),
        method("CustomAdd", &S::CustomAdd),
        method("CustomRaw", &S::CustomRaw),
        method("CustomName", &S::CustomName),
        method("CustomCount", &S::CustomCount),
        method("CustomRemove", &S::CustomRemove),
        method("CustomClear", &S::CustomClear),
    });
    return table;
}
