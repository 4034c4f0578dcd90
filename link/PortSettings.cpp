#include "link/PortSettings.h"

#include <QString>

#include "device/VaComm.h"
#include "platform/IniFile.h"

std::map<int, std::string> ReadPortMap(const TIniFile& ini) {
    std::map<int, std::string> ports;
    for (const auto& [key, value] : ini.ReadSectionValues("Ports")) {
        const QString name = QString::fromStdString(key).trimmed().toUpper();
        bool ok = false;
        const int n = name.startsWith(QLatin1String("COM")) ? name.mid(3).toInt(&ok) : 0;
        if (ok && n >= 1 && !value.empty() && !ports.count(n)) ports[n] = value;
    }
    return ports;
}

void SetBeaconLine(TVaComm& com) {
    com.SetBaudrate(br9600);
    com.SetMonitorEvents({ceData});
    com.SetFlowControl(fcNone);
    com.SetDTRControl(dtrDisable);
    com.SetRTSControl(rtsDisable);
}
