#include "desktop/GUISetup.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "host/Application.h"
#include "host/WebSettings.h"
#include "xap/XapLog.h"

namespace {
QString latin1(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}
std::string text(const QLineEdit* e) {
    const QByteArray b = e->text().toLatin1();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}
}  // namespace

GUISetup::GUISetup(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Brindle Web Setup"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* form = new QFormLayout(this);
    aServerPort = new QLineEdit(this);
    aBackground = new QLineEdit(this);
    aStyleSheet = new QLineEdit(this);
    aServerPort->setObjectName(QStringLiteral("aServerPort"));
    aBackground->setObjectName(QStringLiteral("aBackground"));
    aStyleSheet->setObjectName(QStringLiteral("aStyleSheet"));
    form->addRow(QStringLiteral("HTTP server port"), aServerPort);
    form->addRow(QStringLiteral("Browser background"), aBackground);
    form->addRow(QStringLiteral("Style sheet"), aStyleSheet);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);

    const WebSettings& web = WebSettings::instance();
    aServerPort->setText(latin1(web.ServerPort));
    aBackground->setText(latin1(web.Background));
    aStyleSheet->setText(latin1(web.StyleSheet));
}

void GUISetup::Form_Unload() {
    if (m_unloaded) return;
    m_unloaded = true;
    guarded("GUISetup Unload ", [&] {
        WebSettings& web = WebSettings::instance();
        web.ServerPort = text(aServerPort);
        web.Background = text(aBackground);
        web.StyleSheet = text(aStyleSheet);
        if (Application* hs = Application::instance()) {
            hs->iniCache().SaveINISetting("General", "ServerPort", web.ServerPort,
                                          "qixBrindle.ini");
            hs->iniCache().SaveINISetting("General", "Background", web.Background,
                                          "qixBrindle.ini");
            hs->iniCache().SaveINISetting("General", "StyleSheet", web.StyleSheet,
                                          "qixBrindle.ini");
        }
    });
}

void GUISetup::done(int r) {
    Form_Unload();
    QDialog::done(r);
}

void GUISetup::closeEvent(QCloseEvent* e) {
    Form_Unload();
    e->accept();
}
