#include "app/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include "app/FocusReturn.h"
#include "platform/WebBrowser.h"

namespace {
QString ApplicationTitle() {
    return QApplication::applicationName();
}

// Shows a configured file dialog; the filters become "Name (*.ext)" entries.
bool RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const TFileDialogRequest& request,
                   QString& chosen) {
    const FocusReturn focus(parent);
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::AnyFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.OverwritePrompt);
    dialog.setSizeGripEnabled(true);
    dialog.setNameFilters(request.Filters);
    if (!request.Filters.isEmpty()) dialog.selectNameFilter(request.Filters.first());
    dialog.setDefaultSuffix(request.DefaultExt);
    if (!request.InitialDir.isEmpty()) dialog.setDirectory(request.InitialDir);
    if (!request.FileName.isEmpty()) dialog.selectFile(request.FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    chosen = dialog.selectedFiles().first();
    return true;
}
}  // namespace

IDialogs::TAnswer QtDialogs::Warning(const QString& title, const QString& text) {
    const FocusReturn focus(parent_);
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent_);
    QPushButton* yes = box.addButton(QObject::tr("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QObject::tr("&No"), QMessageBox::NoRole);
    QPushButton* cancel = box.addButton(QObject::tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes) return TAnswer::Yes;
    if (box.clickedButton() == no) return TAnswer::No;
    return TAnswer::Cancel;
}

void QtDialogs::Message(const QString& title, const QString& text) {
    const FocusReturn focus(parent_);
    // Lines of the program's texts are separated by CR LF; the label breaks lines at LF alone.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QMessageBox box(QMessageBox::NoIcon, title, shown, QMessageBox::Ok, parent_);
    box.exec();
}

void QtDialogs::Error(const QString& text) {
    const FocusReturn focus(parent_);
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok, parent_);
    box.exec();
}

bool QtDialogs::OpenFile(const TFileDialogRequest& request, QString& chosen) {
    return RunFileDialog(parent_, QFileDialog::AcceptOpen, request, chosen);
}

bool QtDialogs::SaveFile(const TFileDialogRequest& request, QString& chosen) {
    return RunFileDialog(parent_, QFileDialog::AcceptSave, request, chosen);
}

bool QtDialogs::InputQuery(const QString& title, const QString& prompt, QString& value) {
    const FocusReturn focus(parent_);
    bool ok = false;
    QString entered = QInputDialog::getText(parent_, title, prompt, QLineEdit::Normal, value, &ok);
    if (ok) value = entered;
    return ok;
}

// Not the desktop's handler for HTML files, which may be a text editor, but its web browser.
bool QtDialogs::OpenDocument(const QString& path) {
    return OpenInWebBrowser(QUrl::fromLocalFile(path).toString());
}
