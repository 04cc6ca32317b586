#include <gtest/gtest.h>

#include <vector>

#include "desktop/TrayIcon.h"

namespace {

struct Recorder : TrayIconCallbackTarget {
    TrayIcon* icon = nullptr;
    std::vector<long> heard;
    void TrayIconCallback(long msg) override {
        heard.push_back(msg);
        icon->mouseMessage(TrayIcon::kLeftButtonUp);  // as a menu's own click would
    }
};

TEST(TrayIcon, PassesMouseMessagesOneAtATimeAndNothingElse) {
    TrayIcon icon;
    icon.mouseMessage(TrayIcon::kRightButtonUp);  // no callback yet: dropped
    Recorder target;
    target.icon = &icon;
    icon.SetCallback(&target);
    for (long msg : {512L, 513L, 517L, 518L, 519L}) icon.mouseMessage(msg);
    EXPECT_EQ(target.heard, (std::vector<long>{513, 517, 518}));
}

}  // namespace
