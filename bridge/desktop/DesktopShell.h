#pragma once
// The desktop of the main window: the tray icon with its two pictures (a dark
// transceiver when idle, lit while a command runs), the menu it opens, the web
// settings window, and the browser. The pictures and the menu are made when
// first needed, so a desktop without a notification area never pays for the
// painter, the style or the fonts.

#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "app/Desktop.h"
#include "desktop/GUISetup.h"
#include "desktop/TrayIcon.h"
#include "desktop/TrayIconCallbackTarget.h"

class DesktopShell : public Desktop, public TrayIconCallbackTarget {
public:
    static std::unique_ptr<Desktop> create();

    DesktopShell();
    ~DesktopShell() override;

    void setCaption(const std::string& caption) override;
    void setMenu(std::vector<MenuEntry> entries) override;
    void showIcon(bool activity) override;
    void removeIcon() override;
    void openSettings() override;
    void closeSettings() override;
    void openUrl(const std::string& url) override;

    // A left or right button's release opens the menu, right-aligned at the cursor.
    void TrayIconCallback(long msg) override;

    TrayIcon& trayIcon() { return m_tray; }
    QMenu& menu();
    GUISetup* settingsWindow() const { return m_settings; }

private:
    TrayIcon m_tray;
    std::vector<MenuEntry> m_entries;
    std::unique_ptr<QMenu> m_menu;
    QIcon m_idle;
    QIcon m_lit;
    QPointer<GUISetup> m_settings;
};
