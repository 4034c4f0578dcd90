#pragma once
// The program's own help window: the help page rendered, with working links, for a desktop that has no
// web browser registered for web pages.

#include <QTextBrowser>
#include <QWidget>

class THelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget* parent = nullptr);

    // Shows `page` (a local HTML file) from its top and brings the window to the front.
    void ShowPage(const QString& page);

    QTextBrowser* Browser = nullptr;
};
