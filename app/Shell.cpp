// Small services of the main window: the debug window, the help page and the About box.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>

#include "app/Unit2.h"
#include "app/ZB.h"
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

// Opens the help page (beside the program, or in the installed documentation folder) in the desktop's
// viewer; a missing page reports nothing.
void TForm1::Help2Click(QObject*) {
    // Whether the viewer could show the page is not reported: a missing page shows nothing.
    dialogs_.OpenDocument(folders_.HelpPage);
}

void TForm1::About1Click(QObject*) {
    const QString text = QStringLiteral("Zindle Beacon Setup Program\r\n") + QString(15, ' ') +
                         QStringLiteral("Version 2.0\r\n") + QStringLiteral("\r\n") + QString(15, ' ') +
                         QStringLiteral("by the Zindle Beacon Setup developers\r\n") + QString(10, ' ') +
                         QStringLiteral("https://zindle-beacon.example.org");
    dialogs_.Message(QApplication::applicationName(), text);
}
