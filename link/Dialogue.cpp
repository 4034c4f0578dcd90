// The beacon dialogue: the three start buttons and the handler of every chunk of text the beacon sends.
#include <QAction>
#include <QListWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "app/Unit2.h"
#include "app/ZB.h"
#include "device/SuperTimer.h"
#include "device/VaComm.h"

namespace {
const QColor kRed(255, 0, 0);
const char kCheckJumper[] = "Check jumper. Turn beacon off and then on.";
// The most of the beacon's text that is kept: several whole conversations (command string, questions,
// slot listing), and little enough that a line that never stops talking cannot make each data event
// slower than the one before it. Beyond the limit the newest half is kept, so that the text mostly
// grows at its end and the debug window can mostly append.
constexpr qsizetype kMaxReceivedText = 8192;
constexpr qsizetype kKeptReceivedText = kMaxReceivedText / 2;
}  // namespace

// Each start handler turns the strip red first (its text colour stays), then needs a chosen port;
// whether the port is actually open is not tested, only that its device is there. A start takes over
// from any operation in progress.
void TForm1::StartOperation(const char* mode, const char* status) {
    SetTellColor(kRed);
    if (Com->PortNum() == 0) {
        SetTellCaption(QStringLiteral("Select Comm Port"));
        return;
    }
    if (ChosenDeviceMissing()) return;
    SetTellCaption(QString::fromLatin1(kCheckJumper));
    SetStatusText(QString::fromLatin1(status));
    ReceivedText.clear();
    LinkMode = mode;
}

void TForm1::ReadBeaconClick(QObject*) {
    SavePrompt();
    ZBCommand->clear();
    Sequence->clear();
    StartOperation("Read", "Ready to read beacon");
}

void TForm1::ProgramBeaconClick(QObject*) {
    StartOperation("Program", "Ready to program beacon");
}

void TForm1::Button1Click(QObject*) {
    StartOperation("Verify", "Ready to read beacon");
}

