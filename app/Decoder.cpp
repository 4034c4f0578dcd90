// Decoding the command memo into the listing, the memo's key handlers and the Insert menu.
#include <QAction>
#include <QLabel>
#include <utility>

#include "app/ZB.h"
#include "command/CommandTable.h"
#include "command/SequenceRows.h"

namespace {

// Shows the decoded rows in the listing, from its first row, and the capitals hint. A text that holds a
// command the synchronized beacon cannot carry raises the alarm, wherever in the listing that command
// is; nothing here clears the alarm. True when the alarm is raised.
bool ShowDecoded(TForm1& form, const QByteArray& text) {
    const bool synchronized = form.Synchronized->isChecked();
    Commands::SequenceRows rows = Commands::DecodeRows(text, synchronized);
    const bool incompatible = synchronized && rows.AnyIncompatible();
    form.Sequence->SetRows(std::move(rows));
    form.CapitalsHint->setVisible(Commands::HasCapitalCallsign(text));
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

// Whatever changed the text (typing, a paste or drop with the mouse, the Insert menu, a load), the
// listing follows it, and the text counts as changed exactly while it differs from the file's. The
// operator's own edits, with keys or without (a paste or drop with the mouse), also show the count and
// the length alarm; the program's (a Read, Open, New, the Insert menu) leave the strip to it.
void TForm1::ZBCommandChange() {
    Modified = MemoText() != unchangedText_;
    if (programEdits_ == 0) {
        ShowLength();
    } else {
        UpdateSequence();
    }
}

// Keys themselves change nothing: a key that edits the text is seen as that change.
void TForm1::ZBCommandKeyPress(QObject*, QChar&) {
    UpdateSequence();
}

void TForm1::ZBCommandKeyUp(QObject*, int, Qt::KeyboardModifiers) {
    ShowLength();
}

// Each line break counts as two characters (CR LF); a word wrap counts nothing. The incompatibility
// alarm goes before the length alarm and the neutral strip.
void TForm1::ShowLength() {
    const QByteArray text = MemoText();
    const bool incompatible = ShowDecoded(*this, text);
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
    ++programEdits_;
    cursor.insertText(QString(letter));
    --programEdits_;
    ZBCommand->setTextCursor(cursor);
    UpdateSequence();
}
