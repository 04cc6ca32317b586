// The transceiver plug-in library: the factory through which CreateObject makes
// its two classes by ProgID. The program finds this library through the
// registrations that kestrel-register writes.
#include <QLoggingCategory>
#include <exception>
#include <string_view>

#include "CreateObject.h"
#include "cFirecrackerUSB.h"

// The plug-in interface joins the factory once its class is part of the library.
#if __has_include("hspi.h")
#include "hspi.h"
#define KESTREL_HAS_HSPI 1
#endif

Q_LOGGING_CATEGORY(lcKestrel, "kestrel.factory", QtWarningMsg)

namespace {

bool sameProgId(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

Dispatch* make(std::string_view progId) {
    if (sameProgId(progId, "Kestrel.cFireCrackerUSB")) return new cFirecrackerUSB;
#ifdef KESTREL_HAS_HSPI
    if (sameProgId(progId, "Kestrel.hspi")) return new hspi;
#endif
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
