#pragma once
// Notices of the virtual bus: a file appearing in the bus folder is an
// arrival, a file disappearing a removal, one notice per file. A file replaced
// by a new one of the same name (a virtual device unplugged and plugged in
// again quickly) gives a removal and an arrival. The folder is created when it
// is missing, and watched again if it is removed and made anew.

#include <QFileSystemWatcher>
#include <map>
#include <string>

#include "usb/UsbDeviceNotices.h"

class VirtualDeviceNotices final : public UsbDeviceNotices {
public:
    explicit VirtualDeviceNotices(std::string busFolder);

    bool isWatching() const override { return !m_watcher.directories().isEmpty(); }

private:
    using Listing = std::map<std::string, unsigned long long>;  // name to inode
    Listing list() const;
    void rescan();

    std::string m_folder;
    QFileSystemWatcher m_watcher;
    Listing m_listing;
};
