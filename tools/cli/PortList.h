#pragma once
// The serial devices present, as the tool lists them.

#include <QString>
#include <QVector>

namespace Cli {

struct PortInfo {
    QString path;         // e.g. /dev/ttyUSB0
    QString description;  // what the device says it is; may be empty
};

class IPortList {
public:
    virtual ~IPortList() = default;
    virtual QVector<PortInfo> Ports() const = 0;
};

// The system's serial devices.
const IPortList& SystemPorts();

}  // namespace Cli
