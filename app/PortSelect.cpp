// Choice of the serial port in the Comm submenu, and the port opened at start-up.
//
// Below the fixed items the submenu lists the serial devices present, refreshed each time it opens.
// A listed device (or a path typed into Custom) gets a port number through the [Ports] section of
// the settings file, written at once. A port whose line hangs up stays chosen and is opened again as
// soon as its device is back.
//
// Every choice counts itself; a choice that pauses (COM 1 to COM 4) or waits for the operator
// (Custom) gives way when another choice was made meanwhile, so that the last choice alone decides
// the tick, the open port and the stored number.
#include <QAction>
#include <QActionGroup>
#include <QFile>
#include <QMenu>
#include <QTimer>

#include "app/ZB.h"
#include "device/VaComm.h"
#include "link/PortList.h"
#include "platform/Convert.h"
#include "platform/FileNames.h"
#include "platform/IniFile.h"
#include "platform/serial/PortMap.h"

namespace {
const char kCustomCaption[] = "Custom ...";
constexpr int kReconnectCheckMs = 1000;

QString PortName(int port) {
    return QStringLiteral("COM%1").arg(port);
}

QString PortPath(int port) {
    return QFile::decodeName(QByteArray::fromStdString(Serial::DevicePath(Serial::PortKey(port))));
}

// A caption shows "&" as it is, not as an access key.
QString Literal(QString text) {
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

// The Custom item's caption for a device: its number, then the device ("COM 5 (/dev/pts/2)").
QString DeviceItemCaption(int port, const QString& device) {
    return QStringLiteral("COM %1 (%2)").arg(port).arg(Literal(device));
}
}  // namespace

// A port choice also ends the running operation: its pending answer or upload belongs to the device
// it was started on and goes nowhere else.
int TForm1::BeginPortChoice() {
    if (reconnect_) reconnect_->stop();
    Engine->EndOperation();
    return ++portChoice_;
}

void TForm1::Com0Click(QObject*) {
    BeginPortChoice();
    tickedDevice_.clear();
    customDevice_.clear();
    Com0->setChecked(true);
    CustomPort->setText(QString::fromLatin1(kCustomCaption));
    Com->Close();
    Com->SetPortNum(0);
}

void TForm1::ChooseNumberedPort(QAction* item, int port) {
    const int choice = BeginPortChoice();
    tickedDevice_.clear();
    customDevice_.clear();
    item->setChecked(true);
    CustomPort->setText(QString::fromLatin1(kCustomCaption));
    Com->Close();
    Delay(1);
    if (choice != portChoice_) return;  // replaced during the pause
    Com->SetPortNum(port);
    OpenChosenPort();
}

void TForm1::COM1Click(QObject*) {
    ChooseNumberedPort(COM1, 1);
}
void TForm1::COM2Click(QObject*) {
    ChooseNumberedPort(COM2, 2);
}
void TForm1::COM3Click(QObject*) {
    ChooseNumberedPort(COM3, 3);
}
void TForm1::COM4Click(QObject*) {
    ChooseNumberedPort(COM4, 4);
}

// A number is the port itself, and so is a Windows port name (COM12); an entry that begins with "/" is a
// device, numbered as a listed one, and the item then names both ("COM 5 (/dev/pts/2)").
void TForm1::CustomPortClick(QObject*) {
    const int choice = BeginPortChoice();
    QString entry = QString::number(Com->PortNum());
    Com->Close();
    tickedDevice_.clear();
    customDevice_.clear();
    CustomPort->setChecked(true);
    if (!dialogs_.InputQuery(QStringLiteral("Custom Com Port"), QStringLiteral("Port number or device path"),
                             entry))
        return;
    if (choice != portChoice_) return;  // replaced while the box was open
    int32_t port = 0;
    if (const int own = Serial::OwnPort(entry.trimmed().toStdString()); own > 0) {
        port = own;  // COM12 or \\.\COM12 on Windows: the port is the device
        CustomPort->setText(QStringLiteral("COM %1").arg(port));
    } else if (entry.startsWith(QLatin1Char('/'))) {
        port = MapDevice(entry);
        customDevice_ = PortPath(port);
        CustomPort->setText(DeviceItemCaption(port, entry));
    } else {
        if (!Convert::TryStrToInt(entry.toStdString(), port)) port = 0;
        CustomPort->setText(QStringLiteral("COM ") + Literal(entry));
    }
    Com->SetPortNum(port);
    OpenChosenPort();
}

void TForm1::DevicePortClick(QObject* Sender) {
    auto* item = qobject_cast<QAction*>(Sender);
    if (item == nullptr) return;
    const int port = MapDevice(item->data().toString());
    BeginPortChoice();
    tickedDevice_ = PortPath(port);
    customDevice_.clear();
    item->setChecked(true);
    CustomPort->setText(QString::fromLatin1(kCustomCaption));
    Com->Close();
    Com->SetPortNum(port);
    OpenChosenPort();
}

// The number of a device: the one [Ports] gives it, or the lowest free one from 5 up. A new or changed
// entry (under the device's stable name where it has one) is written to the settings file at once.
// Numbers that the file has gained since start-up (edited by hand meanwhile) count as taken.
int TForm1::MapDevice(const QString& device) {
    const std::string path = QFile::encodeName(device).toStdString();
    if (const int own = Serial::OwnPort(path); own > 0) return own;  // a Windows COM port needs no entry
    TIniFile ini(FileNames::Native(SettingsPath()));
    std::map<int, std::string> ports = Serial::PortMap();
    ports.merge(Serial::ParsePortEntries(ini.ReadSectionValues("Ports")));
    const int port = Serial::PortForDevice(ports, path);
    const std::string stored = Serial::StoredDeviceName(path);
    if (ports[port] != stored) ini.WriteString("Ports", Serial::PortKey(port), stored);
    ports[port] = stored;
    Serial::SetPortMap(ports);
    return port;
}

// Opens the chosen port. A device that is not there yet is opened as soon as it appears; the error is
// shown all the same.
void TForm1::OpenChosenPort() {
    try {
        Com->Open();
    } catch (const EVaCommError&) {
        if (Serial::DeviceMissing(Com->PortNum())) StartReconnect();
        throw;
    }
}

// Fills the device items below the fixed ones with the devices present. The item of the chosen
// device carries the tick; a chosen device that is absent keeps an item of its own. The device that the
// Custom item stands for is not offered a second time.
void TForm1::RefreshDevicePorts() {
    struct Entry {
        QString path, caption;
    };
    QList<Entry> entries;
    int ticked = -1;
    const std::string custom = CustomPort->isChecked() ? QFile::encodeName(customDevice_).toStdString() : "";
    for (const TSerialDevice& device : PortList().Devices()) {
        if (!custom.empty() && Serial::SameDevice(QFile::encodeName(device.Path).toStdString(), custom))
            continue;
        if (!tickedDevice_.isEmpty() && ticked < 0 &&
            Serial::SameDevice(QFile::encodeName(device.Path).toStdString(),
                               QFile::encodeName(tickedDevice_).toStdString()))
            ticked = static_cast<int>(entries.size());
        entries.append({device.Path, DeviceCaption(device)});
    }
    if (!tickedDevice_.isEmpty() && ticked < 0) {
        ticked = static_cast<int>(entries.size());
        entries.append({tickedDevice_,
                        Com->IsOpen() ? tickedDevice_ : tickedDevice_ + QStringLiteral(" - not connected")});
    }
    if (DevicePortsSeparator == nullptr) DevicePortsSeparator = CommPort1->addSeparator();
    if (NoDevicePorts == nullptr) {
        NoDevicePorts = CommPort1->addAction(QStringLiteral("no serial devices found"));
        NoDevicePorts->setEnabled(false);
    }
    while (DevicePorts.size() < entries.size()) {
        QAction* item = new QAction(this);
        item->setCheckable(true);
        CommPort1->insertAction(NoDevicePorts, item);
        CommPortGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, item] { Guard([&] { DevicePortClick(item); }); });
        DevicePorts.append(item);
    }
    for (qsizetype i = 0; i < DevicePorts.size(); ++i) {
        QAction* item = DevicePorts[i];
        const bool used = i < entries.size();
        item->setVisible(used);
        item->setData(used ? entries[i].path : QString());
        item->setText(used ? Literal(entries[i].caption) : QString());
        if (i == ticked) {
            item->setChecked(true);
        } else if (item->isChecked()) {
            item->setChecked(false);
        }
    }
    NoDevicePorts->setVisible(entries.isEmpty());
}

