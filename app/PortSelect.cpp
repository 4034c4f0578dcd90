// Choice of the serial port in the Comm submenu, and the port opened at start-up.
#include <QAction>

#include "app/ZB.h"
#include "device/VaComm.h"
#include "platform/Convert.h"

namespace {
const char kCustomCaption[] = "Custom ...";
}

void TForm1::Com0Click(QObject*) {
    Com0->setChecked(true);
    CustomPort->setText(QString::fromLatin1(kCustomCaption));
    Com->Close();
    Com->SetPortNum(0);
}

void TForm1::ChooseNumberedPort(QAction* item, int port) {
    item->setChecked(true);
    CustomPort->setText(QString::fromLatin1(kCustomCaption));
    Com->Close();
    Delay(1);
    Com->SetPortNum(port);
    Com->Open();
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

void TForm1::CustomPortClick(QObject*) {
    QString entry = QString::number(Com->PortNum());
    Com->Close();
    CustomPort->setChecked(true);
    if (!dialogs_.InputQuery(QStringLiteral("Custom Com Port"), QStringLiteral("Port number: "), entry))
        return;
    int32_t port = 0;
    if (!Convert::TryStrToInt(entry.toStdString(), port)) port = 0;
    Com->SetPortNum(port);
    // The caption shows the entry as typed; an "&" in it is shown, not taken as an access key.
    CustomPort->setText(QStringLiteral("COM ") +
                        QString(entry).replace(QLatin1Char('&'), QLatin1String("&&")));
    Com->Open();
}

// Opens the remembered port; a failure is dropped without a message and leaves no port chosen.
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
    } catch (const std::exception&) {
        Com->SetPortNum(0);
        Com0->setChecked(true);
    }
}
