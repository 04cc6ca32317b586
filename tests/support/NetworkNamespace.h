#pragma once
// A network namespace of the test's own holding loopback and one tap device,
// so that the real program can face a "LAN" while nothing it sends can leave
// the machine: every frame it sends out of the tap device is read back here.
// The test holds the tap device's file descriptor (which also gives the device
// its carrier); the namespace is deleted, and the tap device with it, when the
// object goes, whatever the test's outcome.
//
// Needs root, the `ip` tool, network namespaces and /dev/net/tun; when one is
// missing, skipReason() says which and nothing is left behind.

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <cstring>
#include <string>
#include <vector>

#include "base/DoEvents.h"

class NetworkNamespace {
public:
    static constexpr const char* kTapName = "lan0";

    // tapAddress in CIDR form, for example "192.0.2.10/24".
    explicit NetworkNamespace(const std::string& tapAddress) {
        static int serial = 0;
        m_name = "brindle-lan-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        if (geteuid() != 0) {
            m_skipReason = "needs root to create a network namespace and a tap device";
            return;
        }
        if (access("/dev/net/tun", R_OK | W_OK) != 0) {
            m_skipReason = "/dev/net/tun is missing";
            return;
        }
        std::string out;
        if (ip({"netns", "add", m_name}, out) != 0) {
            m_skipReason = "network namespaces are not available (ip netns add: " + out + ")";
            return;
        }
        m_created = true;
        m_tap = openTap();
        if (m_tap < 0) {
            m_skipReason = "cannot create a tap device in the namespace: " + m_tapError;
            return;
        }
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"-n", m_name, "link", "set", "lo", "up"},
              {"-n", m_name, "addr", "add", tapAddress, "dev", kTapName},
              {"-n", m_name, "link", "set", kTapName, "up"}}) {
            if (ip(args, out) != 0) {
                m_skipReason = "cannot set up the namespace's interfaces: " + out;
                return;
            }
        }
    }
    ~NetworkNamespace() {
        if (m_tap >= 0) ::close(m_tap);
        std::string out;
        if (m_created) ip({"netns", "del", m_name}, out);
    }
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    const std::string& skipReason() const { return m_skipReason; }
    const std::string& name() const { return m_name; }

    // The command that runs `program` inside the namespace.
    std::pair<std::string, std::vector<std::string>> command(const std::string& program) const {
        return {"ip", {"netns", "exec", m_name, program}};
    }

    // The next Ethernet frame sent out of the tap device, waiting up to ms
    // while events run; empty on time-out.
    std::string nextFrame(int ms) {
        QElapsedTimer t;
        t.start();
        do {
            pollfd p{m_tap, POLLIN, 0};
            if (::poll(&p, 1, 10) == 1 && (p.revents & POLLIN) != 0) {
                char buf[65536];
                const ssize_t n = ::read(m_tap, buf, sizeof buf);
                if (n > 0) return std::string(buf, static_cast<size_t>(n));
            }
            DoEvents();
        } while (t.elapsed() < ms);
        return {};
    }

private:
    static int ip(const std::vector<std::string>& args, std::string& out) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        QStringList list;
        for (const auto& a : args) list << QString::fromStdString(a);
        p.start("ip", list);
        if (!p.waitForStarted(5000)) {
            out = "the ip tool is missing";
            return -1;
        }
        p.waitForFinished(10000);
        out = p.readAll().trimmed().toStdString();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    // One byte with room for one descriptor beside it (SCM_RIGHTS).
    struct FdMessage {
        char one = 1;
        iovec iov{&one, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr msg{};
        FdMessage() {
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
        }
        FdMessage(const FdMessage&) = delete;
        FdMessage& operator=(const FdMessage&) = delete;
    };

    // A tap device is created in the namespace of the process that opens
    // /dev/net/tun, so a child enters the namespace, creates it and passes the
    // descriptor back; this process never leaves its own namespace.
    int openTap() {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0) {
            m_tapError = std::strerror(errno);
            return -1;
        }
        const std::string nsPath = "/run/netns/" + m_name;
        ifreq ifr{};
        ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
        std::strncpy(ifr.ifr_name, kTapName, IFNAMSIZ - 1);
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Only system calls from here on: the parent may have threads.
            int step = 1;
            const int ns = ::open(nsPath.c_str(), O_RDONLY | O_CLOEXEC);
            if (ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0) {
                step = 2;
                const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK);
                if (fd >= 0 && ::ioctl(fd, TUNSETIFF, &ifr) == 0) {
                    step = 0;
                    FdMessage m;
                    msghdr& msg = m.msg;
                    cmsghdr* c = CMSG_FIRSTHDR(&msg);
                    c->cmsg_level = SOL_SOCKET;
                    c->cmsg_type = SCM_RIGHTS;
                    c->cmsg_len = CMSG_LEN(sizeof(int));
                    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
                    if (::sendmsg(pair[1], &msg, 0) != 1) step = 3;
                }
            }
            ::_exit(step);
        }
        ::close(pair[1]);
        int fd = -1;
        if (pid > 0) {
            FdMessage m;
            msghdr& msg = m.msg;
            int status = 0;
            ::waitpid(pid, &status, 0);
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                ::recvmsg(pair[0], &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) == 1) {
                const cmsghdr* c = CMSG_FIRSTHDR(&msg);
                if (c != nullptr && c->cmsg_type == SCM_RIGHTS)
                    std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
            }
            if (fd < 0)
                m_tapError =
                    WIFEXITED(status) && WEXITSTATUS(status) == 1
                        ? "cannot enter the namespace"
                        : "TUNSETIFF failed (exit " + std::to_string(WEXITSTATUS(status)) + ")";
        } else {
            m_tapError = std::strerror(errno);
        }
        ::close(pair[0]);
        return fd;
    }

    std::string m_name;
    std::string m_skipReason;
    std::string m_tapError;
    bool m_created = false;
    int m_tap = -1;
};
