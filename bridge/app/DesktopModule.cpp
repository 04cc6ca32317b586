#include "app/DesktopModule.h"

#include <QLoggingCategory>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/Desktop.h"
#include "binding/SharedLibrary.h"

Q_LOGGING_CATEGORY(lcDesktop, "brindle.desktop")

namespace {

using MakeApplication = QCoreApplication* (*)(int* argc, char** argv);
using MakeDesktop = Desktop* (*)();

MakeApplication s_makeApplication = nullptr;
MakeDesktop s_makeDesktop = nullptr;

std::unique_ptr<Desktop> makeDesktop() {
    return std::unique_ptr<Desktop>(s_makeDesktop != nullptr ? s_makeDesktop() : nullptr);
}

// The folder of the running program, where the module is installed beside it.
std::string programFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

// A headless gateway has no use for the GLib main loop, which the desktop's
// libraries integrate with: Qt's own loop serves its sockets and timers with
// less code in memory. Asked for only while the application is made, so that
// nothing else the process starts inherits it; a choice made in the
// environment already stands.
std::unique_ptr<QCoreApplication> headlessApplication(int& argc, char** argv) {
    const bool chosen = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!chosen) qputenv("QT_NO_GLIB", "1");
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    if (!chosen) qunsetenv("QT_NO_GLIB");
    return app;
}

}  // namespace

bool DesktopModule::displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return std::strncmp(platform, "offscreen", 9) != 0 &&
               std::strncmp(platform, "minimal", 7) != 0;
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
}

bool DesktopModule::load(const std::string& folder, std::string& error) {
    if (s_makeApplication != nullptr) return true;
    const std::string path = folder + "/" + kFileName;
    // The application and every window come from its code.
    void* handle = SharedLibrary::load(path, SharedLibrary::Scope::Local, error);
    if (handle == nullptr) return false;
    auto app = reinterpret_cast<MakeApplication>(
        SharedLibrary::entry(handle, "brindle_desktop_application"));
    auto desktop =
        reinterpret_cast<MakeDesktop>(SharedLibrary::entry(handle, "brindle_desktop_create"));
    if (app == nullptr || desktop == nullptr) {
        error = path + ": not a desktop module";
        return false;
    }
    s_makeApplication = app;
    s_makeDesktop = desktop;
    return true;
}

std::unique_ptr<QCoreApplication> DesktopModule::createApplication(int& argc, char** argv) {
    if (displayAvailable()) {
        std::string error;
        if (load(programFolder(), error)) {
            Desktop::factory() = &makeDesktop;
            return std::unique_ptr<QCoreApplication>(s_makeApplication(&argc, argv));
        }
        // Logged once the application exists, so the message filter sees it.
        auto core = headlessApplication(argc, argv);
        qCWarning(lcDesktop, "no tray or windows, running headless: %s", error.c_str());
        return core;
    }
    return headlessApplication(argc, argv);
}
