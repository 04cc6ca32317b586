// The transceiver plug-in library: the factory through which CreateObject makes
// its two classes by ProgID. The program finds this library through the
// registrations that kestrel-register writes.
#include <QLoggingCategory>
#include <exception>
#include <string_view>

#include "base/Convert.h"
#include "binding/CreateObject.h"
#include "hspi/hspi.h"
#include "radio/cFirecrackerUSB.h"
#include "ui/frmConfig.h"

Q_LOGGING_CATEGORY(lcKestrel, "kestrel.factory", QtWarningMsg)

namespace {

// ProgIDs compare ignoring case, as the registry's class keys do.
Dispatch* make(std::string_view progId) {
    if (vb::equalsIgnoreCase(progId, "Kestrel.cFireCrackerUSB")) return new cFirecrackerUSB;
    if (vb::equalsIgnoreCase(progId, "Kestrel.hspi")) {
        if (!hspi::configWindow()) hspi::configWindow() = &frmConfig::open;
        return new hspi;
    }
    return nullptr;
}

}  // namespace

// Nothing is thrown across this boundary: a class that cannot be made answers
// null, which the caller reports as the class that cannot be created (429).
extern "C" __attribute__((visibility("default"))) Dispatch* brindle_create_object(
    const char* progId) {
    if (progId == nullptr) return nullptr;
    try {
        return make(progId);
    } catch (const std::exception& e) {
        qCWarning(lcKestrel, "creating %s failed: %s", progId, e.what());
    } catch (...) {
        qCWarning(lcKestrel, "creating %s failed", progId);
    }
    return nullptr;
}
