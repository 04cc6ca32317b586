#pragma once
// The application the program runs on. With a display it is the widget
// application of the desktop module ("libbrindle-desktop.so" beside the
// program), which also installs Desktop::factory(); without a display, or
// when the module or the GUI libraries it needs cannot be loaded (logged), a
// core application: the gateway runs headless rather than not at all.

#include <QCoreApplication>
#include <memory>
#include <string>

class DesktopModule {
public:
    static constexpr const char* kFileName = "libbrindle-desktop.so";

    // A Qt platform named explicitly decides (offscreen and minimal draw
    // nowhere, a framebuffer does); otherwise a desktop session.
    static bool displayAvailable();

    // `argc` must outlive the application, as Qt requires.
    static std::unique_ptr<QCoreApplication> createApplication(int& argc, char** argv);

    // The module in `folder`, loaded and its entry points taken; false with
    // the loader's reason otherwise.
    static bool load(const std::string& folder, std::string& error);
};
