// The gateway doing its job end to end: the real program with the real plug-in
// library, the command-line virtual transceiver as the radio, and a test hub
// on 127.0.0.1:3639 that talks to the port announced in the heartbeat.
#include "support/FileText.h"
#include "support/GatewayFixture.h"

namespace {

TEST_F(Gateway, RadioCommandsBecomeXapEvents) {
    writeRegistry();
    startRadio();
    startGateway();
    ASSERT_GE(radio.waitOut("W 80 01 00 20 14 24 20 20"), 0);  // initialised on open

    radio.writeLine("A3 on");
    const std::string event = hub.nextContaining("class=xAP-X10.event");
    EXPECT_NE(event.find("\nxAP-X10.event\n{\nDevice=A3\nEvent=on\n}\n"), std::string::npos)
        << event;

    // Repeats within the debounce time are one command.
    settle(900);
    hub.clear();
    for (int i = 0; i < 3; ++i) radio.writeLine("A4 on");
    EXPECT_NE(hub.nextContaining("Device=A4").find("Event=on"), std::string::npos);
    EXPECT_TRUE(hub.nextContaining("Device=A4", 1000).empty());

    // A camera button is a value change of the camera last addressed on house A.
    radio.writeLine("A up");
    const std::string io = hub.nextContaining("class=Homeseer.IO");
    EXPECT_NE(io.find("Value.Receive\n{\nDevicecode=A4\nValue=5\n}\n"), std::string::npos) << io;

    shutDown();
    EXPECT_EQ(savedField("A3", 7), "2");  // the host recorded A3 as on
}

TEST_F(Gateway, XapCommandsAreTransmitted) {
    writeRegistry();
    home.write("Config/qixBrindle.ini",
               "[GENERAL]\nNinjaIncrement=2\n[PLUGINDEVICES]\n"
               "Q1=;Porch Cam;X10 CM19A FireCracker USB;1;100;0;Ninja Pan & Tilt Camera;0;0;;\n"
               "Q2=;Yard Cam;X10 CM19A FireCracker USB;1;100;0;Ninja Pan & Tilt Camera;0;0;;\n");
    startRadio();
    startGateway();
    ASSERT_GE(radio.waitOut("W 80 01 00 20 14 24 20 20"), 0);
    size_t mark = radio.out().size();

    send("xAP-X10.request", "", "xAP-X10.request\n{\ndevice=A1,A2\ncommand=ON\n}\n");
    EXPECT_EQ(waitFrames("A2 On", 3, mark), 3u);
    settle(300);
    EXPECT_EQ(frames("A1 On", mark), 3u);
    EXPECT_EQ(frames("A2 On", mark), 3u);

    mark = radio.out().size();
    send("xAP-X10.request", "", "xAP-X10.request\n{\ndevice=B1\ncommand=dim\n}\n");
    send("xAP-X10.request", "", "xAP-X10.request\n{\ndevice=B1\ncommand=all_lights_on\n}\n");
    EXPECT_EQ(waitFrames("Dim", 3, mark), 3u);
    settle(400);
    EXPECT_EQ(frames("Dim", mark), 3u);
    EXPECT_EQ(frames("", mark), 3u);  // all_lights_on sent nothing

    // Both used cameras pan left, "NinjaIncrement" times each.
    mark = radio.out().size();
    hub.clear();
    send("xAPBSC.cmd", source + ":>", "output.state\n{\nID=*\nLevel=7\n}\n");
    const std::string first = hub.nextContaining("class=xapBSC.Event");
    const std::string second = hub.nextContaining("class=xapBSC.Event");
    EXPECT_NE(first.find("uid=FF008701\n"), std::string::npos) << first;
    EXPECT_NE(first.find(":Porch_Cam.CM19A_Ninja___A1.Ninja\n"), std::string::npos);
    EXPECT_NE(second.find("uid=FF008702\n"), std::string::npos) << second;
    EXPECT_NE(second.find("Level=7/20"), std::string::npos);
    // 2 cameras, 2 moves each, 3 writes a move.
    EXPECT_EQ(waitFrames("Left", 2u * 2u * 3u, mark), 2u * 2u * 3u);

    // Queries are answered per camera, values before info, in camera order.
    hub.clear();
    send("xAPBSC.query", source + ":>", "request\n{\n}\n");
    std::vector<std::string> answers;
    for (int i = 0; i < 4; ++i) answers.push_back(hub.nextContaining("class=xAPBSC."));
    EXPECT_NE(answers[0].find("class=xAPBSC.Values\n"), std::string::npos);
    EXPECT_NE(answers[0].find("uid=FF008701"), std::string::npos);
    EXPECT_NE(answers[1].find("class=xAPBSC.Info\n"), std::string::npos);
    EXPECT_NE(answers[2].find("uid=FF008702"), std::string::npos);
    EXPECT_NE(answers[3].find("DisplayText=Left\n"), std::string::npos) << answers[3];

    // Echo and role.
    send("WDT.Echo", "", "Echo.Query\n{\nQuery=Ping\n}\n");
    const std::string pong = hub.nextContaining("class=WDT.Echo");
    EXPECT_NE(pong.find("target=acme.tester.box\n"), std::string::npos);
    EXPECT_NE(pong.find("Response=ping\n"), std::string::npos);
    send("Homeseer.Role", "", "Role.Query\n{\nRole=plugin\n}\n");
    send("Homeseer.Role", "", "Role.Query\n{\nRole=ANY\n}\n");
    EXPECT_NE(hub.nextContaining("class=Homeseer.Role")
                  .find("Role=Application\nPath=" + std::string(BRINDLE_EXE) + "\n"),
              std::string::npos);
    EXPECT_TRUE(hub.nextContaining("class=Homeseer.Role", 800).empty());
    shutDown();
}

TEST_F(Gateway, StartsWithoutTheTransceiverAndTakesItWhenPluggedIn) {
    writeRegistry();
    startGateway();
    const std::string log = hub.nextContaining("CM19A USB Not Connected", 8000);
    EXPECT_NE(log.find("Type=Quillon\n"), std::string::npos) << log;

    // The radio makes its socket file before it listens; an open refused in
    // between is tried again, so this holds however the two meet.
    startRadio();
    ASSERT_GE(radio.waitOut("W 80 01 00 20 14 24 20 20", 0, 8000), 0);
    radio.writeLine("B2 off");
    EXPECT_NE(hub.nextContaining("class=xAP-X10.event", 5000).find("Device=B2\nEvent=off"),
              std::string::npos);
    shutDown();
}

TEST_F(Gateway, AStalledTransceiverLeavesXapAnsweredAndGetsItsFramesInOrder) {
    writeRegistry();
    startRadio();
    startGateway();
    ASSERT_GE(radio.waitOut("W 80 01 00 20 14 24 20 20"), 0);
    const size_t mark = radio.out().size();

    // The radio's process stops: it takes no more frames, as a hung device.
    radio.signal(SIGSTOP);
    std::vector<std::string> expected;
    for (int i = 0; i < 100; ++i) {
        const std::string device =
            std::string(1, static_cast<char>('A' + i % 16)) + std::to_string(1 + i / 16);
        const bool on = i % 2 == 0;
        send("xAP-X10.request", "",
             "xAP-X10.request\n{\ndevice=" + device + "\ncommand=" + (on ? "on" : "off") + "\n}\n");
        expected.insert(expected.end(), 3, device + (on ? " On" : " Off"));
    }
    // Once the gateway has read the commands, a query is answered at once.
    hub.clear();
    send("WDT.Echo", "", "Echo.Query\n{\nQuery=Commands read\n}\n");
    ASSERT_FALSE(hub.nextContaining("Response=commands read", 10000).empty());
    QElapsedTimer answered;
    answered.start();
    send("WDT.Echo", "", "Echo.Query\n{\nQuery=Ping\n}\n");
    ASSERT_FALSE(hub.nextContaining("Response=ping", 2000).empty());
    EXPECT_LT(answered.elapsed(), 100);

    // Going on, the radio gets every frame, in the order the commands came.
    radio.signal(SIGCONT);
    EXPECT_EQ(waitFrames(" O", expected.size(), mark, 15000), expected.size());
    std::vector<std::string> written;
    const auto& lines = radio.out();
    for (size_t i = mark; i < lines.size(); ++i) {
        // The plug-in's own transceiver may initialise the device after the
        // bridge's did; a reopen later on would show here.
        if (lines[i].rfind("W ", 0) != 0 ||
            (written.empty() && lines[i].ends_with("initialisation")))
            continue;
        const size_t meaning = lines[i].find("  ");
        written.push_back(meaning == std::string::npos ? lines[i] : lines[i].substr(meaning + 2));
    }
    EXPECT_EQ(written, expected);
    shutDown();
}

// The GUI libraries come with the desktop module, which the program loads only
// where there is a display: headless (as the tests run) it maps none of them,
// with the plug-in loaded and its radio up.
TEST_F(Gateway, HeadlessItMapsNoGuiLibrary) {
    writeRegistry();
    startRadio();
    startGateway();
    ASSERT_GE(radio.waitOut("W 80 01 00 20 14 24 20 20", 0, 8000), 0);
    const std::string maps = readAll("/proc/" + std::to_string(gateway.pid()) + "/maps");
    EXPECT_NE(maps.find("/libkestrel.so"), std::string::npos);
    for (const char* lib : {"libQt6Widgets", "libQt6Gui", "libbrindle-desktop", "libkestrel-ui"})
        EXPECT_EQ(maps.find(lib), std::string::npos) << lib;
    shutDown();
}

// On an X display of its own the same program loads the desktop module, and
// runs and shuts down as it does headless.
TEST_F(Gateway, OnADisplayItLoadsTheDesktop) {
    const char* xvfb = "/usr/bin/Xvfb";
    if (!std::filesystem::exists(xvfb)) GTEST_SKIP() << "Xvfb is not installed";
    int number = 100 + static_cast<int>(::getpid() % 800);
    while (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock")) ++number;
    const std::string display = ":" + std::to_string(number);
    ChildProcess x;
    x.start(xvfb, {display, "-nolisten", "tcp", "-screen", "0", "640x480x24"});
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    for (int i = 0; i < 100 && !std::filesystem::exists(socket); ++i) WaitObject().Wait(50);
    ASSERT_TRUE(std::filesystem::exists(socket)) << "Xvfb did not start";

    writeRegistry();
    startRadio();
    startGateway({{"DISPLAY", display}, {"QT_QPA_PLATFORM", "xcb"}});
    ASSERT_GE(radio.waitOut("W 80 01 00 20 14 24 20 20", 0, 8000), 0);
    const std::string maps = readAll("/proc/" + std::to_string(gateway.pid()) + "/maps");
    EXPECT_NE(maps.find("/libbrindle-desktop.so"), std::string::npos);
    EXPECT_NE(maps.find("libQt6Widgets"), std::string::npos);
    for (const std::string& line : gateway.err())
        EXPECT_EQ(line.find("running headless"), std::string::npos) << line;
    radio.writeLine("B2 off");
    EXPECT_NE(hub.nextContaining("class=xAP-X10.event", 5000).find("Device=B2\nEvent=off"),
              std::string::npos);
    shutDown();
    x.stop();
}

}  // namespace
