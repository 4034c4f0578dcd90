#pragma once
// The tool's side of the conversation with the beacon: the three operations (read, program, verify),
// the upload of the command string and the GPS slot exchange, as one object that owns the dialogue's
// state. It reaches the outside world only through IBeaconView (what is shown) and IBeaconPort (the
// line), so it runs the same behind the main window, behind the command-line tool and behind a test's
// fake.

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

#include "link/SlotListing.h"

// The dialogue's states. Their names (LinkModeName) appear in the marker texts that replace the
// received text, so they are part of what the debug window shows.
enum class LinkMode { Idle, Read, ReadGPS, Program, ProgramGPS, ProgramGPS2, ProgramGPS3, Verify, VerifyGPS };

// "" for Idle, else the state's name ("Read", "ProgramGPS2", ...).
QByteArray LinkModeName(LinkMode mode);

// The alert strip's looks: neutral (white on black text), alert (red, white text), progress (green,
// white text).
enum class TellLook { Neutral, Alert, Progress };
// Backgrounds set without touching the text colour.
enum class TellBackground { Red, White };

// What the beacon's text showed of its stored message when a Verify compared it with the command string.
struct SequenceCheck {
    bool matched = false;
    // The first character (from 0) at which the beacon's message and the command string differ, both
    // taken without line breaks and other control characters; -1 when they agree.
    qsizetype firstDifference = -1;
    QByteArray beaconText;  // the beacon's message as it printed it, less its prompt lines and noise
    QByteArray fileText;    // the command string searched for
};

// A text as the comparison sees it: every control character (line breaks included) left out.
QByteArray ComparedText(const QByteArray& text);
// Bytes with control characters shown visibly: <CR>, <LF>, <0xNN>.
QString VisibleText(const QByteArray& bytes);
// Where a failed check first parts, as the status bar says it: "Differs at character N: beacon '...',
// file '...'" with N counted from 1 and a few characters up to and including the difference.
QString DifferenceText(const SequenceCheck& check);

// The beacon's slot table against the wanted one.
struct SlotCheck {
    bool verified = false;
    QList<int> differing;  // slots (0..23) in which they differ, lowest first
    QByteArray beaconTable;
};

// The window, the command-line tool or a test: what the dialogue shows and what it is told. Outcomes
// arrive as facts (the On... notices); each host words them in its own way.
class IBeaconView {
public:
    virtual ~IBeaconView() = default;

    // The command string: single bytes, line breaks as CR LF.
    virtual QByteArray CommandText() const = 0;
    virtual void SetCommandText(const QByteArray& text) = 0;
    // Deletes every line of the command string for which `drop` holds; the other lines keep their order.
    virtual void RemoveCommandLines(const std::function<bool(const QByteArray& line)>& drop) = 0;

    // The alert strip and the status line.
    virtual QString TellCaption() const = 0;
    virtual void SetTellCaption(const QString& caption) = 0;
    virtual void SetTellLook(TellLook look) = 0;
    virtual void SetTellBackground(TellBackground background) = 0;
    virtual void SetStatus(const QString& text) = 0;

    // The listing: decoded again from the command string, or one notice line added at its end.
    virtual void RebuildListing() = 0;
    virtual void AddListingNotice(const QString& line) = 0;

    // The GPS menu's ticks (the wanted slot table) and the synchronized option.
    virtual bool SlotTicked(int slot) const = 0;
    virtual void SetSlotTicked(int slot, bool ticked) = 0;
    virtual bool SynchronizedOption() const = 0;
    virtual void TickSynchronizedOption() = 0;  // ticks the option and applies the synchronized mode

    // Whether the chosen port's device is there to talk to; when not, the host tells the operator.
    virtual bool PortReady() { return true; }
    // The upload is running (busy cursor).
    virtual void SetBusy(bool busy) = 0;

    // Notices with no effect on the dialogue.
    virtual void ReceivedTextGrew() {}  // new text was appended, before any rule looked at it
    virtual void AnswerSent() {}        // the answer to one of the beacon's questions has gone out
    virtual void BytesReceived(const QByteArray&) {}  // raw, as the port delivered them
    virtual void ByteSent(char) {}

    // Keeping the beacon's program before it is overwritten. A Program calls KeepBeaconProgram with the
    // beacon's stored message (as the beacon printed it, less its prompt lines and line noise) before it
    // answers the beacon's first question, and for the synchronized beacon KeepBeaconSlots with the
    // beacon's slot table ('0'/'1' per slot) before it changes the first slot. Each returns empty when
    // the copy is kept, else why not ("<path>: <reason>"): the Program then sends nothing more and ends.
    virtual QString KeepBeaconProgram(const QByteArray& /*message*/) { return {}; }
    virtual QString KeepBeaconSlots(const QByteArray& /*table*/) { return {}; }

