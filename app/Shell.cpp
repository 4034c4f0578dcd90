// Small services of the main window: the debug window, the help page and the About box.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>

#include "app/HelpWindow.h"
#include "app/Unit2.h"
#include "app/ZB.h"
#include "platform/Exception.h"
#include "platform/FileNames.h"
#include "platform/Folders.h"

QString ApplicationTitle(const QString& programFile) {
    const QString base = QFileInfo(programFile).completeBaseName();
    return base.left(1) + base.mid(1).toLower();
}

// The icon's bitmap sizes, and the scalable one where the toolkit can draw it; the desktop's icon theme
// when the program was built without either.
void SetApplicationIdentity() {
    QGuiApplication::setDesktopFileName(DesktopEntryId());
    QIcon icon;
    const bool scalable = QImageReader::supportedImageFormats().contains("svg");
    QDirIterator files(QStringLiteral(":/icons"));
    while (files.hasNext()) {
        const QString file = files.next();
        if (file.endsWith(QLatin1String(".png")) || (scalable && file.endsWith(QLatin1String(".svg"))))
            icon.addFile(file);
    }
    if (icon.isNull()) icon = QIcon::fromTheme(DesktopEntryId());
    QApplication::setWindowIcon(icon);
}

void TForm1::DebugWindowClick(QObject*) {
    DebugWindow->setChecked(!DebugWindow->isChecked());
    if (!Debug) return;
    if (DebugWindow->isChecked()) {
        Debug->show();
        Debug->raise();
        Debug->activateWindow();
    } else {
        Debug->close();  // closing the debug window only hides it
    }
}

// Shows the help page (beside the program, or in the installed documentation folder) in the desktop's web
// browser, or in the program's own help window where no browser is registered for web pages. A missing
// page is reported.
void TForm1::Help2Click(QObject*) {
    const QString page = folders_.HelpPage;
    if (!QFileInfo(page).isFile()) throw EFOpenError("Cannot open file " + FileNames::ToBytes(page));
    if (dialogs_.OpenDocument(page)) return;
    if (!HelpWindow) HelpWindow = new THelpWindow(this);
    HelpWindow->ShowPage(page);
}

void TForm1::About1Click(QObject*) {
    const QString text = QStringLiteral("Zindle Beacon Setup Program\r\n") + QString(15, ' ') +
                         QStringLiteral("Version 2.0\r\n") + QStringLiteral("\r\n") + QString(15, ' ') +
                         QStringLiteral("by the Zindle Beacon Setup developers\r\n") + QString(10, ' ') +
                         QStringLiteral("https://zindle-beacon.example.org");
    dialogs_.Message(QApplication::applicationName(), text);
}
