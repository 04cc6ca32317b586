#include "registry/Registry.h"

#include <sys/stat.h>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "base/AtomicFile.h"
#include "base/Convert.h"
#include "base/OrderedDictionary.h"
#include "base/ProcessState.h"
#include "base/ProgramFolder.h"
#include "base/RuntimeError.h"
#include "registry/RegistryFile.h"

namespace fs = std::filesystem;

struct Registry::Node {
    std::string name;
    std::map<std::string, std::unique_ptr<Node>> children;  // by lower-cased name
    OrderedDictionary<Value> values;
};

// Fills the tree from a file. Reading is not a change: nothing is saved.
class Registry::Loader final : public RegistryFile::Sink {
public:
    explicit Loader(Registry& registry) : m_registry(registry) {}

    bool openKey(std::string_view keyPath) override {
        m_current = m_registry.findKey(keyPath, true);
        return m_current != nullptr;
    }
    bool removeKey(std::string_view keyPath) override {
        m_current = nullptr;
        const long result = m_registry.removeKey(keyPath);
        return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
    }
    void setValue(std::string_view name, Value value) override {
        m_current->values.Set(name, std::move(value));
    }
    void removeValue(std::string_view name) override { m_current->values.Remove(name); }

private:
    Registry& m_registry;
    Node* m_current = nullptr;
};