// Opens the remembered port; a failure is dropped without a message and leaves no port chosen. A port
// that [Ports] maps to a listed device ticks that device's item; one that the list does not show is the
// Custom item's, which names it.
void TForm1::OpenStartupPort() {
    Com0->setChecked(true);
    try {
        const int port = Com->PortNum();
        if (port > 0) Com->Open();
        if (port == 1) COM1->setChecked(true);
        if (port == 2) COM2->setChecked(true);
        if (port == 3) COM3->setChecked(true);
        if (port == 4) COM4->setChecked(true);
        if (port >= 5 && port <= 99) CustomPort->setChecked(true);
        if (port > 0 && Com->IsOpen() && Serial::IsMapped(port)) {
            const std::string mapped = QFile::encodeName(PortPath(port)).toStdString();
            for (const TSerialDevice& device : PortList().Devices()) {
                if (!Serial::SameDevice(QFile::encodeName(device.Path).toStdString(), mapped)) continue;
                tickedDevice_ = PortPath(port);
                RefreshDevicePorts();
                break;
            }
            if (tickedDevice_.isEmpty() && CustomPort->isChecked()) {
                customDevice_ = PortPath(port);
                CustomPort->setText(DeviceItemCaption(port, customDevice_));
            }
        }
    } catch (const std::exception&) {
        Com->SetPortNum(0);
        Com0->setChecked(true);
    }
}

// The line hung up and the port was released: it stays chosen and opens again when its device is back.
void TForm1::ComDisconnect(TObject*) {
    SetStatusText(
        QStringLiteral("%1 disconnected: %2").arg(PortName(Com->PortNum()), PortPath(Com->PortNum())));
    StartReconnect();
}

void TForm1::StartReconnect() {
    if (reconnect_ == nullptr) {
        reconnect_ = new QTimer(this);
        connect(reconnect_, &QTimer::timeout, this, [this] { Guard([&] { ReconnectCheck(); }); });
    }
    reconnect_->start(kReconnectCheckMs);
}

void TForm1::ReconnectCheck() {
    const int port = Com->PortNum();
    if (Com->IsOpen() || port == 0) {
        reconnect_->stop();
        return;
    }
    if (Serial::DeviceMissing(port)) return;
    try {
        Com->Open();
    } catch (const EVaCommError&) {
        return;  // there, but not ready (still being set up, or briefly held): the next look tries again
    }
    reconnect_->stop();
    SetStatusText(QStringLiteral("%1 reconnected: %2").arg(PortName(port), PortPath(port)));
}

// A start needs the chosen port's device: when it is absent, the strip says so and nothing starts.
bool TForm1::ChosenDeviceMissing() {
    const int port = Com->PortNum();
    if (Com->IsOpen() || !Serial::DeviceMissing(port)) return false;
    SetTellCaption(QStringLiteral("%1 not connected: %2").arg(PortName(port), PortPath(port)));
    return true;
}
