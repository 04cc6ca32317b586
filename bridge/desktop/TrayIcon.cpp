#include "desktop/TrayIcon.h"

#include <QApplication>

bool TrayIcon::available() {
    // A core application (headless) has no notification area to ask.
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr &&
           QSystemTrayIcon::isSystemTrayAvailable();
}

TrayIcon::TrayIcon() = default;

TrayIcon::~TrayIcon() {
    Update(false, QIcon());
}

void TrayIcon::setCaption(const std::string& caption) {
    m_caption = caption.substr(0, 64);
}

void TrayIcon::Update(bool IconOn, const QIcon& img) {
    if (!IconOn) {
        if (m_icon) m_icon->hide();
        m_shown = false;
        return;
    }
    if (!available()) return;
    if (!m_icon) {
        m_icon = std::make_unique<QSystemTrayIcon>();
        QObject::connect(m_icon.get(), &QSystemTrayIcon::activated,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             switch (reason) {
                                 case QSystemTrayIcon::Trigger:
                                     mouseMessage(kLeftButtonUp);
                                     break;
                                 case QSystemTrayIcon::Context:
                                     mouseMessage(kRightButtonUp);
                                     break;
                                 case QSystemTrayIcon::DoubleClick:
                                     mouseMessage(kLeftDoubleClick);
                                     break;
                                 default:
                                     break;
                             }
                         });
    }
    m_icon->setIcon(img);
    m_icon->setToolTip(QString::fromLatin1(m_caption.c_str()));
    if (!m_shown) m_icon->show();
    m_shown = true;
}

void TrayIcon::mouseMessage(long msg) {
    if (m_inCallback || msg < kLeftButtonDown || msg > kRightDoubleClick) return;
    if (m_callback == nullptr) return;
    m_inCallback = true;
    m_callback->TrayIconCallback(msg);
    m_inCallback = false;
}
