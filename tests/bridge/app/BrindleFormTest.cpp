#include <gtest/gtest.h>
#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>

#include "app/BrindleForm.h"
#include "base/DoEvents.h"
#include "base/WaitObject.h"
#include "desktop/DesktopShell.h"
#include "host/Application.h"
#include "host/Setup.h"
#include "host/WebSettings.h"
#include "support/FakeKestrel.h"
#include "support/TempHome.h"
#include "support/TestHub.h"
#include "xap/XapSettings.h"
#include "xap/xap.h"
#include "xap/xapGlobal.h"

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(hub.ok()) << "port 3639 is taken on 127.0.0.1";
        xapGlobal::reset();
        // As the program on a display: the desktop module's tray and windows.
        Desktop::factory() = &DesktopShell::create;
        form = std::make_unique<BrindleForm>();
        form->openUrl = [this](const std::string& url) { opened.push_back(url); };
        form->quit = [] {};
    }
    void TearDown() override {
        form.reset();
        Application::release();
        xapGlobal::reset();
    }

    TempHome home;
    TestHub hub;
    FakeKestrel kestrel;
    DesktopShell& shell() { return *dynamic_cast<DesktopShell*>(form->desktop()); }

    std::unique_ptr<BrindleForm> form;
    std::vector<std::string> opened;
};

TEST_F(MainWindow, StartUpSendsHeartbeatThenThePortAndHeldMessagesLater) {
    // Something produced before the transport is up is held back...
    xapGlobal::SendXap("", "Early.Class", "b", xapGlobal::item("k", "v"));
    ASSERT_TRUE(form->Form_Load());
    // The addresses come from the program folder's qixXap.ini.
    EXPECT_EQ(XapSettings::BroadcastAddress(), "127.0.0.1");
    EXPECT_EQ(XapSettings::InterfaceAddress(), "127.0.0.1");
    const int port = form->transport()->port();
    const std::string first = hub.next();
    EXPECT_EQ(first.rfind("xap-hbeat\n", 0), 0u);
    EXPECT_NE(first.find("source=qix.CM19A." + XapSettings::ComputerName() + "\n"),
              std::string::npos);
    EXPECT_NE(first.find("uid=FF008700\n"), std::string::npos);
    // ...and goes out just before the first message produced afterwards.
    EXPECT_NE(hub.next().find("class=Early.Class\n"), std::string::npos);
    const std::string second = hub.next();
    EXPECT_NE(second.find("class=Homeseer.Event\n"), std::string::npos);
    EXPECT_NE(second.find("Data=Using xAP port " + std::to_string(port) + "\n"), std::string::npos);
    // From now on everything goes out at once.
    xapGlobal::SendXap("", "Later.Class", "b", "");
    EXPECT_NE(hub.next().find("class=Later.Class\n"), std::string::npos);
}

TEST_F(MainWindow, ReceivedTextsReachTheDispatcher) {
    ASSERT_TRUE(form->Form_Load());
    const int port = form->transport()->port();
    hub.sendTo(port, "xap-header\n{\nclass=a.b\n}\n");
    hub.sendTo(port, "xap-header\n{\nclass=c.d\n}\n");
    WaitObject().Wait(200);
    EXPECT_EQ(form->dispatcher()->received(), 2u);
    // Garbage is handed over as well and must not take the program down.
    hub.sendTo(port, std::string("xap-header\n}\n}\n\0\n=\n", 19));
    hub.sendTo(port, "xap-header" + std::string(65000, '}'));
    WaitObject().Wait(200);
    EXPECT_EQ(form->dispatcher()->received(), 4u);
}

TEST_F(MainWindow, AnUnboundTransportEndsTheStartUp) {
    home.write("Config/qixXap.ini",
               "[Interface]\nBroadcastAddress=127.0.0.1\nInterfaceAddress=127.0.0.1\n");
    std::vector<std::unique_ptr<UdpSocket>> taken;
    for (int p = xap::kFirstPort; p < xap::kFirstPort + xap::kPortsToTry; ++p) {
        taken.push_back(std::make_unique<UdpSocket>());
        taken.back()->bind("127.0.0.1", p);  // ports busy elsewhere are busy anyway
    }
    EXPECT_FALSE(form->Form_Load());
    EXPECT_EQ(form->transport(), nullptr);
    EXPECT_EQ(home.read("Data/brindlehub.txt"), "brindlehub xAP Init Error -1 occurred 0 \n");
    EXPECT_EQ(hub.pending(), 0u);
}

TEST_F(MainWindow, BindsThePluginToTheHostBeforeTheHostLoads) {
    ASSERT_TRUE(form->Form_Load());
    ASSERT_TRUE(kestrel.plugin);
    ASSERT_TRUE(kestrel.transceiver);
    EXPECT_EQ(kestrel.plugin->callback.get(), form->hostForm());
    EXPECT_EQ(kestrel.plugin->hs.get(), Application::instance());
    EXPECT_EQ(kestrel.plugin->inits, 1);
    EXPECT_EQ(Application::instance()->plugin(), kestrel.plugin);
    EXPECT_TRUE(form->hostForm()->loaded());
    EXPECT_EQ(Application::instance()->devices().DeviceCount(), 511);
    form->Exit();
    EXPECT_EQ(kestrel.plugin.use_count(), 1);  // every reference of the program released
    EXPECT_EQ(kestrel.transceiver.use_count(), 1);
}

