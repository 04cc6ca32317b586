#pragma once
// A small wrapper over one registry value: set ClassKey (a root handle such as
// Registry::HKEY_LOCAL_MACHINE), SectionKey (key path below it), ValueKey
// (value name) and ValueType, then read or write Value. The plug-in's settings
// and its transceiver lookup use it.
//
// Works on the registry given at construction (the process's by default),
// which must outlive it. Reading never fails: a key or value that cannot be
// read gives Default. Writing Value raises a run-time fault when the registry
// refuses the write (75 when it could not be saved to disk, 5 otherwise); the
// other operations report failure as false.

#include <cstdint>
#include <string>
#include <vector>

#include "binding/Variant.h"
#include "registry/Registry.h"

class cRegistry {
public:
    explicit cRegistry(Registry& registry = Registry::instance());

    // Plain properties. Defaults: HKEY_LOCAL_MACHINE, "", "", REG_SZ, Empty.
    uint32_t ClassKey() const { return m_classKey; }
    void ClassKey(uint32_t value) { m_classKey = value; }
    const std::string& SectionKey() const { return m_sectionKey; }
    void SectionKey(const std::string& value) { m_sectionKey = value; }
    const std::string& ValueKey() const { return m_valueKey; }
    void ValueKey(const std::string& value) { m_valueKey = value; }
    uint32_t ValueType() const { return m_valueType; }
    void ValueType(uint32_t value) { m_valueType = value; }
    const Variant& Default() const { return m_default; }
    void Default(const Variant& value) { m_default = value; }

    bool KeyExists() const;
    bool CreateKey();
    // Deletes SectionKey with all its subkeys and values.
    bool DeleteKey();
    bool DeleteValue();

    // Reads ValueKey by the type it is stored with (ValueType is not consulted
    // and not changed): REG_SZ and REG_MULTI_SZ as text without the final NUL,
    // REG_EXPAND_SZ as text with %NAME% replaced from the environment (unknown
    // names stay as written), REG_DWORD as a Long, REG_BINARY and any other type
    // as a byte array. A REG_DWORD not four bytes long counts as unreadable.
    Variant Value() const;
    // Creates SectionKey as needed and writes ValueKey as ValueType, converting as
    // Variant converts: text types take the text (a Boolean becomes "True" or
    // "False") plus one NUL, REG_DWORD the Long (True is -1), REG_BINARY and other
    // types the byte array (a text gives its bytes). A value that does not
    // convert raises the conversion's fault and writes nothing.
    void Value(const Variant& value);

    // Names in the registry's enumeration order; count is their number. False
    // (with no names) when SectionKey cannot be opened.
    bool EnumerateValues(std::vector<std::string>& names, int32_t& count) const;
    bool EnumerateSections(std::vector<std::string>& names, int32_t& count) const;

    // File-type associations under HKEY_CLASSES_ROOT: ".<sAssociation>" names the
    // class, the class key holds the description, the icon and the open command
    // ("<exe>" "%1"). The additional form adds one more shell verb to a class.
    // Nothing in the plug-in calls these.
    bool CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                              const std::string& sClassDescription, const std::string& sAssociation,
                              int32_t lDefaultIconIndex = 0);
    bool CreateAdditionalEXEAssociations(const std::string& sClassName, const std::string& sVerb,
                                         const std::string& sMenuText, const std::string& sCommand);

private:
    // The full key path, or empty when ClassKey is not a known root.
    std::string keyPath() const;

    Registry* m_registry;
    uint32_t m_classKey = Registry::HKEY_LOCAL_MACHINE;
    std::string m_sectionKey;
    std::string m_valueKey;
    uint32_t m_valueType = Registry::REG_SZ;
    Variant m_default;
};
