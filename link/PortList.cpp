#include "link/PortList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <atomic>

#ifdef _WIN32
#include "platform/serial/PortEnum.h"
#else
#include <QSerialPortInfo>

#include "platform/serial/PortMap.h"
#endif

namespace {
std::atomic<IPortList*> current{nullptr};
}  // namespace

#ifdef _WIN32
// On Windows the ports are the system's COM ports, listed by number ("COM3 - USB Serial Port").
QList<TSerialDevice> TSystemPortList::Devices() const {
    QList<TSerialDevice> devices;
    for (const Serial::TPortEntry& entry : Serial::EnumeratePorts()) {
        TSerialDevice device;
        device.Path = QString::fromStdString(entry.Name);
        device.Description = QString::fromStdString(entry.Description);
        device.Manufacturer = QString::fromStdString(entry.Manufacturer);
        devices.append(device);
    }
    return devices;
}
#else
QList<TSerialDevice> TSystemPortList::Devices() const {
    QList<TSerialDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        TSerialDevice device;
        device.Path = info.systemLocation();
        device.Description = info.description();
        device.Manufacturer = info.manufacturer();
        device.SerialNumber = info.serialNumber();
        device.HasUsbIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        device.VendorId = info.vendorIdentifier();
        device.ProductId = info.productIdentifier();
        devices.append(device);
    }
    // Stable names whose device the enumeration does not show (a pseudo-terminal linked there, say) are
    // listed under that name, with the device it leads to.
    QStringList shown;
    for (const TSerialDevice& device : devices)
        shown << QFileInfo(device.Path).canonicalFilePath();
    const QDir folder(QFile::decodeName(QByteArray::fromStdString(Serial::StableNameFolder())));
    for (const QString& name :
         folder.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString link = folder.filePath(name);
        const QString target = QFileInfo(link).canonicalFilePath();
        if (target.isEmpty() || shown.contains(target)) continue;
        shown << target;
        TSerialDevice device;
        device.Path = link;
        device.Description = target;
        devices.append(device);
    }
    std::sort(devices.begin(), devices.end(),
              [](const TSerialDevice& a, const TSerialDevice& b) { return a.Path < b.Path; });
    return devices;
}
#endif

IPortList& PortList() {
    static TSystemPortList system;
    IPortList* list = current.load(std::memory_order_acquire);
    return list != nullptr ? *list : system;
}

void SetPortList(IPortList* List) {
    current.store(List, std::memory_order_release);
}

QString DeviceCaption(const TSerialDevice& Device) {
    QString what = Device.Description.trimmed();
    if (what.isEmpty() && Device.HasUsbIds) {
        what = QStringLiteral("USB device %1:%2")
                   .arg(Device.VendorId, 4, 16, QLatin1Char('0'))
                   .arg(Device.ProductId, 4, 16, QLatin1Char('0'));
    }
    QStringList details;
    if (!Device.Manufacturer.trimmed().isEmpty()) details << Device.Manufacturer.trimmed();
    if (!Device.SerialNumber.trimmed().isEmpty()) details << Device.SerialNumber.trimmed();
    QString caption = Device.Path;
    if (!what.isEmpty()) caption += QStringLiteral(" - ") + what;
    if (!details.isEmpty())
        caption += QStringLiteral(" (") + details.join(QStringLiteral(", ")) + QLatin1Char(')');
    return caption;
}
