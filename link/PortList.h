#pragma once
// The serial devices present on this machine, as the Comm menu lists them. The list comes from an
// interface, so that tests can give a list of their own; the system's list is the toolkit's serial
// port enumeration on Linux (Qt Core and Qt Serial Port only) and the system's list of COM ports on
// Windows (platform/serial/PortEnum.h).

#include <QList>
#include <QString>
#include <QtGlobal>

// One serial device, with what the system knows about it.
struct TSerialDevice {
    QString Path;          // e.g. /dev/ttyUSB0
    QString Description;   // e.g. FT232R USB UART
    QString Manufacturer;  // e.g. FTDI
    QString SerialNumber;  // e.g. A10K3XYZ
    bool HasUsbIds = false;
    quint16 VendorId = 0;
    quint16 ProductId = 0;
};

class IPortList {
public:
    virtual ~IPortList() = default;
    // The devices present now, sorted by path (on Windows by port number).
    virtual QList<TSerialDevice> Devices() const = 0;
};

// The devices that the system reports, and the stable names (PortMap.h) of devices it does not
// report, such as a pseudo-terminal linked there.
class TSystemPortList final : public IPortList {
public:
    QList<TSerialDevice> Devices() const override;
};

// The list in use: the system's unless another was set. List may be nullptr to restore it.
IPortList& PortList();
void SetPortList(IPortList* List);

// The menu caption of a device: "/dev/ttyUSB0 - FT232R USB UART (FTDI, A10K3XYZ)". Without a
// description the USB ids stand in its place ("USB device 0403:6001"); parts that are unknown are
// left out.
QString DeviceCaption(const TSerialDevice& Device);
