// The configuration window's module: its one entry point, found by name when
// the plug-in library loads it. Built into the module only: the tests link the
// window's classes directly.
#include "ui/frmConfig.h"

extern "C" __attribute__((visibility("default"))) void kestrel_config_window(
    const std::shared_ptr<cSettings>* settings,
    const std::shared_ptr<cFirecrackerUSB>* transceiver) {
    frmConfig::open(*settings, *transceiver);
}
