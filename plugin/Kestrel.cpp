// The transceiver plug-in library: the factory through which CreateObject makes
// its two classes by ProgID. The program finds this library through the
// registrations that kestrel-register writes.
#include <dlfcn.h>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/Convert.h"
#include "binding/CreateObject.h"
#include "binding/SharedLibrary.h"
#include "hspi/hspi.h"
#include "radio/cFirecrackerUSB.h"

Q_LOGGING_CATEGORY(lcKestrel, "kestrel.factory", QtWarningMsg)

namespace {

using ConfigWindowEntry = void (*)(const std::shared_ptr<cSettings>*,
                                   const std::shared_ptr<cFirecrackerUSB>*);

// The configuration window's module beside this library, loaded the first time
// the window is asked for on a widget application; null when it cannot be
// (logged once).
ConfigWindowEntry configWindowModule() {
    static ConfigWindowEntry entry = nullptr;
    static bool tried = false;
    if (tried) return entry;
    tried = true;
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&configWindowModule), &self) == 0 ||
        self.dli_fname == nullptr) {
        qCWarning(lcKestrel, "configuration window: the library's own folder is unknown");
        return nullptr;
    }
    const std::string path =
        (std::filesystem::path(self.dli_fname).parent_path() / "libkestrel-ui.so").string();
    std::string error;
    void* handle = SharedLibrary::load(path, SharedLibrary::Scope::Local, error);
    if (handle == nullptr) {
        qCWarning(lcKestrel, "configuration window: %s", error.c_str());
        return nullptr;
    }
    entry =
        reinterpret_cast<ConfigWindowEntry>(SharedLibrary::entry(handle, "kestrel_config_window"));
    if (entry == nullptr)
        qCWarning(lcKestrel, "configuration window: %s has no entry", path.c_str());
    return entry;
}

// Headless (a core application) no window can be made, so nothing is loaded.
void openConfigWindow(const std::shared_ptr<cSettings>& settings,
                      const std::shared_ptr<cFirecrackerUSB>& transceiver) {
    const QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || !app->inherits("QApplication")) return;
    if (const ConfigWindowEntry open = configWindowModule()) open(&settings, &transceiver);
}

// ProgIDs compare ignoring case, as the registry's class keys do.
Dispatch* make(std::string_view progId) {
    if (vb::equalsIgnoreCase(progId, "Kestrel.cFireCrackerUSB")) return new cFirecrackerUSB;
    if (vb::equalsIgnoreCase(progId, "Kestrel.hspi")) {
        if (!hspi::configWindow()) hspi::configWindow() = &openConfigWindow;
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