// Removes the beacon's prompt lines and every empty line from the memo; the other lines keep their order.
void TForm1::RemovePromptLines() {
    // Lines are deleted where they stand, from the last to the first, so that the caret and the rest of
    // the text stay where they are for an operator typing meanwhile.
    QTextDocument* doc = ZBCommand->document();
    QTextCursor group(doc);
    bool editing = false;
    for (int number = doc->blockCount() - 1; number >= 0; --number) {
        const QTextBlock block = doc->findBlockByNumber(number);
        const QString line = block.text();
        if (line.isEmpty() || line.contains(QLatin1String("Change program?")) ||
            line.contains(QLatin1String("Enter new program")) ||
            line.contains(QLatin1String("Chg msg? y/n"))) {
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
    }
    if (editing) group.endEditBlock();
}

// The debug window's memo shows the whole of the received text. When the text only grew at its end
// since the last time and nobody edited the memo meanwhile, the new part is appended; otherwise the
// memo's text is replaced.
void TForm1::MirrorToDebugWindow() {
    QTextDocument* doc = Debug->Memo->document();
    const bool grew = !mirrored_.isEmpty() && doc->revision() == mirroredRevision_ &&
                      !mirrored_.endsWith('\r') && ReceivedText.startsWith(mirrored_);
    if (grew) {
        QTextCursor end(doc);
        end.movePosition(QTextCursor::End);
        end.insertText(MemoDisplayText(ReceivedText.mid(mirrored_.size())));
    } else {
        Debug->Memo->setPlainText(MemoDisplayText(ReceivedText));
    }
    mirrored_ = ReceivedText;
    mirroredRevision_ = doc->revision();
}

// The memo's command string as searched for in the beacon's output: every control character removed.
static QByteArray SearchText(const QByteArray& memo) {
    QByteArray search;
    for (char c : memo) {
        if (static_cast<unsigned char>(c) >= 32) search += c;
    }
    return search;
}

void TForm1::ComData(TObject*, int) {
    std::string text;
    Com->ReadText(text);
    ReceivedText += QByteArray::fromStdString(text);
    // Prompts are answered in the event that completes them, so only the newest text is still needed.
    if (ReceivedText.size() > kMaxReceivedText)
        ReceivedText.remove(0, ReceivedText.size() - kKeptReceivedText);

    if (DebugWindow->isChecked() && Debug) MirrorToDebugWindow();

    if (LinkMode == "Read") {
        SetMemoText(ReceivedText);
        TellNeutral();
        SetTellCaption(QStringLiteral("Reading"));
        SetStatusText(QStringLiteral("Reading"));
    }
    RemovePromptLines();

    // Rule 1: the question after the message, answered no while the slots are being brought into line.
    if (ReceivedText.contains("sg? y/n") && LinkMode == "ProgramGPS") {
        ReceivedText = "Answer no " + LinkMode + "\r";
        Delay(1);
        Com->WriteChar('n');
        return;
    }
    // Rule 2: the beacon asks for the slot's time.
    if (ReceivedText.contains("sec?") && LinkMode == "ProgramGPS3") {
        SlotTimeStep();
        return;
    }
    // Rule 3: set or clear the first slot in which the menu and the beacon differ.
    if (ReceivedText.contains("s/c") && LinkMode == "ProgramGPS2") {
        LinkMode = "ProgramGPS3";
        ReceivedText = "ProgramGPS3\r";
        if (SlotSearch()) return;
    }
    // Rule 4: a question ending in "y/n" CR LF; each part sees the state the part before left.
    if (ReceivedText.contains("y/n\r\n")) {
        if (ReceivedText.contains("55 sec") && ReceivedText.contains("GPS? y/n")) {
            if (!Synchronized->isChecked()) {
                Synchronized->setChecked(true);
                ApplySynchronizedMode();
            }
            ReadSlotListing();
            if (LinkMode == "ReadGPS") {
                ReceivedText.clear();
                LinkMode.clear();
                Delay(1);
                Com->WriteChar('n');
                if (SlotMask.size() >= GPSSlots.size()) {
                    for (int i = 0; i < GPSSlots.size(); ++i)
                        GPSSlots[i]->setChecked(SlotMask.at(i) == '1');
                    Sequence->addItem(QStringLiteral("GPS Menu set to programmed beacon slots"));
                }
            }
            if (LinkMode == "VerifyGPS") {
                ReceivedText.clear();
                LinkMode.clear();
                SetTellCaption(TellCaption() + (SlotsMatch() ? QStringLiteral(" - GPS Verified")
                                                             : QStringLiteral(" - GPS Slot Error")));
                Delay(1);
                Com->WriteChar('n');
            }
        }
        if (LinkMode == "Read") {
            LinkMode.clear();
            ReceivedText = "Command: " + LinkMode + "\r";
            Delay(1);
            Com->WriteChar('n');
            if (Synchronized->isChecked()) LinkMode = "ReadGPS";
            SetTellCaption(QString());
            SetStatusText(QString());
            UpdateSequence();
            ReceivedText = "Command: " + LinkMode + "\r";
        }
        if (LinkMode == "Program") {
            Delay(1);
            Com->WriteChar('y');
            TellProgress();
            SetTellCaption(QStringLiteral("Programming Beacon"));
            SetStatusText(QStringLiteral("Programming Beacon"));
            ReceivedText = "Command: " + LinkMode + "\r";
        }
        if (LinkMode == "ProgramGPS") {
            LinkMode = "ProgramGPS2";
            ReceivedText = LinkMode + "\r";
            if (SlotsMatch()) {
                LinkMode.clear();
                ReceivedText = "GPS Verified";
                Delay(1);
                Com->WriteChar('n');
            } else {
                Delay(1);
                Com->WriteChar('y');
            }
        }
        if (LinkMode == "Verify") {
            const QByteArray search = SearchText(MemoText());
            if (!search.isEmpty() && ReceivedText.contains(search)) {
                TellProgress();
                SetTellCaption(QStringLiteral("Beacon Sequence OK"));
            } else {
                TellAlert();
                SetTellCaption(QStringLiteral("Sequence Verify Failed"));
            }
            LinkMode = "VerifyGPS";
            Delay(1);
            Com->WriteChar('n');
        }
    }
    // Rule 5: the beacon asks for the new message; the countdown starts the upload a second later.
    if ((ReceivedText.contains("by Z.") || ReceivedText.contains("then Z")) && LinkMode == "Program") {
        SendX->SetEnabled(true);
        ReceivedText = "SendX\r";
    }
}
