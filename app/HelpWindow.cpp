#include "app/HelpWindow.h"

#include <QUrl>
#include <QVBoxLayout>

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("HelpWindow");
    setWindowTitle(tr("Zindle Beacon Setup - Help"));
    // Like the debug window: closing it only hides it, and it never keeps the program running.
    setAttribute(Qt::WA_QuitOnClose, false);
    Browser = new QTextBrowser(this);
    Browser->setObjectName("Browser");
    // Links within the page and to other local pages are followed here; web addresses go to the desktop.
    Browser->setOpenLinks(true);
    Browser->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Browser);
    resize(760, 600);
}

void THelpWindow::ShowPage(const QString& page) {
    const QUrl source = QUrl::fromLocalFile(page);
    if (Browser->source() == source) {
        Browser->reload();
    } else {
        Browser->setSource(source);
    }
    if (!Browser->documentTitle().isEmpty()) setWindowTitle(Browser->documentTitle());
    show();
    raise();
    activateWindow();
}
