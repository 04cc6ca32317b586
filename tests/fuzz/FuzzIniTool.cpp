// Settings files are edited by hand and by other programs: whatever bytes they
// hold, loading and listing them must not crash or hang.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "host/IniTool.h"

namespace {

const std::string& scratchFile() {
    static const std::string path = [] {
        std::string tmpl = "/tmp/fuzz-initool-XXXXXX";
        const int fd = mkstemp(tmpl.data());
        if (fd < 0) std::abort();
        ::close(fd);
        return tmpl;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    IniTool ini;
    ini.Load(scratchFile());
    for (const std::string& header : ini.Headers()) {
        for (const std::string& key : ini.Keys(header)) ini.Read(header, key, "default");
    }
    ini.Read("General", "Name", "");
    // Removed after every input, so no file is left behind at exit.
    ::unlink(scratchFile().c_str());
    return 0;
}
