#pragma once
// The device paths of named ports, as the settings file's [Ports] section gives them (COM3=/dev/ttyUSB0).

#include <map>
#include <string>

class TIniFile;

// Keys are "COM" and a number of 1 or more (any case, blanks ignored); the first entry of a number counts,
// and an empty path is none.
std::map<int, std::string> ReadPortMap(const TIniFile& ini);

class TVaComm;

// The beacon's line: 9600 baud, no flow control, DTR and RTS held off, data events monitored.
void SetBeaconLine(TVaComm& com);
