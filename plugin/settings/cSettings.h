#pragma once
// Everything the user configures in the plug-in: eight rules per house code,
// the debounce time, the log detail and the named custom radio codes.
//
// Each instance loads HKEY_LOCAL_MACHINE\Software\Quillon from the registry it
// is given when it is created; missing values take their defaults and nothing
// is written until Save. Setting a property changes memory only; Save writes
// every value and replaces the Custom subkey with exactly the codes in memory,
// as one save of the registry file.
//
// House index = letter - 'A' (A = 0 ... P = 15). The per-house tables have 17
// cells; cell 16 is never loaded or saved and keeps its default. An index
// outside 0 to 16 raises 9 "Subscript out of range".
//
// Custom codes are two parallel lists, names and data, positions 1-based. The
// data list is keyed by name + "#", ignoring case. A missing position or name
// raises 5 "Invalid procedure call or argument"; adding a name that exists
// raises 457 and changes nothing.
//
// The plug-in hands its instance out by name (the `Settings` property of
// hspi), so every member above is also reachable through Invoke; `Logging`
// travels there as its number.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "binding/Dispatch.h"
#include "binding/Variant.h"
#include "registry/Registry.h"

enum ELogLevel : int32_t { LogNormal = 0, LogMinimum = 1, LogDebug = 2 };

class cSettings : public Dispatch {
public:
    explicit cSettings(Registry& registry = Registry::instance());

    std::string className() const override { return "cSettings"; }

    std::string Remap(int16_t Index) const;
    void Remap(int16_t Index, const std::string& value);
    bool Enabled(int16_t Index) const;
    void Enabled(int16_t Index, bool value);
    bool Retransmit(int16_t Index) const;
    void Retransmit(int16_t Index, bool value);
    int16_t UnitOffset(int16_t Index) const;
    void UnitOffset(int16_t Index, int16_t value);
    bool IgnoreALN(int16_t Index) const;
    void IgnoreALN(int16_t Index, bool value);
    bool IgnoreALF(int16_t Index) const;
    void IgnoreALF(int16_t Index, bool value);
    bool IgnoreAUF(int16_t Index) const;
    void IgnoreAUF(int16_t Index, bool value);
    bool NinjaEmu(int16_t Index) const;
    void NinjaEmu(int16_t Index, bool value);

    int32_t DebounceTime() const { return m_debounceTime; }
    void DebounceTime(int32_t value) { m_debounceTime = value; }
    ELogLevel Logging() const { return m_logging; }
    void Logging(ELogLevel value) { m_logging = value; }

    // The registry this instance loads from and saves to.
    Registry& registry() const { return *m_registry; }

    // Raises 75 when the registry file could not be written.
    void Save();

    // Returns the new count, which is the new code's position.
    int32_t CustomAdd(const std::string& Name, const std::vector<uint8_t>& Bin);
    // A number selects a position; anything else is a name. A text that reads as
    // a number is looked up as a key as it is, and so never matches.
    std::vector<uint8_t> CustomRaw(const Variant& Index) const;
    std::string CustomName(int32_t Index) const;
    int32_t CustomCount() const { return static_cast<int32_t>(m_customNames.size()); }
    void CustomRemove(int32_t Index);
    void CustomClear();

protected:
    const MemberTable& members() const override;

private:
    static constexpr size_t kCells = 17;
    template <typename T>
    using HouseTable = std::array<T, kCells>;

    void load();
    size_t position(int32_t Index) const;  // 0-based, or raises 5

    Registry* m_registry;
    HouseTable<std::string> m_remap;
    HouseTable<bool> m_enabled{};
    HouseTable<bool> m_retransmit{};
    HouseTable<int16_t> m_unitOffset{};
    HouseTable<bool> m_ignoreALN{};
    HouseTable<bool> m_ignoreALF{};
    HouseTable<bool> m_ignoreAUF{};
    HouseTable<bool> m_ninjaEmu{};
    int32_t m_debounceTime = 750;
    ELogLevel m_logging = LogNormal;
    std::vector<std::string> m_customNames;
    // Keyed by name + "#"; kept in step with the names.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> m_customData;
};
