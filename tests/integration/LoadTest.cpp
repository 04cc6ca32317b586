// A burst of bad and good datagrams from a misbehaving peer: the gateway keeps
// running, its memory and its error log stay bounded, and it answers at once
// when the burst is over.
#include <gtest/gtest.h>
#include <QElapsedTimer>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/WaitObject.h"
#include "support/ChildProcess.h"
#include "support/TempHome.h"
#include "support/TestHub.h"

namespace {

// A field of /proc/<pid>/status in kB ("VmRSS", "VmHWM").
long statusKb(qint64 pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

std::string header(const std::string& msgClass, const std::string& target = {}) {
    std::string text =
        "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=" + msgClass + "\nsource=acme.flood.box\n";
    if (!target.empty()) text += "target=" + target + "\n";
    return text + "}\n";
}

std::vector<std::string> mixedDatagrams() {
    char host[128] = {};
    gethostname(host, sizeof host - 1);
    const std::string gateway = std::string("qix.CM19A.") + host + ":>";
    std::string blocks;
    for (int i = 1; i <= 600; ++i)
        blocks += "output.state." + std::to_string(i) + "\n{\nID=*\nLevel=1\n}\n";
    std::string codes = "A1";
    for (int i = 0; i < 3000; ++i) codes += ",B2";
    return {
        header("WDT.Echo") + "Echo.Query\n{\nQuery=flood\n}\n",
        header("xAPBSC.query", gateway),
        header("xAPBSC.cmd", gateway) + blocks,
        header("xAP-X10.request") + "xAP-X10.request\n{\ndevice=" + codes + "\ncommand=on\n}\n",
        header("Test.Dup") + "b\n{\nk=1\nk=2\n}\n",
        header("WDT.Echo") + "Echo.Query\n{\nQuery=x" + std::string(1, '\0') + "y\n}\n",
        std::string(60000, '\0'),
        "xap-header\n}\n}\n}",
        "xap-header\r\n{\r\nclass=x\r\n}\r\n",
        "not xap at all",
    };
}

TEST(Load, ABurstOfMixedDatagramsLeavesItBoundedAndAnswering) {
    TempHome home;
    TestHub hub;
    ASSERT_TRUE(hub.ok()) << "port 3639 is taken on 127.0.0.1";
    ChildProcess gateway;
    // A small quarantine, so the sanitizer's own keeping of freed blocks does
    // not count as the program's memory.
    gateway.start(
        BRINDLE_EXE, {},
        {{"BRINDLE_HOME", home.path()}, {"ASAN_OPTIONS", "detect_leaks=0:quarantine_size_mb=1"}});
    const std::string heartbeat = hub.next(15000);
    const size_t at = heartbeat.find("\nport=");
    ASSERT_NE(at, std::string::npos) << heartbeat;
    const int port = std::atoi(heartbeat.c_str() + at + 6);
    ASSERT_FALSE(hub.nextContaining("Data=Using xAP port").empty());
    WaitObject().Wait(300);
    hub.clear();

    const long idleKb = statusKb(gateway.pid(), "VmRSS");
    ASSERT_GT(idleKb, 0);
    // Peak resident memory from here on.
    std::ofstream("/proc/" + std::to_string(gateway.pid()) + "/clear_refs") << "5";

    const std::vector<std::string> kinds = mixedDatagrams();
    for (int i = 0; i < 10000; ++i) hub.sendTo(port, kinds[static_cast<size_t>(i) % kinds.size()]);

    // Once the burst is over an echo is answered within a second.
    WaitObject().Wait(200);
    hub.clear();
    QElapsedTimer answered;
    answered.start();
    const std::string echo = header("WDT.Echo") + "Echo.Query\n{\nQuery=AfterTheBurst\n}\n";
    hub.sendTo(port, echo);
    const bool gotAnswer = !hub.nextContaining("Response=aftertheburst", 5000).empty();
    if (!gotAnswer)
        for (const auto& l : gateway.err()) std::printf("GW %s\n", l.c_str());
    ASSERT_TRUE(gotAnswer);
    EXPECT_LT(answered.elapsed(), 1000);
    ASSERT_TRUE(gateway.running());

    const long peakKb = statusKb(gateway.pid(), "VmHWM");
    EXPECT_LT(peakKb - idleKb, 10 * 1024) << "idle " << idleKb << " kB, peak " << peakKb << " kB";
    const auto logSize =
        std::filesystem::file_size(std::filesystem::path(home.path()) / "Data/brindlehub.txt");
    EXPECT_LE(logSize, 1024u * 1024u);
    RecordProperty("idle_kb", static_cast<int>(idleKb));
    RecordProperty("peak_kb", static_cast<int>(peakKb));
    RecordProperty("log_bytes", static_cast<int>(logSize));
    std::printf("idle %ld kB, peak %ld kB, error log %ju bytes, echo after %lld ms\n", idleKb,
                peakKb, static_cast<std::uintmax_t>(logSize),
                static_cast<long long>(answered.elapsed()));

    gateway.signal(SIGTERM);
    ASSERT_TRUE(gateway.waitFinished());
    EXPECT_EQ(gateway.exitCode(), 0);
}

}  // namespace
