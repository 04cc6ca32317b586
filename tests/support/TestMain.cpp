// Runs the GoogleTest cases inside a Qt application, so timers, sockets and
// widgets work as in the program. Without a display the offscreen platform is used.
#include <gtest/gtest.h>
#include <QApplication>
#include <cstdlib>

#include "base/MessageFilter.h"
#include "base/ProcessState.h"

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // As in the program: floods of one log line are collapsed on standard error.
    MessageFilter::install();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // No case sees the process-wide state another left behind.
    struct ResetAfterEachCase : ::testing::EmptyTestEventListener {
        void OnTestEnd(const ::testing::TestInfo&) override { ProcessState::resetAll(); }
    };
    ::testing::UnitTest::GetInstance()->listeners().Append(new ResetAfterEachCase);
    return RUN_ALL_TESTS();
}
