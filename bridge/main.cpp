// Brindle: the X10 CM19A to xAP gateway. Starts headless when there is no
// display; SIGINT and SIGTERM run the same orderly shutdown as the tray's "Exit".
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/BrindleForm.h"
#include "base/MessageFilter.h"
#include "base/SignalNotifier.h"

int main(int argc, char** argv) {
    // Answered before anything starts, so it needs no display and no program folder.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("brindle %d.%d.%d\n", BRINDLE_VERSION_MAJOR, BRINDLE_VERSION_MINOR,
                    BRINDLE_VERSION_PATCH);
        return 0;
    }
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    MessageFilter::install();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindle"));
    QApplication::setQuitOnLastWindowClosed(false);

    BrindleForm form;
    SignalNotifier terminationSignals([&form](int) { form.requestExit(); });
    // A session ending under the tray icon saves like "Exit" does.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&form] { form.Exit(); });
    if (!form.Form_Load()) return 1;
    // A signal handled while start-up let events run has already shut down.
    if (form.exited()) return 0;
    const int result = QApplication::exec();
    MessageFilter::flush();
    return result;
}
