#pragma once
// The connection to a virtual transceiver: a SOCK_SEQPACKET UNIX socket on which
// another process plays the device. Every frame written is one packet, the
// byte 'W' followed by the frame; every packet the device sends is one completed
// read, the byte 'R' followed by the bytes read ('R' alone is a read of 0
// bytes). Packets that arrive while no read is outstanding wait in the socket
// for the next read, as a USB device holds its data until it is asked. Packets
// with another lead byte are ignored.
//
// The socket never blocks: a connection the device does not take at once is
// refused, and a frame the device has no room for waits until the socket
// reports room again (the device process stopped, or busy).
//
// A refused or missing socket is an absent device. A hang-up by the device is
// seen by the outstanding read (DeviceGone) or by the next write, which fails;
// writes never raise SIGPIPE.

#include <QSocketNotifier>
#include <memory>
#include <string>

#include "usb/UsbDeviceLink.h"

class VirtualDeviceLink final : public UsbDeviceLink {
public:
    static std::shared_ptr<UsbDeviceLink> open(const std::string& socketPath, std::string& error);

    // Takes ownership of the connected socket `fd`, which must be non-blocking.
    VirtualDeviceLink(int fd, std::string socketPath);
    ~VirtualDeviceLink() override;
    VirtualDeviceLink(const VirtualDeviceLink&) = delete;
    VirtualDeviceLink& operator=(const VirtualDeviceLink&) = delete;

    bool startRead(const void* owner, ReadDone done, std::string& error) override;
    void cancelRead(const void* owner) override;

protected:
    SendResult send(const Bytes& frame, std::string& error) override;
    std::string name() const override { return "the virtual transceiver at " + m_path; }

private:
    enum class Attempt { Sent, Full, Failed };
    Attempt trySend(const std::string& packet, std::string& error);
    bool hungUp() const;
    void onReadable();
    void onWritable();
    void deviceGone();
    void finishRead(ReadStatus status, Bytes bytes);

    int m_fd;
    std::string m_path;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QSocketNotifier> m_writable;
    const void* m_reader = nullptr;
    ReadDone m_done;
    // The packet waiting for room in the socket.
    std::string m_waiting;
};
