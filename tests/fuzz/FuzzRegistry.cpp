// The registry file is meant to be edited by hand: whatever it holds, reading
// it, listing it and writing it back must not crash or hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ScratchProgramFolder.h"
#include "registry/Registry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Never saved: the path is only a name for the in-memory store.
    static Registry registry("/nonexistent/fuzz-registry.reg");
    registry.loadText(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<std::string> keys;
    std::vector<std::string> values;
    for (const char* root : {"HKEY_LOCAL_MACHINE", "HKEY_CLASSES_ROOT"}) {
        registry.enumKeys(root, keys);
        for (const std::string& key : keys) {
            const std::string path = std::string(root) + "\\" + key;
            registry.enumValues(path, values);
            for (const std::string& name : values) {
                Registry::Value v;
                registry.queryValue(path, name, v);
            }
        }
    }
    registry.text();
    return 0;
}
