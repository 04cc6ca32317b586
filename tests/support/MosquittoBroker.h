#pragma once
// A real Mosquitto broker for one test, on 127.0.0.1 and a free port, with no
// persistence: a restart forgets every retained message, as a broker that lost
// its disk would. Stopped (SIGKILL) and started again on the same port;
// paused (SIGSTOP) to play a broker that stops reading. With `tls`, the
// listener speaks TLS only, with a self-signed certificate for 127.0.0.1
// made by the openssl command (its file is certificate()).

#include <unistd.h>
#include <QTemporaryDir>

#include <csignal>
#include <string>

#include "support/ChildProcess.h"
#include "support/FileText.h"
#include "support/HttpClient.h"

class MosquittoBroker {
public:
    explicit MosquittoBroker(bool tls = false) {
        m_port = HttpClient::freePort();
        m_config = m_dir.path().toStdString() + "/mosquitto.conf";
        std::string config = "listener " + std::to_string(m_port) +
                             " 127.0.0.1\nallow_anonymous true\npersistence false\n";
        // Started as root, the broker would become user "mosquitto", who may
        // not read this test's private folder.
        if (::geteuid() == 0) config += "user root\n";
        if (tls) {
            const std::string dir = m_dir.path().toStdString();
            ChildProcess openssl;
            openssl.start("openssl",
                          {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                           dir + "/key.pem", "-out", certificate(), "-days", "2", "-subj",
                           "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
            openssl.waitFinished(20000);
            config += "certfile " + certificate() + "\nkeyfile " + dir + "/key.pem\n";
        }
        writeAll(m_config, config);
    }
    std::string certificate() const { return m_dir.path().toStdString() + "/cert.pem"; }

    // Starts the broker and waits until it takes connections.
    bool start() {
        m_process.start("/usr/sbin/mosquitto", {"-c", m_config});
        return runUntil([&] { return HttpClient(m_port).connected(); }, 5000);
    }
    void kill() {
        m_process.signal(SIGKILL);
        m_process.waitFinished(5000);
    }
    void pause() { m_process.signal(SIGSTOP); }
    void resume() { m_process.signal(SIGCONT); }
    int port() const { return m_port; }

private:
    QTemporaryDir m_dir;
    std::string m_config;
    int m_port = 0;
    ChildProcess m_process;
};
