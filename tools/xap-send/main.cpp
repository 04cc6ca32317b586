// xap-send: sends one xAP message built from the command line; see
// XapSendCommand::usage().
#include <QCoreApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "base/MessageFilter.h"
#include "base/UdpSocket.h"
#include "xap-send/XapSendCommand.h"

int main(int argc, char** argv) {
    MessageFilter::install();
    QCoreApplication app(argc, argv);
    XapSendCommand command;
    std::string error;
    if (!command.parse(std::vector<std::string>(argv + 1, argv + argc), &error)) {
        std::fprintf(stderr, "xap-send: %s\n%s", error.c_str(), XapSendCommand::usage());
        return 2;
    }
    if (command.help) {
        std::fputs(XapSendCommand::usage(), stdout);
        return 0;
    }
    const std::string text = command.text();
    if (command.print) std::fputs(text.c_str(), stdout);

    UdpSocket socket;
    if (const int e = socket.bind("", 0); e != 0) {
        qCritical("xap-send: no socket to send from (error %d)", e);
        return 1;
    }
    socket.setRemoteHost(command.host);
    socket.setRemotePort(command.port);
    if (!socket.send(text)) {
        qCritical("xap-send: could not send to %s:%d", command.host.c_str(), command.port);
        return 1;
    }
    return 0;
}
