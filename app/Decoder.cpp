// Decoding the command memo into the listing, the memo's key handlers and the Insert menu.
#include <QAction>
#include <QLabel>
#include <QListWidget>

#include "app/ZB.h"
#include "command/CommandTable.h"

void TForm1::UpdateSequence() {
    const Commands::Decoded decoded = Commands::DecodeText(MemoText(), Synchronized->isChecked(), MaxChar);
    Sequence->clear();
    Sequence->addItems(decoded.rows);
    CapitalsHint->setVisible(decoded.capitalCallsign);
    // Every decode shows the listing from its first row, which is where an incompatible command raises
    // its alarm when drawn.
    Sequence->scrollToTop();
}

// Whatever changed the text (typing, a paste or drop with the mouse, the Insert menu, a load), the
// listing follows it, and the text counts as changed exactly while it differs from the file's.
void TForm1::ZBCommandChange() {
    Modified = MemoText() != unchangedText_;
    UpdateSequence();
    // The operator's own edits, with keys or without (a paste or drop with the mouse), show the count and
    // the length alarm; the program's (a Read, Open, New, the Insert menu) leave the strip to it.
    if (programEdits_ == 0) ShowLength();
}

// Keys themselves change nothing: a key that edits the text is seen as that change.
void TForm1::ZBCommandKeyPress(QObject*, QChar&) {
    UpdateSequence();
}

void TForm1::ZBCommandKeyUp(QObject*, int, Qt::KeyboardModifiers) {
    UpdateSequence();
    ShowLength();
}

// Each line break counts as two characters (CR LF); a word wrap counts nothing. The alarm shows while
// the text is too long; otherwise the strip is cleared.
void TForm1::ShowLength() {
    const Commands::Decoded decoded = Commands::DecodeText(MemoText(), Synchronized->isChecked(), MaxChar);
    SetStatusText(QString::number(decoded.count) + QStringLiteral(" characters. Maximum = ") +
                  QString::number(MaxChar));
    if (decoded.tooLong) {
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
