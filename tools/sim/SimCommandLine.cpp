#include "tools/sim/SimCommandLine.h"

#include <charconv>
#include <cstddef>
#include <limits>
#include <optional>

namespace zbsim {

namespace {

std::optional<long long> ParseInteger(const std::string& text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

// Bytes written as pairs of hexadecimal digits ("0000ff"); none when the text is empty or not that.
std::optional<std::string> HexBytes(const std::string& text) {
    if (text.empty() || text.size() % 2 != 0 || text.size() > 2 * 256) return std::nullopt;
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (error != std::errc() || end != text.data() + i + 2) return std::nullopt;
        bytes += static_cast<char>(value);
    }
    return bytes;
}

bool IntegerOption(const std::string& name, const std::string& text, long long min, long long max,
                   long long* value, std::string* error) {
    std::optional<long long> parsed = ParseInteger(text);
    if (!parsed || *parsed < min || *parsed > max) {
        *error = name + " needs a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                 ", not \"" + text + "\"";
        return false;
    }
    *value = *parsed;
    return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error) {
    CommandLine result;
    std::string fault;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (name.rfind("--", 0) == 0) {
            const size_t eq = name.find('=');
            if (eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name.erase(eq);
            }
        }
        auto flag = [&]() {
            if (inlineValue) {
                fault = name + " takes no value";
                return false;
            }
            return true;
        };
        auto value = [&](std::string* text) {
            if (inlineValue) {
                *text = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                fault = name + " needs a value";
                return false;
            }
            *text = args[++i];
            return true;
        };
        std::string text;
        long long number = 0;
        if (name == "--help" || name == "-h") {
            if (!flag()) break;
            result.help = true;
        } else if (name == "--sync") {
            if (!flag()) break;
            result.beacon.synchronized = true;
        } else if (name == "--echo") {
            if (!flag()) break;
            result.beacon.echo = true;
        } else if (name == "--bare-cr") {
            if (!flag()) break;
            result.beacon.bareCr = true;
        } else if (name == "--noise") {
            if (!value(&text)) break;
            std::optional<std::string> bytes = HexBytes(text);
            if (!bytes) {
                fault = "--noise needs bytes in hexadecimal, such as 0000ff";
                break;
            }
            result.beacon.powerUpNoise = *bytes;
        } else if (name == "--no-input") {
            if (!flag()) break;
            result.readInput = false;
        } else if (name == "--program") {
            if (!value(&text)) break;
            result.beacon.program = text;
        } else if (name == "--slots") {
            if (!value(&text)) break;
            result.beacon.slotTable = text;
        } else if (name == "--char-delay-us") {
            if (!value(&text) || !IntegerOption(name, text, 0, kMaxCharDelayUs, &number, &fault)) break;
            result.beacon.charDelayUs = static_cast<int>(number);
        } else if (name == "--chunk") {
            if (!value(&text) ||
                !IntegerOption(name, text, 0, static_cast<long long>(kMaxChunkSize), &number, &fault)) {
                break;
            }
            result.beacon.chunkSize = static_cast<size_t>(number);
        } else if (name == "--chunk-gap-ms") {
            if (!value(&text) || !IntegerOption(name, text, 0, kMaxChunkGapMs, &number, &fault)) break;
            result.beacon.chunkGapMs = static_cast<int>(number);
        } else if (name == "--link") {
            if (!value(&text)) break;
            if (text.empty()) {
                fault = "--link needs a path";
                break;
            }
            result.beacon.linkPath = text;
        } else if (name == "--port") {
            if (!value(&text) || !IntegerOption(name, text, 1, kMaxPortNumber, &number, &fault)) break;
            result.port = static_cast<int>(number);
        } else {
            fault = "unknown option \"" + args[i] + "\"";
            break;
        }
    }
    if (fault.empty() && !result.help) fault = CheckOptions(result.beacon);
    if (!fault.empty()) {
        if (error) *error = fault;
        return false;
    }
    *out = std::move(result);
    return true;
}

std::string HelpText() {
    return R"(Usage: zbeacon-sim [options]

Plays a Zindle Beacon on a pseudo-terminal, so that the setup tool can read, program and
verify a beacon without hardware. On start it prints the device path and the line to put
under [Ports] in zbeacon.ini, for example
    COM9=/dev/pts/4
then waits. In the tool, paste the device path (or the --link name) into Options > Comm >
Custom ..., press Read, Program or Verify Beacon there, and "switch the beacon on" here.

Controls:
  Enter               switch the beacon on (a power cycle: the conversation starts again)
  SIGUSR1             the same, for scripts (kill -USR1 <pid>)
  q then Enter        quit; so do Ctrl+C, SIGTERM, SIGHUP and the end of the input

While it runs it prints a time-stamped transcript of both directions (seconds since start;
"beacon" = sent to the tool, "tool" = received, "note" = the simulator's own events; control
characters shown as <CR>, <LF>, <0x1B>, ...). At the end it prints the stored program, the
slot table and the delays from the end of each question to the tool's answer.

Options:
  --sync               a synchronized (GPS) beacon: after the message questions it prints the
                       slot listing and asks about the 24 transmit slots
  --program TEXT       the stored command string (default PSDvvvSQSZ); printable characters only
  --slots BITS         the slot table: 24 characters 0 or 1, slot 0 first; slots 0-11 are the
                       seconds 0, 5, ... 55 of even minutes, 12-23 those of odd minutes
                       (default 100000000000100000000000)
  --char-delay-us N    time per character written, in microseconds (default 1000, about
                       9600 baud; 0 = as fast as possible)
  --chunk N            write the output in pieces of N bytes (default 0 = byte by byte), so
                       that prompts arrive split, e.g. "y/" and then "n<CR><LF>"
  --chunk-gap-ms N     extra pause after each piece, in milliseconds (default 0)
  --echo               echo the characters of a new message as they are stored
  --noise HEX          bytes put on the line at switch-on before the stored program, in
                       hexadecimal (e.g. 0000ff: two NULs and 0xFF), as adapters do on power-up
  --bare-cr            end the stored program's line and the listing lines with CR alone
  --link PATH          keep a symbolic link to the device under PATH while running (replaced
                       if it is a link already, removed at the end), so that a restarted
                       simulator comes back under the same name, as a replugged adapter does
  --port N             the COM number for the zbeacon.ini line (1 to 255, default 9)
  --no-input           do not read the standard input (for scripts that run the simulator in
                       the background): only SIGUSR1 switches on, only signals quit
  -h, --help           show this text

Exit status: 0 after a normal end, 1 when the pseudo-terminal cannot be opened, 2 for a
fault in the options.
)";
}

std::string PortsLine(int port, const std::string& devicePath) {
    return "COM" + std::to_string(port) + "=" + devicePath;
}

}  // namespace zbsim
