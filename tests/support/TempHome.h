#pragma once
// A fresh program folder for one test: BRINDLE_HOME points at it, with Config/
// and Data/, and a qixXap.ini that keeps every datagram on loopback.

#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/FileText.h"

class TempHome {
public:
    explicit TempHome(bool loopbackIni = true) {
        m_path = m_dir.path().toStdString();
        std::filesystem::create_directories(m_path + "/Config");
        std::filesystem::create_directories(m_path + "/Data");
        if (loopbackIni)
            write("Config/qixXap.ini",
                  "[Interface]\nBroadcastAddress=127.0.0.1\nInterfaceAddress=127.0.0.1\n");
        setenv("BRINDLE_HOME", m_path.c_str(), 1);
    }
    ~TempHome() { unsetenv("BRINDLE_HOME"); }

    const std::string& path() const { return m_path; }
    void write(const std::string& relative, const std::string& text) const {
        writeAll(m_path + "/" + relative, text);
    }
    std::string read(const std::string& relative) const { return readAll(m_path + "/" + relative); }

private:
    QTemporaryDir m_dir;
    std::string m_path;
};
