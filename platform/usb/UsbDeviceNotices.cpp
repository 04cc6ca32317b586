#include "usb/UsbDeviceNotices.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "usb/UsbBackend.h"
#include "usb/UsbDeviceEntry.h"

struct UsbDeviceNotices::Handlers {
    Handler arrival;
    Handler removal;
};

std::unique_ptr<UsbDeviceNotices> UsbDeviceNotices::create(const std::string& deviceEntry) {
    const UsbDeviceEntry entry = UsbDeviceEntry::parse(deviceEntry);
    return UsbBackend::forEntry(entry).watch(entry);
}

UsbDeviceNotices::UsbDeviceNotices() : m_handlers(std::make_shared<Handlers>()) {}

UsbDeviceNotices::~UsbDeviceNotices() = default;

void UsbDeviceNotices::onArrival(Handler handler) {
    m_handlers->arrival = std::move(handler);
}

void UsbDeviceNotices::onRemoval(Handler handler) {
    m_handlers->removal = std::move(handler);
}

void UsbDeviceNotices::notifyArrival() {
    post(true);
}

void UsbDeviceNotices::notifyRemoval() {
    post(false);
}

void UsbDeviceNotices::post(bool arrival) {
    std::weak_ptr<Handlers> weak = m_handlers;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak, arrival] {
            auto handlers = weak.lock();
            if (!handlers) return;
            // A copy: the handler may replace itself or end this object.
            Handler handler = arrival ? handlers->arrival : handlers->removal;
            handlers.reset();
            if (handler) handler();
        },
        Qt::QueuedConnection);
}
