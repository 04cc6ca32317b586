// Brindle: the X10 CM19A to xAP gateway. Runs on a core application (no
// tray, no windows) when there is no display; SIGINT and SIGTERM run the same
// orderly shutdown as the tray's "Exit".
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/BrindleForm.h"
#include "base/MessageFilter.h"
#include "base/SignalNotifier.h"

namespace {

// A Qt platform named explicitly decides (offscreen and minimal draw nowhere,
// a framebuffer does); otherwise a desktop session.
bool displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return std::strncmp(platform, "offscreen", 9) != 0 &&
               std::strncmp(platform, "minimal", 7) != 0;
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before anything starts, so it needs no display and no program folder.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("brindle %d.%d.%d\n", BRINDLE_VERSION_MAJOR, BRINDLE_VERSION_MINOR,
                    BRINDLE_VERSION_PATCH);
        return 0;
    }
    MessageFilter::install();
    // The widget application's platform, fonts and styles cost several MiB that
    // a headless gateway never uses.
    std::unique_ptr<QCoreApplication> app;
    if (displayAvailable()) {
        app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Brindle"));

    BrindleForm form;
    SignalNotifier terminationSignals([&form](int) { form.requestExit(); });
    // A session ending under the tray icon saves like "Exit" does.
    QObject::connect(app.get(), &QCoreApplication::aboutToQuit, [&form] { form.Exit(); });
    if (!form.Form_Load()) return 1;
    // A signal handled while start-up let events run has already shut down.
    if (form.exited()) return 0;
    const int result = QCoreApplication::exec();
    MessageFilter::flush();
    return result;
}
