#pragma once
// What the program shows where there is a display: the notification-area icon
// and its menu, the web settings window, and the browser. The widgets behind it
// live in a module of their own that is loaded only when a display is there
// (DesktopModule), so a headless gateway never maps the GUI libraries; without
// one there is no Desktop at all.

#include <functional>
#include <memory>
#include <string>
#include <vector>

class Desktop {
public:
    // One menu entry; the caption "-" is a separator.
    struct MenuEntry {
        std::string caption;
        std::function<void()> action;
    };
    using Factory = std::unique_ptr<Desktop> (*)();
    // Makes the desktop of a main window: installed once the module is loaded
    // (or by a test), empty headless.
    static Factory& factory();

    virtual ~Desktop() = default;

    // The icon's tip (at most 64 characters are shown) and its menu, in order.
    virtual void setCaption(const std::string& caption) = 0;
    virtual void setMenu(std::vector<MenuEntry> entries) = 0;
    // Shows the idle or the lit picture where the desktop has a notification
    // area; removeIcon takes it away.
    virtual void showIcon(bool activity) = 0;
    virtual void removeIcon() = 0;
    // The web settings window: opened or raised; at exit its fields are stored
    // and it closes.
    virtual void openSettings() = 0;
    virtual void closeSettings() = 0;
    virtual void openUrl(const std::string& url) = 0;
};
