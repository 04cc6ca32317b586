#include "usb/virtual/VirtualDeviceNotices.h"

#include <dirent.h>

#include <QDir>
#include <QFileInfo>
#include <memory>

VirtualDeviceNotices::VirtualDeviceNotices(std::string busFolder) : m_folder(std::move(busFolder)) {
    const QString folder = QString::fromLocal8Bit(m_folder.c_str());
    if (!QDir().mkpath(folder)) {
        m_lastError = "cannot create the virtual bus folder " + m_folder;
        return;
    }
    if (!m_watcher.addPath(folder)) {
        m_lastError = "cannot watch the virtual bus folder " + m_folder;
        return;
    }
    m_listing = list();
    QObject::connect(&m_watcher, &QFileSystemWatcher::directoryChanged, [this] { rescan(); });
}

VirtualDeviceNotices::Listing VirtualDeviceNotices::list() const {
    Listing listing;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(m_folder.c_str()), &::closedir);
    if (!dir) return listing;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        listing[name] = e->d_ino;
    }
    return listing;
}

void VirtualDeviceNotices::rescan() {
    const QString folder = QString::fromLocal8Bit(m_folder.c_str());
    // The watch ends with the folder; a folder made anew is watched again.
    if (m_watcher.directories().isEmpty() && QFileInfo(folder).isDir()) m_watcher.addPath(folder);

    const Listing now = list();
    for (const auto& [name, inode] : m_listing) {
        const auto it = now.find(name);
        if (it == now.end() || it->second != inode) notifyRemoval();
    }
    for (const auto& [name, inode] : now) {
        const auto it = m_listing.find(name);
        if (it == m_listing.end() || it->second != inode) notifyArrival();
    }
    m_listing = now;
}