namespace {

struct RootName {
    Registry::HKey handle;
    const char* longName;
    const char* shortName;
};
constexpr RootName kRoots[] = {
    {Registry::HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
    {Registry::HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {Registry::HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {Registry::HKEY_USERS, "HKEY_USERS", "HKU"},
    {Registry::HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC"},
};

std::vector<std::string_view> pathParts(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace

// ---------------------------------------------------------------------------

Registry::Batch::Batch(Registry& registry) : m_registry(registry) {
    ++m_registry.m_batchDepth;
}

Registry::Batch::~Batch() {
    commit();
}

long Registry::Batch::commit() {
    if (!m_open) return ERROR_SUCCESS;
    m_open = false;
    if (--m_registry.m_batchDepth > 0 || !m_registry.m_dirty) return ERROR_SUCCESS;
    return m_registry.save();
}

Registry::Registry(fs::path file) : m_file(std::move(file)) {}

Registry::~Registry() = default;

Registry& Registry::instance() {
    static Registry registry(defaultPath());
    return registry;
}

fs::path Registry::defaultPath() {
    return fs::path(ProgramFolder::path()) / "Config" / "registry.reg";
}

void Registry::setPath(fs::path file) {
    m_file = std::move(file);
    reset();
    m_loaded = false;
}

std::optional<Registry::HKey> Registry::rootHandle(std::string_view name) {
    for (const RootName& r : kRoots)
        if (vb::equalsIgnoreCase(name, r.longName) || vb::equalsIgnoreCase(name, r.shortName))
            return r.handle;
    return std::nullopt;
}

std::string Registry::rootName(HKey root) {
    for (const RootName& r : kRoots)
        if (r.handle == root) return r.longName;
    return {};
}

void Registry::reset() {
    m_roots.clear();
    for (const RootName& r : kRoots) {
        auto node = std::make_unique<Node>();
        node->name = r.longName;
        m_roots.emplace_back(r.handle, std::move(node));
    }
    m_dirty = false;
    m_unreadable = false;
    m_original.clear();
    m_skipped.clear();
    m_lastError.clear();
}

// Every save renames a new file into place, so the inode number tells another
// writer's save apart even within one tick of the file clock.
Registry::Stamp Registry::currentStamp() const {
    Stamp s;
    struct stat st {};
    if (::stat(m_file.c_str(), &st) != 0) return s;
    s.exists = true;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.seconds = st.st_mtim.tv_sec;
    s.nanoseconds = st.st_mtim.tv_nsec;
    return s;
}

void Registry::ensureLoaded() {
    if (!m_loaded) {
        load();
        return;
    }
    if (m_dirty || m_batchDepth > 0) return;
    const Stamp now = currentStamp();
    if (now.exists != m_stamp.exists || now.inode != m_stamp.inode || now.size != m_stamp.size ||
        now.seconds != m_stamp.seconds || now.nanoseconds != m_stamp.nanoseconds)
        load();
}

void Registry::load() {
    reset();
    m_loaded = true;
    m_stamp = currentStamp();
    if (!m_stamp.exists) return;
    std::ifstream in(m_file, std::ios::binary);
    std::ostringstream content;
    if (in) content << in.rdbuf();
    if (!in || in.bad()) {
        m_unreadable = true;
        m_lastError = "cannot read " + m_file.string();
        return;
    }
    loadText(content.str());
    m_stamp = currentStamp();
}

void Registry::loadText(std::string_view fileText) {
    reset();
    m_loaded = true;
    m_stamp = currentStamp();
    Loader loader(*this);
    m_skipped = RegistryFile::read(fileText, loader);
    if (!m_skipped.empty()) m_original = std::string(fileText);
}

std::string Registry::text() {
    ensureLoaded();
    RegistryFile file;
    // Depth first, parents before children, as regedit exports.
    auto writeKey = [&](auto&& self, const Node& node, const std::string& path,
                        bool isRoot) -> void {
        if (!isRoot || !node.values.empty()) file.addKey(path, node.values);
        for (const auto& [folded, child] : node.children)
            self(self, *child, path + '\\' + child->name, false);
    };
    for (const auto& [handle, node] : m_roots) writeKey(writeKey, *node, node->name, true);
    return file.bytes();
}

long Registry::save() {
    if (m_unreadable) return ERROR_REGISTRY_IO_FAILED;
    try {
        std::error_code ec;
        if (m_file.has_parent_path()) fs::create_directories(m_file.parent_path(), ec);
        if (!m_original.empty()) {
            fs::path backup = m_file;
            backup += ".bak";
            writeFileAtomically(backup, m_original);
            m_original.clear();
        }
        writeFileAtomically(m_file, text());
    } catch (const RuntimeError& e) {
        m_lastError = e.description();
        return ERROR_REGISTRY_IO_FAILED;
    }
    m_dirty = false;
    m_lastError.clear();
    m_stamp = currentStamp();
    return ERROR_SUCCESS;
}

long Registry::changed() {
    m_dirty = true;
    return m_batchDepth > 0 ? ERROR_SUCCESS : save();
}

long Registry::flush() {
    ensureLoaded();
    return m_dirty ? save() : ERROR_SUCCESS;
}

Registry::Node* Registry::root(HKey handle) {
    for (auto& [h, node] : m_roots)
        if (h == handle) return node.get();
    return nullptr;
}

// The key's node; with create, missing keys are added. rootOut receives the
// root handle, or 0 when the root name is unknown.
Registry::Node* Registry::findKey(std::string_view keyPath, bool create, HKey* rootOut) {
    const std::vector<std::string_view> parts = pathParts(keyPath);
    if (rootOut != nullptr) *rootOut = 0;
    if (parts.empty()) return nullptr;
    const auto handle = rootHandle(parts.front());
    if (!handle) return nullptr;
    if (rootOut != nullptr) *rootOut = *handle;
    Node* node = root(*handle);
    for (size_t i = 1; i < parts.size() && node != nullptr; ++i) {
        const std::string folded = vb::LCase(parts[i]);
        auto it = node->children.find(folded);
        if (it == node->children.end()) {
            if (!create) return nullptr;
            auto child = std::make_unique<Node>();
            child->name = std::string(parts[i]);
            it = node->children.emplace(folded, std::move(child)).first;
        }
        node = it->second.get();
    }
    return node;
}

bool Registry::keyExists(std::string_view keyPath) {
    ensureLoaded();
    return findKey(keyPath, false) != nullptr;
}

long Registry::createKey(std::string_view keyPath) {
    ensureLoaded();
    if (!RegistryFile::canHoldName(keyPath)) return ERROR_INVALID_PARAMETER;
    if (findKey(keyPath, false) != nullptr) return ERROR_SUCCESS;
    if (findKey(keyPath, true) == nullptr) return ERROR_INVALID_HANDLE;
    return changed();
}

long Registry::deleteKey(std::string_view keyPath) {
    ensureLoaded();
    const long result = removeKey(keyPath);
    return result == ERROR_SUCCESS ? changed() : result;
}

long Registry::removeKey(std::string_view keyPath) {
    const std::vector<std::string_view> parts = pathParts(keyPath);
    HKey handle = 0;
    if (findKey(keyPath, false, &handle) == nullptr)
        return handle == 0 ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND;
    if (parts.size() < 2) return ERROR_ACCESS_DENIED;
    std::string parentPath;
    for (size_t i = 0; i + 1 < parts.size(); ++i) (parentPath += parts[i]) += '\\';
    findKey(parentPath, false)->children.erase(vb::LCase(parts.back()));
    return ERROR_SUCCESS;
}

long Registry::enumKeys(std::string_view keyPath, std::vector<std::string>& names) {
    ensureLoaded();
    names.clear();
    HKey handle = 0;
    const Node* node = findKey(keyPath, false, &handle);
    if (node == nullptr) return handle == 0 ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND;
    for (const auto& [folded, child] : node->children) names.push_back(child->name);
    return ERROR_SUCCESS;
}

long Registry::enumValues(std::string_view keyPath, std::vector<std::string>& names) {
    ensureLoaded();
    names.clear();
    HKey handle = 0;
    const Node* node = findKey(keyPath, false, &handle);
    if (node == nullptr) return handle == 0 ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND;
    for (const auto& [name, value] : node->values) names.push_back(name);
    return ERROR_SUCCESS;
}

long Registry::queryValue(std::string_view keyPath, std::string_view name, Value& value) {
    ensureLoaded();
    HKey handle = 0;
    const Node* node = findKey(keyPath, false, &handle);
    if (node == nullptr) return handle == 0 ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND;
    const Value* found = node->values.find(name);
    if (found == nullptr) return ERROR_FILE_NOT_FOUND;
    value = *found;
    return ERROR_SUCCESS;
}

long Registry::setValue(std::string_view keyPath, std::string_view name, uint32_t type,
                        std::string_view data) {
    ensureLoaded();
    if (!RegistryFile::canHoldName(keyPath) || !RegistryFile::canHoldName(name))
        return ERROR_INVALID_PARAMETER;
    Node* node = findKey(keyPath, true);
    if (node == nullptr) return ERROR_INVALID_HANDLE;
    if (const Value* old = node->values.find(name);
        old != nullptr && old->type == type && old->data == data)
        return m_dirty && m_batchDepth == 0 ? save() : ERROR_SUCCESS;
    node->values.Set(name, Value{type, std::string(data)});
    return changed();
}

long Registry::deleteValue(std::string_view keyPath, std::string_view name) {
    ensureLoaded();
    HKey handle = 0;
    Node* node = findKey(keyPath, false, &handle);
    if (node == nullptr) return handle == 0 ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND;
    if (!node->values.Remove(name)) return ERROR_FILE_NOT_FOUND;
    return changed();
}

std::optional<std::string> Registry::queryString(std::string_view keyPath, std::string_view name) {
    Value v;
    if (queryValue(keyPath, name, v) != ERROR_SUCCESS ||
        (v.type != REG_SZ && v.type != REG_EXPAND_SZ))
        return std::nullopt;
    if (!v.data.empty() && v.data.back() == '\0') v.data.pop_back();
    return v.data;
}

std::optional<uint32_t> Registry::queryDword(std::string_view keyPath, std::string_view name) {
    Value v;
    if (queryValue(keyPath, name, v) != ERROR_SUCCESS || v.type != REG_DWORD || v.data.size() != 4)
        return std::nullopt;
    return RegistryFile::dwordOf(v.data);
}

long Registry::setString(std::string_view keyPath, std::string_view name, std::string_view text) {
    std::string data(text);
    data += '\0';
    return setValue(keyPath, name, REG_SZ, data);
}

long Registry::setDword(std::string_view keyPath, std::string_view name, uint32_t number) {
    return setValue(keyPath, name, REG_DWORD, RegistryFile::dwordData(number));
}

namespace {
const bool kRegistryReset = ProcessState::registerReset(
    "Registry", [] { Registry::instance().setPath(Registry::defaultPath()); });
}  // namespace
