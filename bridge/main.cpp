// Brindle: the X10 CM19A to xAP gateway. Runs on a core application (no
// tray, no windows) when there is no display; SIGINT and SIGTERM run the same
// orderly shutdown as the tray's "Exit".
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/BrindleForm.h"
#include "app/DesktopModule.h"
#include "base/HeapTrim.h"
#include "base/MessageFilter.h"
#include "base/SignalNotifier.h"

int main(int argc, char** argv) {
    // Answered before anything starts, so it needs no display and no program folder.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("brindle %d.%d.%d\n", BRINDLE_VERSION_MAJOR, BRINDLE_VERSION_MINOR,
                    BRINDLE_VERSION_PATCH);
        return 0;
    }
    MessageFilter::install();
    HeapTrim::keepWhileBusy();
    // The widget application's platform, fonts and styles cost several MiB that
    // a headless gateway never uses: they come with the desktop module, which is
    // loaded only when there is a display.
    const std::unique_ptr<QCoreApplication> app = DesktopModule::createApplication(argc, argv);
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
