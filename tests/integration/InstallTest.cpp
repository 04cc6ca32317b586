// `cmake --install` into a temporary prefix, a state directory prepared by the
// installed brindle-setup-home, and the installed gateway started from there:
// twice, with an upgrade in between that must keep the user's files.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "support/ChildProcess.h"
#include "support/TestHub.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
void writeFile(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

// Runs a program to its end; its exit code, or -1.
int run(const std::string& program, const std::vector<std::string>& args,
        std::string* output = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QStringList list;
    for (const auto& a : args) list << QString::fromStdString(a);
    p.start(QString::fromStdString(program), list);
    if (!p.waitForFinished(120000)) return -1;
    if (output) *output = p.readAll().toStdString();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

class Install : public ::testing::Test {
protected:
    void install() {
        std::string out;
        ASSERT_EQ(run(BRINDLE_CMAKE, {"--install", BRINDLE_BUILD_DIR, "--prefix", prefix}, &out), 0)
            << out;
    }
    void setUpHome() {
        std::string out;
        ASSERT_EQ(run(prefix + "/brindle-setup-home", {state}, &out), 0) << out;
    }
    // Starts the installed gateway on the state directory and waits until it
    // is on the network with the installed plug-in loaded.
    void startAndStop(TestHub& hub) {
        ChildProcess gateway;
        gateway.start(prefix + "/brindle", {}, {{"BRINDLE_HOME", state}});
        EXPECT_NE(hub.next(15000).find("xap-hbeat"), std::string::npos);
        // Only a loaded plug-in looks for the transceiver.
        EXPECT_FALSE(hub.nextContaining("CM19A USB Not Connected", 8000).empty());
        gateway.signal(SIGTERM);
        ASSERT_TRUE(gateway.waitFinished());
        EXPECT_EQ(gateway.exitCode(), 0);
    }

    QTemporaryDir dir;
    std::string prefix = dir.path().toStdString() + "/opt/brindle";
    std::string state = dir.path().toStdString() + "/var/lib/brindle";
    const std::string loopback =
        "[Interface]\nBroadcastAddress=127.0.0.1\nInterfaceAddress=127.0.0.1\n";
};

TEST_F(Install, PutsEverythingUnderThePrefixAndShipsDefaultsForARealNetwork) {
    install();
    for (const char* file :
         {"brindle", "libkestrel.so", "kestrel-register", "virtual-cm19a", "xap-hub", "xap-send",
          "xap-listen", "brindle-setup-home", "defaults/Config/qixXap.ini",
          "lib/systemd/system/brindle.service", "lib/systemd/system/xap-hub.service",
          "lib/udev/rules.d/60-cm19a.rules", "lib/modprobe.d/cm19a-blacklist.conf",
          "lib/sysusers.d/brindle.conf"})
        EXPECT_TRUE(fs::exists(prefix + "/" + file)) << file;
    if (fs::is_directory(std::string(BRINDLE_SOURCE_DIR) + "/html")) {
        EXPECT_TRUE(fs::is_directory(prefix + "/HTML"));
    }
    const std::string defaults = readFile(prefix + "/defaults/Config/qixXap.ini");
    EXPECT_NE(defaults.find("BroadcastAddress=Default"), std::string::npos);
    EXPECT_EQ(defaults.find("127.0.0.1"), std::string::npos);
    EXPECT_NE(readFile(prefix + "/lib/systemd/system/brindle.service")
                  .find("ExecStart=" + prefix + "/brindle\n"),
              std::string::npos);

    // An empty state directory gets the defaults and the registration of the
    // installed library, by its full path. (Nothing is started on it.)
    setUpHome();
    EXPECT_EQ(readFile(state + "/Config/qixXap.ini"), defaults);
    EXPECT_TRUE(fs::is_directory(state + "/Data"));
    EXPECT_TRUE(fs::is_directory(state + "/Scripts"));
    EXPECT_NE(readFile(state + "/Config/registry.reg").find(prefix + "/libkestrel.so"),
              std::string::npos);
}

TEST_F(Install, TheInstalledGatewayRunsTwiceAndAnUpgradeKeepsTheUsersFiles) {
    TestHub hub;
    ASSERT_TRUE(hub.ok()) << "port 3639 is taken on 127.0.0.1";
    install();
    // The user's own network settings exist before the first start.
    writeFile(state + "/Config/qixXap.ini", loopback);
    setUpHome();
    EXPECT_EQ(readFile(state + "/Config/qixXap.ini"), loopback);
    startAndStop(hub);

    // The user edits settings and adds a script; then an upgrade is installed
    // over the old one and the service starts again.
    const std::string edited = loopback + "; mine\n";
    writeFile(state + "/Config/qixXap.ini", edited);
    writeFile(state + "/Scripts/mine.txt", "user script\n");
    const std::string saved = readFile(state + "/Config/qixBrindle.ini");
    install();
    setUpHome();
    EXPECT_EQ(readFile(state + "/Config/qixXap.ini"), edited);
    EXPECT_EQ(readFile(state + "/Scripts/mine.txt"), "user script\n");
    EXPECT_EQ(readFile(state + "/Config/qixBrindle.ini"), saved);
    hub.clear();
    startAndStop(hub);
    EXPECT_EQ(readFile(state + "/Config/qixXap.ini"), edited);
}

TEST_F(Install, TheUnitFilesPassSystemdVerification) {
    const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
    if (analyze.isEmpty()) GTEST_SKIP() << "systemd-analyze is not installed (package systemd)";
    install();
    std::string out;
    const int rc = run(analyze.toStdString(),
                       {"verify", "--man=no", prefix + "/lib/systemd/system/xap-hub.service",
                        prefix + "/lib/systemd/system/brindle.service"},
                       &out);
    EXPECT_EQ(rc, 0) << out;
    // Unknown keys and bad values are only warnings to verify; none may appear.
    EXPECT_EQ(out, "");
}

}  // namespace
