#pragma once
// Every modal interaction of the program goes through this one interface: the program uses real Qt
// dialogs (QtDialogs); tests put a scripted implementation in its place and record what was asked.

#include <QString>
#include <QStringList>

class QWidget;

struct TFileDialogRequest {
    QString InitialDir;            // folder the dialog opens in (empty: the platform's choice)
    QString FileName;              // file name filled in (may be a full path)
    QStringList Filters;           // "Text Files (*.txt)", "All Files (*)" ...; the first is selected
    QString DefaultExt;            // added to a name typed without an extension, without the dot: "txt"
    bool OverwritePrompt = false;  // ask before replacing an existing file (save dialog)
};

class IDialogs {
public:
    enum class TAnswer { Yes, No, Cancel };

    virtual ~IDialogs() = default;

    // Warning box with "&Yes" (default, Enter), "&No" and "Cancel" (Esc); closing it otherwise counts
    // as Cancel.
    virtual TAnswer Warning(const QString& title, const QString& text) = 0;
    // Plain message box without an icon and one "OK" button.
    virtual void Message(const QString& title, const QString& text) = 0;
    // The standard error box for an error that ended a handler.
    virtual void Error(const QString& text) = 0;
    // File dialogs; return false when cancelled, else the chosen full path in `chosen`.
    virtual bool OpenFile(const TFileDialogRequest& request, QString& chosen) = 0;
    virtual bool SaveFile(const TFileDialogRequest& request, QString& chosen) = 0;
    // One-line input dialog with OK and Cancel; `value` holds the initial text and receives the entry.
    virtual bool InputQuery(const QString& title, const QString& prompt, QString& value) = 0;
    // Shows a local web page in the desktop's web browser; false when no browser is registered for web
    // pages or it could not be started.
    virtual bool OpenDocument(const QString& path) = 0;
};

// The real dialogs, owned by `parent` for placement.
class QtDialogs : public IDialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    TAnswer Warning(const QString& title, const QString& text) override;
    void Message(const QString& title, const QString& text) override;
    void Error(const QString& text) override;
    bool OpenFile(const TFileDialogRequest& request, QString& chosen) override;
    bool SaveFile(const TFileDialogRequest& request, QString& chosen) override;
    bool InputQuery(const QString& title, const QString& prompt, QString& value) override;
    bool OpenDocument(const QString& path) override;

private:
    QWidget* parent_;
};
