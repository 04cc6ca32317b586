// The desktop module's entry points, found by name when the program loads it
// (DesktopModule). Built into the module only: the tests link the desktop's
// classes directly.
#include <QApplication>

#include "desktop/DesktopShell.h"

extern "C" __attribute__((visibility("default"))) QCoreApplication* brindle_desktop_application(
    int* argc, char** argv) {
    auto* app = new QApplication(*argc, argv);
    // The gateway runs on when its settings window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    return app;
}

extern "C" __attribute__((visibility("default"))) Desktop* brindle_desktop_create() {
    return DesktopShell::create().release();
}
