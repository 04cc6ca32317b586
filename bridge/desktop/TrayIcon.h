#pragma once
// The notification-area icon. Mouse notifications arrive as the window mouse
// messages (513 left down ... 518 right double click) and are passed to the
// callback object, one at a time. Where the desktop has no notification area
// (or no display at all) the icon is simply absent and Update does nothing.

#include <QIcon>
#include <QSystemTrayIcon>
#include <memory>
#include <string>

#include "desktop/TrayIconCallbackTarget.h"

class TrayIcon {
public:
    static constexpr long kLeftButtonDown = 513;
    static constexpr long kLeftButtonUp = 514;
    static constexpr long kLeftDoubleClick = 515;
    static constexpr long kRightButtonDown = 516;
    static constexpr long kRightButtonUp = 517;
    static constexpr long kRightDoubleClick = 518;

    // Whether the desktop has a notification area at all (never headless).
    static bool available();

    TrayIcon();
    // Unloading the tray window removes the icon.
    ~TrayIcon();

    // The tip text; at most 64 characters are shown.
    void setCaption(const std::string& caption);
    void SetCallback(TrayIconCallbackTarget* ob) { m_callback = ob; }
    // Shows or replaces the icon (IconOn true) or removes it (false).
    void Update(bool IconOn, const QIcon& img);
    bool isShown() const { return m_shown; }

    // Hands one mouse message to the callback unless one is being handled.
    void mouseMessage(long msg);

private:
    std::unique_ptr<QSystemTrayIcon> m_icon;
    std::string m_caption;
    TrayIconCallbackTarget* m_callback = nullptr;
    bool m_shown = false;
    bool m_inCallback = false;
};
