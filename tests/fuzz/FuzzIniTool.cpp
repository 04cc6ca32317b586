// Settings files are edited by hand and by other programs: whatever bytes they
// hold, loading and listing them must not crash or hang. Section names are
// also patterns when listing keys, so names found are listed as patterns.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ScratchProgramFolder.h"
#include "host/IniTool.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    IniTool ini;
    ini.LoadText(std::string_view(reinterpret_cast<const char*>(data), size));
    // Each listing matches the name against the whole store, so only the first
    // few names are listed: listing all of them would make one input cost the
    // square of its size, hiding real slowness behind the harness's own.
    const std::vector<std::string> headers = ini.Headers();
    for (size_t i = 0; i < headers.size() && i < 4; ++i) {
        for (const std::string& key : ini.Keys(headers[i])) ini.Read(headers[i], key, "default");
    }
    ini.Read("General", "Name", "");
    return 0;
}
