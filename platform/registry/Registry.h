#pragma once
// The process's registry: keys holding named, typed values, kept in one
// human-editable text file in the regedit export format (by default
// Config/registry.reg below the program folder). This class keeps the tree and
// decides when the file is read and saved; RegistryFile reads and writes the
// format.
//
// Key paths start with a root name: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,
// HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_CONFIG, or their short forms
// HKLM, HKCU, HKCR, HKU, HKCC; the parts are separated by "\" ("HKLM\Software\X").
// Key and value names compare ignoring case and keep the case they were first
// written with. The empty value name is the key's default value. Subkeys
// enumerate in alphabetical order ignoring case, values in the order they were
// first written.
//
// Value data is held as the ANSI registry functions see it: REG_SZ and
// REG_EXPAND_SZ are text followed by one NUL, REG_MULTI_SZ texts each followed
// by a NUL, REG_DWORD four bytes little-endian. Texts are single-byte
// (Windows-1252).
//
// The file is read at the first call and read again before a call when it has
// changed on disk and nothing is waiting to be saved, so a hand edit made while
// the program runs is seen rather than overwritten. A line that cannot be
// understood is skipped and recorded (skippedLines); before the first save
// replaces such a file, its original text is kept as "<file>.bak". Every change
// is saved at once with writeFileAtomically, unless a Batch is open, in which
// case the outermost Batch saves once when it ends. A failed save keeps the
// change in memory, leaves the old file as it was, returns
// ERROR_REGISTRY_IO_FAILED and is retried by the next change or flush(). A file
// that exists but cannot be read is never overwritten.
//
// Results are the Windows error codes the registry functions return, so
// wrappers can mirror those calls. One thread, no locks.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/RegistryValue.h"

class Registry {
public:
    using HKey = uint32_t;
    static constexpr HKey HKEY_CLASSES_ROOT = 0x80000000u;
    static constexpr HKey HKEY_CURRENT_USER = 0x80000001u;
    static constexpr HKey HKEY_LOCAL_MACHINE = 0x80000002u;
    static constexpr HKey HKEY_USERS = 0x80000003u;
    static constexpr HKey HKEY_CURRENT_CONFIG = 0x80000005u;

    using Value = RegistryValue;
    static constexpr uint32_t REG_NONE = Value::REG_NONE;
    static constexpr uint32_t REG_SZ = Value::REG_SZ;
    static constexpr uint32_t REG_EXPAND_SZ = Value::REG_EXPAND_SZ;
    static constexpr uint32_t REG_BINARY = Value::REG_BINARY;
    static constexpr uint32_t REG_DWORD = Value::REG_DWORD;
    static constexpr uint32_t REG_MULTI_SZ = Value::REG_MULTI_SZ;

    static constexpr long ERROR_SUCCESS = 0;
    static constexpr long ERROR_FILE_NOT_FOUND = 2;
    static constexpr long ERROR_ACCESS_DENIED = 5;       // deleting a root key
    static constexpr long ERROR_INVALID_HANDLE = 6;      // unknown root name
    static constexpr long ERROR_INVALID_PARAMETER = 87;  // a line break in a key or value name
    static constexpr long ERROR_REGISTRY_IO_FAILED = 1016;

    // Holds saving back until the outermost Batch ends, so a run of changes is
    // written once. commit() ends it early and returns the save's result.
    class Batch {
    public:
        explicit Batch(Registry& registry);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
        long commit();

    private:
        Registry& m_registry;
        bool m_open = true;
    };

    explicit Registry(std::filesystem::path file);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // The process-wide registry on defaultPath(), created at the first call.
    static Registry& instance();
    static std::filesystem::path defaultPath();

    const std::filesystem::path& path() const { return m_file; }
    // Points the registry at another file; what is in memory is dropped and the
    // new file is read at the next call. Save pending changes first.
    void setPath(std::filesystem::path file);

    // Root handle of a root name (long or short form, any case).
    static std::optional<HKey> rootHandle(std::string_view name);
    // Long root name of a handle; empty for an unknown handle.
    static std::string rootName(HKey root);

    bool keyExists(std::string_view keyPath);
    // Creates the key and any missing keys above it; an existing key is success.
    long createKey(std::string_view keyPath);
    // Deletes the key with all its subkeys and values.
    long deleteKey(std::string_view keyPath);
    long enumKeys(std::string_view keyPath, std::vector<std::string>& names);
    long enumValues(std::string_view keyPath, std::vector<std::string>& names);
    long queryValue(std::string_view keyPath, std::string_view name, Value& value);
    // Creates the key as needed. Writing the data a value already has is not a change.
    long setValue(std::string_view keyPath, std::string_view name, uint32_t type,
                  std::string_view data);
    long deleteValue(std::string_view keyPath, std::string_view name);

    // Conveniences for the common types. queryString gives the text of a REG_SZ or
    // REG_EXPAND_SZ value without its terminator (not expanded); nothing when the
    // value is missing or of another type.
    std::optional<std::string> queryString(std::string_view keyPath, std::string_view name);
    std::optional<uint32_t> queryDword(std::string_view keyPath, std::string_view name);
    long setString(std::string_view keyPath, std::string_view name, std::string_view text);
    long setDword(std::string_view keyPath, std::string_view name, uint32_t number);

    // Saves pending changes now; ERROR_SUCCESS when nothing is pending.
    long flush();
    // Why the last save failed or why the file could not be read; empty otherwise.
    const std::string& lastError() const { return m_lastError; }
    // Lines of the last file read that were skipped, as "line N: text".
    const std::vector<std::string>& skippedLines() const { return m_skipped; }

    // The file's bytes for the current contents (UTF-8), and the reading of a
    // file's bytes in place of the current contents (not saved until the next
    // change); exposed for tools and for the parser's fuzz target.
    std::string text();
    void loadText(std::string_view fileText);

private:
    struct Node;
    class Loader;  // RegistryFile's view of the tree while a file is read
    struct Stamp {
        bool exists = false;
        uint64_t inode = 0;
        int64_t size = 0;
        int64_t seconds = 0;
        int64_t nanoseconds = 0;
    };

    void ensureLoaded();
    void load();
    void reset();
    Stamp currentStamp() const;
    long changed();
    long save();
    long removeKey(std::string_view keyPath);
    Node* root(HKey handle);
    Node* findKey(std::string_view keyPath, bool create, HKey* rootOut = nullptr);

    std::filesystem::path m_file;
    std::vector<std::pair<HKey, std::unique_ptr<Node>>> m_roots;
    bool m_loaded = false;
    bool m_unreadable = false;  // the file exists but could not be read: never overwrite it
    bool m_dirty = false;
    int m_batchDepth = 0;
    Stamp m_stamp;
    std::string m_original;  // text of a file with skipped lines, until it is backed up
    std::vector<std::string> m_skipped;
    std::string m_lastError;
};
