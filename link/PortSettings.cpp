#include "link/PortSettings.h"

#include "device/VaComm.h"
#include "platform/IniFile.h"
#include "platform/serial/PortMap.h"

std::map<int, std::string> ReadPortMap(const TIniFile& ini) {
    return Serial::ParsePortEntries(ini.ReadSectionValues("Ports"));
}

void SetBeaconLine(TVaComm& com) {
    com.SetBaudrate(br9600);
    com.SetMonitorEvents({ceData});
    com.SetFlowControl(fcNone);
    com.SetDTRControl(dtrDisable);
    com.SetRTSControl(rtsDisable);
}
