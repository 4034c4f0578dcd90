// The window's side of the beacon dialogue: the three start buttons, the port's data event and the
// countdown's stop event hand over to the engine, which reaches the window's widgets through the
// IBeaconHost methods below.
#include <QAction>
#include <QApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "app/Unit2.h"
#include "app/ZB.h"
#include "device/SuperTimer.h"
#include "device/VaComm.h"
#include "link/Delay.h"

void TForm1::ReadBeaconClick(QObject*) {
    SavePrompt();
    ZBCommand->clear();
    Sequence->clear();
    Engine->Start(LinkMode::Read);
}

void TForm1::ProgramBeaconClick(QObject*) {
    Engine->Start(LinkMode::Program);
}

void TForm1::Button1Click(QObject*) {
    Engine->Start(LinkMode::Verify);
}

void TForm1::ComData(TObject*, int) {
    std::string text;
    Com->ReadText(text);
    Engine->DataArrived(QByteArray::fromStdString(text));
}

void TForm1::SendXStop(TObject*) {
    Engine->CountdownExpired();
}

void TForm1::Delay(double units) {
    PacedWait::Delay(units);
}

void TForm1::RemovePromptLines() {
    RemoveCommandLines(&BeaconEngine::IsPromptLine);
}

void TForm1::RemoveCommandLines(const std::function<bool(const QByteArray&)>& drop) {
    // Lines are deleted where they stand, from the last to the first, so that the caret and the rest of
    // the text stay where they are for an operator typing meanwhile.
    QTextDocument* doc = ZBCommand->document();
    QTextCursor group(doc);
    bool editing = false;
    for (int number = doc->blockCount() - 1; number >= 0; --number) {
        const QTextBlock block = doc->findBlockByNumber(number);
        if (!drop(block.text().toLatin1())) continue;
        if (!editing) group.beginEditBlock();
        editing = true;
        QTextCursor cut(doc);
        const QTextBlock previous = block.previous();
        if (block.next().isValid()) {  // the line and the break after it
            cut.setPosition(block.position());
            cut.setPosition(block.next().position(), QTextCursor::KeepAnchor);
        } else if (previous.isValid()) {  // the last line and the break before it
            cut.setPosition(previous.position() + previous.length() - 1);
            cut.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
        } else {  // the only line
            cut.setPosition(block.position());
            cut.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
        }
        cut.removeSelectedText();
    }
    if (editing) group.endEditBlock();
}

// The debug window's memo shows the whole of the received text. When the text only grew at its end
// since the last time and nobody edited the memo meanwhile, the new part is appended; otherwise the
// memo's text is replaced.
void TForm1::MirrorToDebugWindow() {
    const QByteArray& received = Engine->ReceivedText();
    QTextDocument* doc = Debug->Memo->document();
    const bool grew = !mirrored_.isEmpty() && doc->revision() == mirroredRevision_ &&
                      !mirrored_.endsWith('\r') && received.startsWith(mirrored_);
    if (grew) {
        QTextCursor end(doc);
        end.movePosition(QTextCursor::End);
        end.insertText(MemoDisplayText(received.mid(mirrored_.size())));
    } else {
        Debug->Memo->setPlainText(MemoDisplayText(received));
    }
    mirrored_ = received;
    mirroredRevision_ = doc->revision();
}

void TForm1::ReceivedTextGrew() {
    if (DebugWindow->isChecked() && Debug) MirrorToDebugWindow();
}

QByteArray TForm1::CommandText() const {
    return MemoText();
}

void TForm1::SetCommandText(const QByteArray& text) {
    SetMemoText(text);
}

void TForm1::SetTellLook(TellLook look) {
    switch (look) {
        case TellLook::Neutral:
            TellNeutral();
            break;
        case TellLook::Alert:
            TellAlert();
            break;
        case TellLook::Progress:
            TellProgress();
            break;
    }
}

void TForm1::SetTellBackground(TellBackground background) {
    SetTellColor(background == TellBackground::Red ? QColor(255, 0, 0) : QColor(255, 255, 255));
}

void TForm1::SetStatus(const QString& text) {
    SetStatusText(text);
}

void TForm1::RebuildListing() {
    UpdateSequence();
}

void TForm1::AddListingNotice(const QString& line) {
    Sequence->addItem(line);
}

bool TForm1::SynchronizedOption() const {
    return Synchronized->isChecked();
}

void TForm1::TickSynchronizedOption() {
    Synchronized->setChecked(true);
    ApplySynchronizedMode();
}

bool TForm1::PortChosen() const {
    return Com->PortNum() != 0;
}

bool TForm1::PortReady() {
    return !ChosenDeviceMissing();
}

void TForm1::WriteChar(char c) {
    Com->WriteChar(c);
}

void TForm1::Pause(double units) {
    Delay(units);
}

void TForm1::StartCountdown() {
    SendX->SetEnabled(true);
}

void TForm1::StopCountdown() {
    SendX->SetEnabled(false);
}

void TForm1::SetBusy(bool busy) {
    busy_ = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}
