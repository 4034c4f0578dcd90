// Decoding the command memo into the listing, the memo's key handlers and the Insert menu.
#include <QAction>
#include <utility>

#include "app/ZB.h"
#include "command/SequenceRows.h"

namespace {

// Shows the decoded rows in the listing, from its first row. A text that holds a command the
// synchronized beacon cannot carry raises the alarm, wherever in the listing that command is; nothing
// here clears the alarm. True when the alarm is raised.
bool ShowDecoded(TForm1& form, const QByteArray& text) {
    const bool synchronized = form.Synchronized->isChecked();
    Commands::SequenceRows rows = Commands::DecodeRows(text, synchronized);
    const bool incompatible = synchronized && rows.AnyIncompatible();
    form.Sequence->SetRows(std::move(rows));
    if (incompatible) {
        form.TellAlert();
        form.SetTellCaption(QStringLiteral("Contains commands incompatible with Synchronized Beacon!"));
    }
    return incompatible;
}

}  // namespace

void TForm1::UpdateSequence() {
    ShowDecoded(*this, MemoText());
}

void TForm1::ZBCommandKeyPress(QObject*, QChar&) {
    Modified = true;
    UpdateSequence();
}

// The incompatibility alarm goes before the length alarm and the neutral strip.
void TForm1::ZBCommandKeyUp(QObject*, int, Qt::KeyboardModifiers) {
    Modified = true;
    const QByteArray text = MemoText();
    const bool incompatible = ShowDecoded(*this, text);
    // Each line break counts as two characters (CR LF); a word wrap counts nothing.
    const qsizetype count = text.size();
    SetStatusText(QString::number(count) + QStringLiteral(" characters. Maximum = ") +
                  QString::number(MaxChar));
    if (incompatible) return;
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
