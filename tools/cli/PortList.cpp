#include "tools/cli/PortList.h"

#include <QSerialPortInfo>

namespace Cli {
namespace {

class SerialPortInfoList : public IPortList {
public:
    QVector<PortInfo> Ports() const override {
        QVector<PortInfo> ports;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            ports.append({info.systemLocation(), info.description()});
        return ports;
    }
};

}  // namespace

const IPortList& SystemPorts() {
    static const SerialPortInfoList list;
    return list;
}

}  // namespace Cli
