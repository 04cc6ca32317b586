// Starts the real program with a generated loopback program folder and a test
// hub on 127.0.0.1:3639, and checks what it says on the network.
#include <gtest/gtest.h>
#include <QProcess>
#include <csignal>

#include "base/WaitObject.h"
#include "support/TempHome.h"
#include "support/TestHub.h"

namespace {

class Gateway {
public:
    explicit Gateway(const std::string& home) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("BRINDLE_HOME", QString::fromStdString(home));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_LOGGING_RULES", "brindle.xap.dispatch.debug=true");
        m_process.setProcessEnvironment(env);
        m_process.setProgram(BRINDLE_EXE);
        m_process.start();
    }
    ~Gateway() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    bool started() { return m_process.waitForStarted(5000); }
    void terminate() { ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM); }
    void interrupt() { ::kill(static_cast<pid_t>(m_process.processId()), SIGINT); }
    bool finished(int ms = 10000) { return m_process.waitForFinished(ms); }
    int exitCode() const {
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    std::string stderrText() { return m_process.readAllStandardError().toStdString(); }
    // Waits (running events) until stderr has shown the fragment.
    bool stderrShows(const std::string& fragment, int ms = 3000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            m_stderr += m_process.readAllStandardError().toStdString();
            if (m_stderr.find(fragment) != std::string::npos) return true;
            WaitObject().Wait(20);
        }
        return false;
    }

private:
    QProcess m_process;
    std::string m_stderr;
};

int portOf(const std::string& heartbeat) {
    const size_t at = heartbeat.find("\nport=");
    return at == std::string::npos ? 0 : std::atoi(heartbeat.c_str() + at + 6);
}

TEST(Startup, AnnouncesItselfReceivesAndShutsDownOnSigterm) {
    TempHome home;
    TestHub hub;
    ASSERT_TRUE(hub.ok()) << "port 3639 is taken on 127.0.0.1";
    Gateway gw(home.path());
    ASSERT_TRUE(gw.started());

    const std::string heartbeat = hub.next(10000);
    const int port = portOf(heartbeat);
    ASSERT_GE(port, 32768) << heartbeat;
    char host[128] = {};
    gethostname(host, sizeof host - 1);
    const std::string computer = std::string(host).substr(0, std::string(host).find('.'));
    EXPECT_EQ(heartbeat,
              "xap-hbeat\n{\nv=12\nhop=1\nuid=FF008700\nclass=xap-hbeat.alive\n"
              "source=qix.CM19A." +
                  computer + "\ninterval=600\nport=" + std::to_string(port) + "\n}\n");

    const std::string event = hub.next();
    EXPECT_NE(event.find("class=Homeseer.Event\n"), std::string::npos) << event;
    EXPECT_NE(
        event.find("\nType=brindlehub\nData=Using xAP port " + std::to_string(port) + "\n}\n"),
        std::string::npos)
        << event;

    ASSERT_TRUE(hub.sendTo(port,
                           "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Test.Ping\n"
                           "source=acme.tester.box\n}\nblock\n{\nk=v\n}\n"));
    EXPECT_TRUE(gw.stderrShows("Readmessage class=Test.Ping source=acme.tester.box"));
    // Both logs reach standard error too, one line each with its level, so the
    // journal keeps what the program did.
    EXPECT_TRUE(gw.stderrShows("info: brindle.eventlog: brindlehub: Using xAP port " +
                               std::to_string(port) + "\n"));

    // Hostile datagrams must leave it running.
    hub.sendTo(port, std::string(65000, '\0'));
    hub.sendTo(port, "xap-header\n}\n}\n}");
    hub.sendTo(port, "xap-header\r\n{\r\nclass=x\r\n}\r\n");
    hub.sendTo(port, "xap-header\n{\nclass=After.Garbage\nsource=a.b.c\n}\nb\n{\n}\n");
    EXPECT_TRUE(gw.stderrShows("Readmessage class=After.Garbage"));

    gw.terminate();
    ASSERT_TRUE(gw.finished());
    EXPECT_EQ(gw.exitCode(), 0);
    // Without the plug-in registered the host never loaded: nothing may have
    // overwritten the saved devices on the way out.
    EXPECT_NE(home.read("Data/brindlehub.txt").find("brindlehub Main Load 0 "), std::string::npos);
    EXPECT_TRUE(gw.stderrShows("error: brindle.errorlog: brindlehub Main Load 0 "));
}

TEST(Startup, SigintEndsItTheSameWay) {
    TempHome home;
    TestHub hub;
    ASSERT_TRUE(hub.ok());
    Gateway gw(home.path());
    ASSERT_TRUE(gw.started());
    ASSERT_FALSE(hub.next(10000).empty());
    ASSERT_FALSE(hub.next().empty());  // start-up complete
    gw.interrupt();
    ASSERT_TRUE(gw.finished());
    EXPECT_EQ(gw.exitCode(), 0);
}

}  // namespace
