// Opening a page on Linux: the desktop's web browser as WebBrowserCommand finds it.
#include <QProcess>

#include "platform/WebBrowser.h"

bool OpenInWebBrowser(const QString& url) {
    const QStringList command = WebBrowserCommand(url, TBrowserEnvironment::FromSystem());
    return !command.isEmpty() && QProcess::startDetached(command.first(), command.mid(1));
}
