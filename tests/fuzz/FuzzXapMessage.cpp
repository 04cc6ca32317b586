// Feeds arbitrary bytes to the xAP message parser and the reads that follow a
// parse in the command dispatcher. Any crash, leak or undefined behaviour is a
// finding; faults logged by the parser are expected.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "xap/XapMessage.h"

namespace {

// Error-log lines go to a throw-away program folder whose log file is
// /dev/null, so the write path runs without filling a disk.
void useScratchProgramFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path home = fs::temp_directory_path(ec) / ("fuzz-xapmsg-" + std::to_string(getpid()));
    fs::create_directories(home / "Data", ec);
    fs::create_symlink("/dev/null", home / "Data" / "brindlehub.txt", ec);
    setenv("BRINDLE_HOME", home.c_str(), 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (useScratchProgramFolder(), true);
    (void)ready;

    const std::string text(reinterpret_cast<const char*>(data), size);
    XapMessage m;
    m.Init("");
    m.Reset();
    m.FromXap(text);
    for (const std::string& name : m.MsgSection()) {
        m.GetItem(name, "state");
        m.GetItem(name, text.substr(0, 16));
    }
    m.CompareTarget("qix.CM19A.host");
    m.CompareTarget(m.msgSource);
    m.CompareSource(">");
    m.CompareClass("xAPBSC.cmd");
    return 0;
}
