#include "ui/ModalUi.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

#include "base/ProcessState.h"
#include "hspi/HostLink.h"

namespace {

QString title() {
    return QString::fromLatin1(HostLink::kTitle);
}

int defaultExec(QDialog& dialog) {
    if (!ModalUi::canShow()) return QDialog::Rejected;
    return dialog.exec();
}

void defaultMessage(QWidget* parent, const QString& text, ModalUi::Icon icon) {
    if (!ModalUi::canShow()) return;
    if (icon == ModalUi::Icon::Critical)
        QMessageBox::critical(parent, title(), text);
    else
        QMessageBox::information(parent, title(), text);
}

bool defaultAskYesNo(QWidget* parent, const QString& text) {
    if (!ModalUi::canShow()) return false;
    return QMessageBox::question(parent, title(), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

QString defaultInput(QWidget* parent, const QString& prompt, const QString& caption) {
    if (!ModalUi::canShow()) return {};
    return QInputDialog::getText(parent, caption, prompt);
}

}  // namespace

ModalUi::Hooks& ModalUi::hooks() {
    // A function's own object: the program and the plug-in library may each
    // carry a copy of this code, and each keeps its own hooks.
    static Hooks hooks{defaultExec, defaultMessage, defaultAskYesNo, defaultInput};
    return hooks;
}

bool ModalUi::widgetsAvailable() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

bool ModalUi::canShow() {
    if (!widgetsAvailable()) return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void ModalUi::reset() {
    hooks() = Hooks{defaultExec, defaultMessage, defaultAskYesNo, defaultInput};
}

namespace {
const bool kHooksReset = ProcessState::registerReset("ModalUi", [] { ModalUi::reset(); });
}  // namespace
