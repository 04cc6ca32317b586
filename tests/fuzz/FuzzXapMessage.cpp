// Feeds arbitrary bytes to the xAP message parser and the reads that follow a
// parse in the command dispatcher. Any crash, leak or undefined behaviour is a
// finding; faults logged by the parser are expected.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ScratchProgramFolder.h"
#include "xap/XapMessage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    useScratchProgramFolder("fuzz-xapmsg");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
