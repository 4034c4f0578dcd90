// Start-up and close of the main window: the settings file is read while the window is created and
// shown, and written when it closes.
#include <QAction>
#include <QDir>

#include "app/Unit2.h"
#include "app/ZB.h"
#include "command/CommandTable.h"
#include "device/VaComm.h"
#include "link/PortSettings.h"
#include "platform/FileNames.h"
#include "platform/IniFile.h"
#include "platform/serial/Serial.h"

namespace {

// Reads a window's top, left, width and height (keys `prefix` + "Top" ...), each applied at once and each
// defaulting to what the window has at that moment. Bounds that no longer fit the screen (another
// monitor, another scale factor) are then pulled back onto it, so no part of the window is out of reach.
void ReadBounds(const TIniFile& ini, QWidget* window, const std::string& prefix) {
    QRect b = WindowBounds::Read(window);
    b.moveTop(ini.ReadInteger("Window", prefix + "Top", b.top()));
    WindowBounds::Apply(window, b.left(), b.top(), b.width(), b.height());
    b.moveLeft(ini.ReadInteger("Window", prefix + "Left", b.left()));
    WindowBounds::Apply(window, b.left(), b.top(), b.width(), b.height());
    b.setWidth(ini.ReadInteger("Window", prefix + "Width", b.width()));
    WindowBounds::Apply(window, b.left(), b.top(), b.width(), b.height());
    b.setHeight(ini.ReadInteger("Window", prefix + "Height", b.height()));
    WindowBounds::Apply(window, b.left(), b.top(), b.width(), b.height());
    const QRect fitted = WindowBounds::FitOnScreen(window, b);
    if (fitted != b)
        WindowBounds::Apply(window, fitted.left(), fitted.top(), fitted.width(), fitted.height());
}

// Writes a window's bounds in the order top, left, width, height.
void WriteBounds(TIniFile& ini, const QRect& b, const std::string& prefix) {
    ini.WriteInteger("Window", prefix + "Top", b.top());
    ini.WriteInteger("Window", prefix + "Left", b.left());
    ini.WriteInteger("Window", prefix + "Width", b.width());
    ini.WriteInteger("Window", prefix + "Height", b.height());
}
}  // namespace

void TForm1::FormCreate() {
    Engine->Reset();
    BuildGPSMenu();

    {
        const TIniFile ini(FileNames::Native(SettingsPath()));
        ReadBounds(ini, this, "");
        const std::string defaultFile = FileNames::Native(folders_.DefaultCommandFile());
        // Kept as the file system's bytes: a name that is not UTF-8 is found again.
        CommandFileName = FileNames::FromBytes(ini.ReadString("Files", "SaveAs", defaultFile));
        Com->SetPortNum(ini.ReadInteger("Comm", "Port", 0));
        MaxChar = ini.ReadInteger("Beacon", "MaxChar", Commands::kMaxChar);
        Synchronized->setChecked(ini.ReadBool("Beacon", "Synchronized", false));
        Engine->SetSlotMask(
            QByteArray::fromStdString(ini.ReadString("Beacon", "GPS", SlotListing::kDefaultTable)));
        DebugWindow->setChecked(ini.ReadBool("Window", "Debug", false));

        // USB adapters and other devices are named per port under [Ports], e.g. COM5=/dev/ttyUSB0.
        Serial::SetPortMap(ReadPortMap(ini));
    }

    ApplySynchronizedMode();

    // A folder of that name is no command file: the memo keeps its text.
    if (FileNames::ExistsAsNonFolder(CommandFileName)) {
        try {
            LoadMemo(CommandFileName);
        } catch (...) {
            // The error ends the creation steps here, but the remembered slots are still ticked: the
            // close writes the slot list from the menu, and an unticked menu would erase it.
            TickSlotsFromMask();
            throw;
        }
        ShowFileCaption();
    }
    TakeMemoAsUnchanged();
    OpenStartupPort();
    TickSlotsFromMask();
}

void TForm1::FormShow() {
    UpdateSequence();
    if (!Debug) return;
    const TIniFile ini(FileNames::Native(SettingsPath()));
    ReadBounds(ini, Debug, "Debug.");
    if (DebugWindow->isChecked()) Debug->show();
}

bool TForm1::FormClose() {
    TIniFile ini(FileNames::Native(SettingsPath()));
    WriteBounds(ini, WindowBounds::Read(this), "");
    WriteBounds(ini,
                Debug ? WindowBounds::Read(Debug)
                      : QRect(TDebug::kDesignedLeft, TDebug::kDesignedTop, TDebug::kDesignedWidth,
                              TDebug::kDesignedHeight),
                "Debug.");
    ini.WriteString("Files", "SaveAs", FileNames::ToBytes(CommandFileName));
    ini.WriteInteger("Comm", "Port", Com->PortNum());
    ini.WriteInteger("Beacon", "MaxChar", MaxChar);
    ini.WriteBool("Beacon", "Synchronized", Synchronized->isChecked());
    ini.WriteBool("Window", "Debug", DebugWindow->isChecked());
    QByteArray ticks;
    for (QAction* item : GPSSlots)
        ticks += item->isChecked() ? '1' : '0';
    Engine->SetSlotMask(ticks);
    ini.WriteString("Beacon", "GPS", ticks.toStdString());
    return SavePrompt();
}
