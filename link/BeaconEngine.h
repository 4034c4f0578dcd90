#pragma once
// The tool's side of the conversation with the beacon: the three operations (read, program, verify),
// the upload of the command string and the GPS slot exchange, as one object that owns the dialogue's
// state. It reaches the outside world only through IBeaconHost, so it runs the same behind the main
// window, behind the command-line tool and behind a test's fake.

#include <QByteArray>
#include <QString>
#include <functional>

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

class IBeaconHost {
public:
    virtual ~IBeaconHost() = default;

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

    // The port: whether one is chosen, and one byte out (errors are raised as exceptions).
    virtual bool PortChosen() const = 0;
    // Whether the chosen port's device is there to talk to; when not, the host tells the operator.
    virtual bool PortReady() { return true; }
    virtual void WriteChar(char c) = 0;

    // The paced wait: `units` of 0.9936 s, while events (the port's data among them) go on being handled.
    virtual void Pause(double units) = 0;
    // Starts the one-second countdown that ends in BeaconEngine::CountdownExpired.
    virtual void StartCountdown() = 0;
    // The upload is running (busy cursor).
    virtual void SetBusy(bool busy) = 0;

    // Notices with no effect on the dialogue.
    virtual void ReceivedTextGrew() {}  // new text was appended, before any rule looked at it
    virtual void AnswerSent() {}        // the answer to one of the beacon's questions has gone out
};

class BeaconEngine {
public:
    static constexpr int kSlotCount = 24;
    // The most of the beacon's text that is kept, and what is kept when it passes that.
    static constexpr qsizetype kMaxReceivedText = 8192;
    static constexpr qsizetype kKeptReceivedText = kMaxReceivedText / 2;

    explicit BeaconEngine(IBeaconHost& host) : host_(host) {}

    // Starting an operation (Read, Program or Verify): the strip turns red, and with a port chosen the
    // operator is told to switch the beacon off and on and the operation takes over from any other.
    // False when no port is chosen.
    bool Start(LinkMode mode);
    // Whether an operation can start now: a port is chosen and its device is there. When not, the strip
    // turns red and says why. Start asks the same; a start that first asks the operator something asks
    // this before.
    bool CanStart();

    // A chunk of text from the beacon: appended to the received text and answered by the rule chain.
    void DataArrived(const QByteArray& text);

    // The countdown after the beacon asked for the message ran out: the command string is sent.
    void CountdownExpired();

    // The beacon's slot listing in the received text, read into the slot table.
    void ReadSlotListing();
    // The GPS menu's ticks agree with the slot table (positions past a short table agree).
    bool SlotsMatch() const;

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
    bool PauseWithin(double units, unsigned operation);
    void Send(char c);
    bool SlotSearch(unsigned operation);
    void SlotTimeStep(unsigned operation);

    IBeaconHost& host_;
    LinkMode mode_ = LinkMode::Idle;
    QByteArray received_;
    QByteArray slotMask_;
    int slotSeconds_ = 0;
    unsigned operation_ = 0;  // counts the operations started; a pause that sees it change was interrupted
};
