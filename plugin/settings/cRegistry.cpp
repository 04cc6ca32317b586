#include "settings/cRegistry.h"

#include <cstdlib>

#include "base/Convert.h"
#include "base/RuntimeError.h"

namespace {

constexpr int kFileAccessError = 75;

// %NAME% replaced by the environment variable; an unknown name or a lone "%"
// stays as written, as Windows expands such texts.
std::string expandEnvironment(const std::string& text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find('%', pos);
        if (open == std::string::npos) break;
        const size_t close = text.find('%', open + 1);
        if (close == std::string::npos) break;
        out.append(text, pos, open - pos);
        const std::string name = text.substr(open + 1, close - open - 1);
        const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
        if (value != nullptr) {
            out += value;
            pos = close + 1;
        } else {
            // The closing "%" may open the next name.
            out.append(text, open, close - open);
            pos = close;
        }
    }
    out.append(text, pos, std::string::npos);
    return out;
}

std::string dwordBytes(int32_t number) {
    const auto n = static_cast<uint32_t>(number);
    std::string data;
    for (int i = 0; i < 4; ++i) data += static_cast<char>((n >> (8 * i)) & 0xFF);
    return data;
}

}  // namespace

cRegistry::cRegistry(Registry& registry) : m_registry(&registry) {}

std::string cRegistry::keyPath() const {
    std::string path = Registry::rootName(m_classKey);
    if (path.empty() || m_sectionKey.empty()) return path;
    return path + '\\' + m_sectionKey;
}

bool cRegistry::KeyExists() const {
    const std::string path = keyPath();
    return !path.empty() && m_registry->keyExists(path);
}

bool cRegistry::CreateKey() {
    return m_registry->createKey(keyPath()) == Registry::ERROR_SUCCESS;
}

bool cRegistry::DeleteKey() {
    return m_registry->deleteKey(keyPath()) == Registry::ERROR_SUCCESS;
}

bool cRegistry::DeleteValue() {
    return m_registry->deleteValue(keyPath(), m_valueKey) == Registry::ERROR_SUCCESS;
}

Variant cRegistry::Value() const {
    Registry::Value v;
    if (m_registry->queryValue(keyPath(), m_valueKey, v) != Registry::ERROR_SUCCESS)
        return m_default;
    switch (v.type) {
        case Registry::REG_SZ:
        case Registry::REG_EXPAND_SZ:
        case Registry::REG_MULTI_SZ: {
            if (!v.data.empty() && v.data.back() == '\0') v.data.pop_back();
            if (v.type == Registry::REG_EXPAND_SZ) return expandEnvironment(v.data);
            return v.data;
        }
        case Registry::REG_DWORD: {
            if (v.data.size() != 4) return m_default;
            uint32_t n = 0;
            for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(v.data[i]);
            return Variant(static_cast<int32_t>(n));
        }
        default:
            return std::vector<uint8_t>(v.data.begin(), v.data.end());
    }
}

void cRegistry::Value(const Variant& value) {
    std::string data;
    switch (m_valueType) {
        case Registry::REG_SZ:
        case Registry::REG_EXPAND_SZ:
        case Registry::REG_MULTI_SZ:
            data = value.toString() + '\0';
            break;
        case Registry::REG_DWORD:
            data = dwordBytes(value.toLong());
            break;
        default: {
            const std::vector<uint8_t> bytes = value.toBytes();
            data.assign(bytes.begin(), bytes.end());
            break;
        }
    }
    const long result = m_registry->setValue(keyPath(), m_valueKey, m_valueType, data);
    if (result == Registry::ERROR_REGISTRY_IO_FAILED)
        raiseError(kFileAccessError, "Path/File access error: " + m_registry->lastError(),
                   "cRegistry");
    if (result != Registry::ERROR_SUCCESS)
        raiseError(RuntimeError::kInvalidCall, "Invalid procedure call or argument", "cRegistry");
}

bool cRegistry::EnumerateValues(std::vector<std::string>& names, int32_t& count) const {
    const bool ok = m_registry->enumValues(keyPath(), names) == Registry::ERROR_SUCCESS;
    count = static_cast<int32_t>(names.size());
    return ok;
}

bool cRegistry::EnumerateSections(std::vector<std::string>& names, int32_t& count) const {
    const bool ok = m_registry->enumKeys(keyPath(), names) == Registry::ERROR_SUCCESS;
    count = static_cast<int32_t>(names.size());
    return ok;
}

bool cRegistry::CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                                     const std::string& sClassDescription,
                                     const std::string& sAssociation, int32_t lDefaultIconIndex) {
    const std::string root = Registry::rootName(Registry::HKEY_CLASSES_ROOT) + '\\';
    const std::string classKey = root + sClassName;
    Registry::Batch batch(*m_registry);
    bool ok = m_registry->setString(root + '.' + sAssociation, "", sClassName) == 0;
    ok = m_registry->setString(classKey, "", sClassDescription) == 0 && ok;
    ok = m_registry->setString(classKey + "\\DefaultIcon", "",
                               sExePath + ',' + vb::CStr(int64_t{lDefaultIconIndex})) == 0 &&
         ok;
    ok = m_registry->setString(classKey + "\\shell\\open\\command", "",
                               '"' + sExePath + "\" \"%1\"") == 0 &&
         ok;
    return batch.commit() == Registry::ERROR_SUCCESS && ok;
}

bool cRegistry::CreateAdditionalEXEAssociations(const std::string& sClassName,
                                                const std::string& sVerb,
                                                const std::string& sMenuText,
                                                const std::string& sCommand) {
    const std::string verbKey =
        Registry::rootName(Registry::HKEY_CLASSES_ROOT) + '\\' + sClassName + "\\shell\\" + sVerb;
    Registry::Batch batch(*m_registry);
    bool ok = m_registry->setString(verbKey, "", sMenuText) == 0;
    ok = m_registry->setString(verbKey + "\\command", "", sCommand) == 0 && ok;
    return batch.commit() == Registry::ERROR_SUCCESS && ok;
}
