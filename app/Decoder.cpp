// Decoding the command memo into the listing, the memo's key handlers and the Insert menu.
#include <QAction>

#include "app/ZB.h"
#include "command/SequenceRows.h"

namespace {

// Shows the decoded rows in the listing. Every decode shows the listing from its first row, which is
// where an incompatible command raises its alarm when drawn.
void ShowDecoded(TForm1& form, const QByteArray& text) {
    form.Sequence->SetRows(Commands::DecodeRows(text, form.Synchronized->isChecked()));
}

}  // namespace

void TForm1::UpdateSequence() {
    ShowDecoded(*this, MemoText());
}

void TForm1::ZBCommandKeyPress(QObject*, QChar&) {
    Modified = true;
    UpdateSequence();
}

void TForm1::ZBCommandKeyUp(QObject*, int, Qt::KeyboardModifiers) {
    Modified = true;
    const QByteArray text = MemoText();
    ShowDecoded(*this, text);
    // Each line break counts as two characters (CR LF); a word wrap counts nothing.
    const qsizetype count = text.size();
    SetStatusText(QString::number(count) + QStringLiteral(" characters. Maximum = ") +
                  QString::number(MaxChar));
    if (count > MaxChar) {
        TellAlert();
        SetTellCaption(QStringLiteral("Beacon Message too long!"));
    } else {
        TellNeutral();
        SetTellCaption(QString());
    }
}

void TForm1::A5wpm1Click(QObject* Sender) {
    auto* item = qobject_cast<QAction*>(Sender);
    if (!item) return;
    // The letter is kept with the item: a desktop may add access-key marks to the displayed caption.
    const QChar letter = item->data().toChar();
    if (letter.isNull()) return;
    QTextCursor cursor = ZBCommand->textCursor();
    cursor.insertText(QString(letter));
    ZBCommand->setTextCursor(cursor);
    UpdateSequence();
}
