#pragma once
// What the tray window calls with the mouse message of a notification.

class TrayIconCallbackTarget {
public:
    virtual ~TrayIconCallbackTarget() = default;
    virtual void TrayIconCallback(long msg) = 0;
};
