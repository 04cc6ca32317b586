#pragma once
// The real gateway on loopback for integration tests: a fresh program folder
// registering the built plug-in, the command-line virtual transceiver as its
// radio, and a test hub on 127.0.0.1:3639 that talks to the port announced in
// the heartbeat.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sstream>

#include "base/WaitObject.h"
#include "support/ChildProcess.h"
#include "support/RegistryText.h"
#include "support/TempHome.h"
#include "support/TestHub.h"

// The computer name the gateway builds its source from.
inline std::string hostName() {
    char host[128] = {};
    gethostname(host, sizeof host - 1);
    return std::string(host).substr(0, std::string(host).find('.'));
}

class Gateway : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(hub.ok()) << "port 3639 is taken on 127.0.0.1"; }
    void TearDown() override {
        gateway.stop();
        radio.stop();
    }

    void writeRegistry() {
        std::string reg =
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\X10UIF\\Enum]\n"
            "\"0\"=\"" +
            regString("VIRTUAL\\" + home.path() + "/bus/cm19a") + "\"\n\n";
        for (const char* progId : {"Kestrel.hspi", "Kestrel.cFireCrackerUSB"})
            reg += std::string("[HKEY_CLASSES_ROOT\\") + progId + "\\InprocServer32]\n@=\"" +
                   regString(KESTREL_LIB) + "\"\n\n";
        home.write("Config/registry.reg", reg);
    }
    void startRadio() {
        std::filesystem::create_directories(home.path() + "/bus");
        radio.start(VIRTUAL_CM19A, {home.path() + "/bus", "cm19a"});
        ASSERT_GE(radio.waitOut("ready"), 0) << "virtual transceiver did not start";
    }
    // Starts the gateway and waits for its heartbeat and its port announcement.
    void startGateway(std::vector<std::pair<std::string, std::string>> env = {}) {
        env.emplace_back("BRINDLE_HOME", home.path());
        gateway.start(BRINDLE_EXE, {}, env);
        const std::string heartbeat = hub.next(15000);
        const size_t at = heartbeat.find("\nport=");
        ASSERT_NE(at, std::string::npos) << heartbeat;
        port = std::atoi(heartbeat.c_str() + at + 6);
        source = "qix.CM19A." + hostName();
        ASSERT_FALSE(hub.nextContaining("Data=Using xAP port").empty());
    }
    void send(const std::string& msgClass, const std::string& target, const std::string& blocks) {
        std::string text = "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=" + msgClass +
                           "\nsource=acme.tester.box\n";
        if (!target.empty()) text += "target=" + target + "\n";
        ASSERT_TRUE(hub.sendTo(port, text + "}\n" + blocks));
    }
    // Frames the radio saw written from line `from` on that contain the text.
    size_t frames(const std::string& text, size_t from = 0) {
        const auto& lines = radio.out();
        return static_cast<size_t>(
            std::count_if(lines.begin() + static_cast<long>(std::min(from, lines.size())),
                          lines.end(), [&](const std::string& l) {
                              return l.rfind("W ", 0) == 0 && l.find(text) != std::string::npos;
                          }));
    }
    // Waits until the radio has printed at least `count` such frames.
    size_t waitFrames(const std::string& text, size_t count, size_t from, int ms = 8000) {
        QElapsedTimer t;
        t.start();
        while (frames(text, from) < count && t.elapsed() < ms) {
            radio.collectFor(20);
        }
        return frames(text, from);
    }
    // Lets the gateway run for a while (the hub keeps collecting).
    void settle(int ms) { WaitObject().Wait(ms); }
    // One field of a device's saved line once the gateway has shut down.
    std::string savedField(const std::string& code, int field) {
        std::istringstream in(home.read("Config/qixBrindle.ini"));
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind(code + "=", 0) != 0) continue;
            std::istringstream fields(line.substr(code.size() + 1));
            std::string f;
            for (int i = 0; std::getline(fields, f, ';'); ++i)
                if (i == field) return f;
        }
        return "(none)";
    }
    void shutDown() {
        gateway.signal(SIGTERM);
        ASSERT_TRUE(gateway.waitFinished());
        EXPECT_EQ(gateway.exitCode(), 0);
    }

    TempHome home;
    TestHub hub;
    ChildProcess radio;
    ChildProcess gateway;
    int port = 0;
    std::string source;
};