    // Outcomes.
    virtual void OnSequenceChecked(const SequenceCheck&) {}  // a Verify compared the command string
    virtual void OnSlotsChecked(const SlotCheck&) {}         // a Verify or Program compared the slot tables
    virtual void OnUploadProgress(qsizetype /*sent*/, qsizetype /*total*/) {}  // after each character
    virtual void OnUploadEnded(qsizetype /*sent*/, bool /*complete*/) {}       // complete: not cut short
    virtual void OnSlotStep(bool /*set*/, int /*seconds*/) {}  // a slot is being set or cleared
    // The operation's own part is over; a beacon not known to be synchronized may still print its slot
    // listing (which then carries the operation on), or may have nothing more to say.
    virtual void OnListingMayFollow() {}
    // The operation is complete and the dialogue idle.
    virtual void OnOperationOver(LinkMode /*operation*/) {}
};

// The line to the beacon: bytes out, the paced wait and the countdown before the upload.
class IBeaconPort {
public:
    virtual ~IBeaconPort() = default;
    // Whether a port is chosen.
    virtual bool PortChosen() const = 0;
    // One byte out; errors are raised as exceptions.
    virtual void WriteChar(char c) = 0;
    // The paced wait: `units` of 0.9936 s, while events (the port's data among them) go on being handled.
    virtual void Pause(double units) = 0;
    // Starts the one-second countdown that ends in BeaconEngine::CountdownExpired.
    virtual void StartCountdown() = 0;
    // Stops a running countdown without its end: an operation that starts or ends takes it away.
    virtual void StopCountdown() {}
};

// Both halves in one, for hosts that are both (the tests' fake).
class IBeaconHost : public IBeaconView, public IBeaconPort {};

class BeaconEngine {
public:
    static constexpr int kSlotCount = SlotListing::kSlotCount;
    // The most of the beacon's text that is kept, and what is kept when it passes that.
    static constexpr qsizetype kMaxReceivedText = 8192;
    static constexpr qsizetype kKeptReceivedText = kMaxReceivedText / 2;

    BeaconEngine(IBeaconView& view, IBeaconPort& port) : host_(view), port_(port) {}
    explicit BeaconEngine(IBeaconHost& host) : BeaconEngine(host, host) {}

    // Starting an operation (Read, Program or Verify): the strip turns red, and with a port chosen the
    // operator is told to switch the beacon off and on and the operation takes over from any other.
    // False when no port is chosen.
    bool Start(LinkMode mode);
    // Whether an operation can start now: a port is chosen and its device is there. When not, the strip
    // turns red and says why. Start asks the same; a start that first asks the operator something asks
    // this before.
    bool CanStart();

    // Ends the running operation without a word to the beacon: a pending answer, the countdown and an
    // upload in progress send nothing more (the port it belonged to is no longer the one chosen).
    void EndOperation();

    // A chunk of text from the beacon: appended to the received text and answered by the rule chain.
    void DataArrived(const QByteArray& text);

    // The countdown after the beacon asked for the message ran out: the command string is sent.
    void CountdownExpired();

    // The beacon's slot listing in the received text, read into the slot table.
    void ReadSlotListing();
    // The GPS menu's ticks agree with the slot table (positions past a short table agree).
    bool SlotsMatch() const;
    SlotCheck CheckSlots() const;
    // The command string against the beacon's message in the received text.
    SequenceCheck CheckSequence() const;
    // The beacon's stored message: what it printed before its question, less its prompt lines and line
    // noise, the lines joined by CR LF.
    QByteArray StoredMessage() const;

    // True for the beacon's prompt lines and empty lines, which the command string never keeps.
    static bool IsPromptLine(const QByteArray& line);

    LinkMode Mode() const { return mode_; }
    QByteArray ModeName() const { return LinkModeName(mode_); }
    const QByteArray& ReceivedText() const { return received_; }
    void SetReceivedText(const QByteArray& text) { received_ = text; }
    void SetMode(LinkMode mode) { mode_ = mode; }
    const QByteArray& SlotMask() const { return slotMask_; }
    void SetSlotMask(const QByteArray& mask) { slotMask_ = mask; }
    int SlotSeconds() const { return slotSeconds_; }
    // Back to idle with nothing received.
    void Reset();

private:
    // One slot to be set or cleared so that the beacon's table comes closer to the menu's.
    struct SlotChange {
        int slot = 0;
        bool set = false;
    };

    bool PauseWithin(double units, unsigned operation);
    void Send(char c);
    // The first question after a start is asked after the beacon's stored program, which has a line of
    // its own: a stored program that happens to end in "y/n" is no question.
    bool FirstQuestionAsked() const;
    bool SlotDiffers(int slot) const;
    std::optional<SlotChange> FirstDifference() const;
    bool SetOrClearSlot(unsigned operation);
    void SlotTimeStep(unsigned operation);
    // The beacon's program could not be kept: the operation ends with nothing sent, and the strip says why.
    void RefuseProgram(const QString& reason);

    IBeaconView& host_;
    IBeaconPort& port_;
    LinkMode mode_ = LinkMode::Idle;
    QByteArray received_;
    QByteArray slotMask_;
    int slotSeconds_ = 0;
    unsigned operation_ = 0;  // counts the operations started; a pause that sees it change was interrupted
    unsigned countdownOperation_ = 0;  // the operation whose message request started the countdown
    bool answeredYes_ = false;         // this Program operation has answered y to the beacon's first question
    bool listingMayFollowRead_ = false;
    bool slotsKept_ = false;                // this Program operation has had the beacon's slot table kept
    std::optional<SlotChange> slotChange_;  // decided when the slot question was answered y
};
