#include "desktop/DesktopShell.h"

#include <QAction>
#include <QCursor>
#include <QDesktopServices>
#include <QPainter>
#include <QPixmap>
#include <QUrl>

namespace {

QIcon paintIcon(const QColor& light) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x30, 0x38, 0x48));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(3, 9, 26, 18, 4, 4);
    p.setPen(QPen(QColor(0x90, 0x98, 0xa8), 2));
    p.drawLine(22, 9, 26, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(light);
    p.drawEllipse(QPoint(10, 18), 4, 4);
    return QIcon(pm);
}

}  // namespace

std::unique_ptr<Desktop> DesktopShell::create() {
    return std::make_unique<DesktopShell>();
}

DesktopShell::DesktopShell() {
    m_tray.SetCallback(this);
}

DesktopShell::~DesktopShell() {
    // Exit stores the window's fields; a desktop destroyed without it keeps nothing.
    if (m_settings) delete m_settings.data();
}

void DesktopShell::setCaption(const std::string& caption) {
    m_tray.setCaption(caption);
}

void DesktopShell::setMenu(std::vector<MenuEntry> entries) {
    m_entries = std::move(entries);
    m_menu.reset();
}

QMenu& DesktopShell::menu() {
    if (m_menu) return *m_menu;
    m_menu = std::make_unique<QMenu>();
    m_menu->setTitle(QStringLiteral("CM19A"));
    for (const MenuEntry& entry : m_entries) {
        if (entry.caption == "-") {
            m_menu->addSeparator();
            continue;
        }
        QAction* action = m_menu->addAction(QString::fromLatin1(entry.caption.c_str()));
        QObject::connect(action, &QAction::triggered, [run = entry.action] {
            if (run) run();
        });
    }
    return *m_menu;
}

void DesktopShell::showIcon(bool activity) {
    if (!TrayIcon::available()) return;
    if (m_idle.isNull()) {
        m_idle = paintIcon(QColor(0x50, 0x60, 0x50));
        m_lit = paintIcon(QColor(0x40, 0xff, 0x40));
    }
    m_tray.Update(true, activity ? m_lit : m_idle);
}

void DesktopShell::removeIcon() {
    m_tray.Update(false, QIcon());
}

void DesktopShell::openSettings() {
    if (!m_settings) {
        m_settings = new GUISetup();
        m_settings->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_settings->show();
    m_settings->raise();
}

void DesktopShell::closeSettings() {
    if (!m_settings) return;
    m_settings->Form_Unload();
    delete m_settings.data();
}

void DesktopShell::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(url.c_str())));
}

void DesktopShell::TrayIconCallback(long msg) {
    if (msg != TrayIcon::kLeftButtonUp && msg != TrayIcon::kRightButtonUp) return;
    QMenu& m = menu();
    const QPoint at = QCursor::pos();
    m.popup(QPoint(at.x() - m.sizeHint().width(), at.y()));
}
