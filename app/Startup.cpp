// Start-up and close of the main window: the settings file is read while the window is created and
// shown, and written when it closes.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/Unit2.h"
#include "app/ZB.h"
#include "device/VaComm.h"
#include "platform/IniFile.h"
#include "platform/Serial.h"

namespace {
const char kDefaultSlots[] = "100000000000100000000000";
}  // namespace

void TForm1::FormCreate() {
    ReceivedText.clear();
    LinkMode.clear();
    BuildGPSMenu();

    {
        const TIniFile ini(QFile::encodeName(SettingsPath()).toStdString());
        // Each bound is applied at once, so a missing one keeps what the others made of the window.
        QRect b = WindowBounds::Read(this);
        b.moveTop(ini.ReadInteger("Window", "Top", b.top()));
        WindowBounds::Apply(this, b.left(), b.top(), b.width(), b.height());
        b.moveLeft(ini.ReadInteger("Window", "Left", b.left()));
        WindowBounds::Apply(this, b.left(), b.top(), b.width(), b.height());
        b.setWidth(ini.ReadInteger("Window", "Width", b.width()));
        WindowBounds::Apply(this, b.left(), b.top(), b.width(), b.height());
        b.setHeight(ini.ReadInteger("Window", "Height", b.height()));
        WindowBounds::Apply(this, b.left(), b.top(), b.width(), b.height());

        const std::string defaultFile =
            QFile::encodeName(QDir(programDir_).filePath("default.txt")).toStdString();
        CommandFileName =
            QFile::decodeName(QByteArray::fromStdString(ini.ReadString("Files", "SaveAs", defaultFile)));
        Com->SetPortNum(ini.ReadInteger("Comm", "Port", 0));
        MaxChar = ini.ReadInteger("Beacon", "MaxChar", 127);
        Synchronized->setChecked(ini.ReadBool("Beacon", "Synchronized", false));
        SlotMask = QByteArray::fromStdString(ini.ReadString("Beacon", "GPS", kDefaultSlots));
        DebugWindow->setChecked(ini.ReadBool("Window", "Debug", false));

        // USB adapters and other devices are named per port under [Ports], e.g. COM3=/dev/ttyUSB0.
        std::map<int, std::string> ports;
        for (const auto& [key, value] : ini.ReadSectionValues("Ports")) {
            const QString name = QString::fromStdString(key).trimmed().toUpper();
            bool ok = false;
            const int n = name.startsWith(QLatin1String("COM")) ? name.mid(3).toInt(&ok) : 0;
            if (ok && n >= 1 && !value.empty() && !ports.count(n)) ports[n] = value;
        }
        Serial::SetPortMap(ports);
    }

    ApplySynchronizedMode();

    if (!CommandFileName.isEmpty() && QFileInfo(CommandFileName).exists()) {
        LoadMemo(CommandFileName);
        ShowFileCaption();
    }
    Modified = false;
    OpenStartupPort();
    TickSlotsFromMask();
}

void TForm1::FormShow() {
    UpdateSequence();
    if (!Debug) return;
    const TIniFile ini(QFile::encodeName(SettingsPath()).toStdString());
    QRect b = WindowBounds::Read(Debug);
    b.moveTop(ini.ReadInteger("Window", "Debug.Top", b.top()));
    WindowBounds::Apply(Debug, b.left(), b.top(), b.width(), b.height());
    b.moveLeft(ini.ReadInteger("Window", "Debug.Left", b.left()));
    WindowBounds::Apply(Debug, b.left(), b.top(), b.width(), b.height());
    b.setWidth(ini.ReadInteger("Window", "Debug.Width", b.width()));
    WindowBounds::Apply(Debug, b.left(), b.top(), b.width(), b.height());
    b.setHeight(ini.ReadInteger("Window", "Debug.Height", b.height()));
    WindowBounds::Apply(Debug, b.left(), b.top(), b.width(), b.height());
    if (DebugWindow->isChecked()) Debug->show();
}

void TForm1::FormClose() {
    TIniFile ini(QFile::encodeName(SettingsPath()).toStdString());
    const QRect main = WindowBounds::Read(this);
    ini.WriteInteger("Window", "Top", main.top());
    ini.WriteInteger("Window", "Left", main.left());
    ini.WriteInteger("Window", "Width", main.width());
    ini.WriteInteger("Window", "Height", main.height());
    const QRect debug = Debug ? WindowBounds::Read(Debug)
                              : QRect(TDebug::kDesignedLeft, TDebug::kDesignedTop, TDebug::kDesignedWidth,
                                      TDebug::kDesignedHeight);
    ini.WriteInteger("Window", "Debug.Top", debug.top());
    ini.WriteInteger("Window", "Debug.Left", debug.left());
    ini.WriteInteger("Window", "Debug.Width", debug.width());
    ini.WriteInteger("Window", "Debug.Height", debug.height());
    ini.WriteString("Files", "SaveAs", QFile::encodeName(CommandFileName).toStdString());
    ini.WriteInteger("Comm", "Port", Com->PortNum());
    ini.WriteInteger("Beacon", "MaxChar", MaxChar);
    ini.WriteBool("Beacon", "Synchronized", Synchronized->isChecked());
    ini.WriteBool("Window", "Debug", DebugWindow->isChecked());
    SlotMask.clear();
    for (QAction* item : GPSSlots)
        SlotMask += item->isChecked() ? '1' : '0';
    ini.WriteString("Beacon", "GPS", SlotMask.toStdString());
    SavePrompt();
}
