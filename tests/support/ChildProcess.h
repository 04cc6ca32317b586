#pragma once
// The real programs driven from tests and benchmarks: the gateway `brindle`
// and the command-line virtual transceiver. Output is collected while the
// caller waits with events running; nothing here sleeps blindly.

#include <QElapsedTimer>
#include <QProcess>
#include <sys/prctl.h>

#include <csignal>
#include <string>
#include <vector>

#include "base/DoEvents.h"

class ChildProcess {
public:
    ChildProcess() {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        // A test that dies (a sanitizer abort) must not leave its programs
        // running, holding ports and locks for the next run.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void start(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::pair<std::string, std::string>>& env = {}) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("QT_QPA_PLATFORM", "offscreen");
        for (const auto& [k, v] : env)
            e.insert(QString::fromStdString(k), QString::fromStdString(v));
        m_process.setProcessEnvironment(e);
        QStringList list;
        for (const auto& a : args) list << QString::fromStdString(a);
        m_process.start(QString::fromStdString(program), list);
        m_process.waitForStarted(5000);
    }
    bool running() const { return m_process.state() == QProcess::Running; }
    void signal(int sig) {
        if (running()) ::kill(static_cast<pid_t>(m_process.processId()), sig);
    }
    bool waitFinished(int ms = 10000) {
        QElapsedTimer t;
        t.start();
        while (running() && t.elapsed() < ms) {
            DoEvents();
            m_process.waitForFinished(10);
        }
        return !running();
    }
    int exitCode() const {
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    void stop() {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    qint64 pid() const { return m_process.processId(); }

    void writeLine(const std::string& line) {
        m_process.write((line + "\n").c_str());
        m_process.waitForBytesWritten(1000);
    }

    // Lines printed so far (stdout and stderr separately), collected on demand.
    const std::vector<std::string>& out() {
        collect();
        return m_out;
    }
    const std::vector<std::string>& err() {
        collect();
        return m_err;
    }

    // Waits until a line of stdout (or stderr) contains the fragment, counting
    // from line `from`; returns its index or -1.
    int waitOut(const std::string& fragment, size_t from = 0, int ms = 5000) {
        return waitFor(m_out, fragment, from, ms);
    }
    int waitErr(const std::string& fragment, size_t from = 0, int ms = 5000) {
        return waitFor(m_err, fragment, from, ms);
    }

    // Collects output for a while, with events running.
    void collectFor(int ms) {
        QElapsedTimer t;
        t.start();
        do {
            collect();
            DoEvents();
            m_process.waitForReadyRead(5);
        } while (t.elapsed() < ms);
        collect();
    }

private:
    int waitFor(std::vector<std::string>& lines, const std::string& fragment, size_t from, int ms) {
        QElapsedTimer t;
        t.start();
        do {
            collect();
            for (size_t i = from; i < lines.size(); ++i)
                if (lines[i].find(fragment) != std::string::npos) return static_cast<int>(i);
            DoEvents();
            m_process.waitForReadyRead(5);
        } while (t.elapsed() < ms);
        return -1;
    }
    static void split(std::string& partial, const QByteArray& bytes,
                      std::vector<std::string>& lines) {
        partial += bytes.toStdString();
        size_t nl;
        while ((nl = partial.find('\n')) != std::string::npos) {
            lines.push_back(partial.substr(0, nl));
            partial.erase(0, nl + 1);
        }
    }
    void collect() {
        split(m_outPartial, m_process.readAllStandardOutput(), m_out);
        split(m_errPartial, m_process.readAllStandardError(), m_err);
    }

    QProcess m_process;
    std::vector<std::string> m_out, m_err;
    std::string m_outPartial, m_errPartial;
};
