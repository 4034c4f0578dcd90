// The window's side of the beacon dialogue: the three start buttons, the port's data event and the
// countdown's stop event hand over to the beacon line, whose engine reaches the window's widgets
// through the IBeaconView methods below.
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "app/Unit2.h"
#include "app/ZB.h"
#include "device/SuperTimer.h"
#include "device/VaComm.h"
#include "link/Delay.h"
#include "platform/serial/Serial.h"

// A Read that cannot start (no port, or its device absent) asks nothing and empties nothing; nor does
// one whose device went while "Save changes?" was open. The memo emptied for a Read, and what the Read
// fills in, is the beacon's program, not a change.
void TForm1::ReadBeaconClick(QObject*) {
    if (!Engine->CanStart()) return;
    debugNote_.clear();
    if (!SavePrompt()) return;
    if (!Engine->Start(LinkMode::Read)) return;
    ++programEdits_;
    ZBCommand->clear();
    --programEdits_;
    Sequence->clear();
    TakeMemoAsUnchanged();
}

void TForm1::ProgramBeaconClick(QObject*) {
    debugNote_.clear();
    Engine->Start(LinkMode::Program);
}

void TForm1::Button1Click(QObject*) {
    debugNote_.clear();
    Engine->Start(LinkMode::Verify);
}

void TForm1::ComData(TObject*, int) {
    Line->HandleData();
}

void TForm1::SendXStop(TObject*) {
    Line->CountdownExpired();
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
    ++programEdits_;
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
    --programEdits_;
    if (editing && Engine->Mode() == LinkMode::Read) TakeMemoAsUnchanged();
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
        Debug->Memo->setPlainText(debugNote_ + MemoDisplayText(received));
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

// Only a Read fills the memo from the beacon.
void TForm1::SetCommandText(const QByteArray& text) {
    SetMemoText(text);
    TakeMemoAsUnchanged();
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

bool TForm1::PortReady() {
    return !ChosenDeviceMissing();
}

void TForm1::SetBusy(bool busy) {
    busy_ = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

QString TForm1::BackupsFolderPath() const {
    return BackupsFolder(folders_);
}

// The beacon's program is kept in the backups folder before the Program answers the beacon.
QString TForm1::KeepBeaconProgram(const QByteArray& message) {
    const int port = Com->PortNum();
    backups_.SetFolder(BackupsFolderPath());
    backups_.SetPort(port, QString::fromLocal8Bit(Serial::DevicePath("COM" + std::to_string(port))));
    return backups_.KeepProgram(message, Synchronized->isChecked());
}

QString TForm1::KeepBeaconSlots(const QByteArray& table) {
    return backups_.KeepSlots(table);
}

// The designed caption stays on the strip; where the texts part goes to the status bar and the debug
// window.
void TForm1::OnSequenceChecked(const SequenceCheck& check) {
    if (check.matched) return;
    const QString detail = DifferenceText(check);
    SetStatusText(detail);
    // The note stays above the received text until the next operation starts.
    debugNote_ = detail + QLatin1Char('\n');
    if (DebugWindow->isChecked() && Debug) {
        mirrored_.clear();
        MirrorToDebugWindow();
    }
}

// A complete upload has replaced the beacon's message: the status bar names the kept copy.
void TForm1::OnUploadEnded(qsizetype, bool complete) {
    if (!complete || backups_.LastBackup().isEmpty()) return;
    SetStatusText(StatusText() + QStringLiteral(". Previous program kept: ") +
                  QFileInfo(backups_.LastBackup()).fileName());
}
