#pragma once
// The command line of zbeacon-sim: its options and the help text.

#include <string>
#include <vector>

#include "tools/sim/BeaconSimulator.h"

namespace zbsim {

struct CommandLine {
    BeaconOptions beacon;
    int port = 9;           // the COM number shown in the line for zbeacon.ini
    bool readInput = true;  // Enter switches on, q or end of input quits
    bool help = false;
};

constexpr int kMaxPortNumber = 255;

// Fills *out from the arguments (without the program name). On a fault returns false and says why.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error);

std::string HelpText();

// The line that maps the tool's port number to the device, for the [Ports] section of zbeacon.ini.
std::string PortsLine(int port, const std::string& devicePath);

}  // namespace zbsim