TEST(MainWindowWithoutPlugin, KeepsTheHeartbeatButLoadsNoHost) {
    TempHome home;
    TestHub hub;
    ASSERT_TRUE(hub.ok());
    xapGlobal::reset();
    {
        BrindleForm form;
        form.quit = [] {};
        ASSERT_TRUE(form.Form_Load());
        EXPECT_NE(hub.next().find("xap-hbeat"), std::string::npos);
        EXPECT_NE(home.read("Data/brindlehub.txt").find("brindlehub Main Load 0 "),
                  std::string::npos);
        EXPECT_FALSE(form.hostForm() && form.hostForm()->loaded());
        EXPECT_EQ(form.desktop(), nullptr);  // headless: no tray, menu or windows
        form.Exit();
        // Nothing was loaded, so nothing may overwrite the saved devices.
        EXPECT_EQ(home.read("Config/qixBrindle.ini").find("PLUGINDEVICES"), std::string::npos);
    }
    Application::release();
    xapGlobal::reset();
}

TEST_F(MainWindow, ExitWaitsForOperationsThatLetEventsRun) {
    ASSERT_TRUE(form->Form_Load());
    {
        // As if a signal arrived while the plug-in waits with events running.
        NestedEventScope inside;
        form->requestExit();
        EXPECT_FALSE(form->exited());
    }
    // Events as the top-level loop runs them (a wait would itself hold it back).
    QElapsedTimer t;
    t.start();
    while (!form->exited() && t.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_TRUE(form->exited());
}

TEST_F(MainWindow, TrayOpensTheMenuOnButtonReleaseOnly) {
    for (long msg : {513L, 515L, 516L, 518L, 512L}) {
        shell().trayIcon().mouseMessage(msg);
        EXPECT_FALSE(shell().menu().isVisible()) << msg;
    }
    for (long msg : {514L, 517L}) {
        shell().trayIcon().mouseMessage(msg);
        EXPECT_TRUE(shell().menu().isVisible()) << msg;
        shell().menu().hide();
    }
}

TEST_F(MainWindow, MenuOpensTheLocalPages) {
    ASSERT_TRUE(form->Form_Load());
    form->MenuArray_Click(BrindleForm::kBrowser);
    form->MenuArray_Click(BrindleForm::kHelp);
    EXPECT_EQ(opened, (std::vector<std::string>{"http://localhost:8012/status",
                                                "http://localhost:8012/help"}));
    EXPECT_FALSE(form->exited());
}

TEST_F(MainWindow, PluginMenusBecomeTrayEntriesAboveExit) {
    ASSERT_TRUE(form->Form_Load());
    const QList<QAction*> actions = shell().menu().actions();
    QAction* entry = nullptr;
    for (QAction* a : actions)
        if (a->text() == QStringLiteral("X10 CM19A FireCracker USB: Configure...")) entry = a;
    ASSERT_NE(entry, nullptr);
    EXPECT_LT(actions.indexOf(entry), actions.indexOf(actions.last()));
    EXPECT_EQ(actions.last()->text(), QStringLiteral("Exit"));
    entry->trigger();
    EXPECT_EQ(kestrel.plugin->menuSelections, std::vector<std::string>{"Configure..."});
}

TEST_F(MainWindow, ActivityBlinkReturnsToIdle) {
    ASSERT_TRUE(form->Form_Load());
    form->SwapIcons();
    EXPECT_TRUE(form->showingActivity());
    WaitObject().Wait(300);
    EXPECT_FALSE(form->showingActivity());
}

TEST_F(MainWindow, SettingsWindowSavesOnExitInOrder) {
    home.write("Config/qixBrindle.ini", "[GENERAL]\nServerPort=\"8090\"\n");
    ASSERT_TRUE(form->Form_Load());
    EXPECT_EQ(WebSettings::instance().ServerPort, "8090");  // quotes removed
    form->MenuArray_Click(BrindleForm::kGuiSetup);
    GUISetup* setup = shell().settingsWindow();
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(setup->aServerPort->text(), "8090");
    EXPECT_EQ(setup->aBackground->text(), "#000000");
    setup->aServerPort->setText("8013");
    setup->aStyleSheet->setText("Dark.css");

    form->Exit();
    EXPECT_TRUE(form->exited());
    EXPECT_EQ(form->transport(), nullptr);
    EXPECT_FALSE(xapGlobal::values().XapReady);
    EXPECT_EQ(WebSettings::instance().ServerPort, "8013");
    // The settings reached the disk through the flush of the INI cache.
    const std::string ini = home.read("Config/qixBrindle.ini");
    EXPECT_NE(ini.find("[GENERAL]\nBackground=#000000\nServerPort=8013\nStyleSheet=Dark.css\n"),
              std::string::npos)
        << ini;
    // The host window saved the device table on the way out.
    EXPECT_NE(ini.find("[PLUGINDEVICES]\nA1="), std::string::npos);
    form->Exit();  // a second Exit does nothing
}

}  // namespace
