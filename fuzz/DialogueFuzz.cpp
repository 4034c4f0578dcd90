// The beacon dialogue over any text from the beacon, cut into data events of any sizes, from any
// starting state, with pauses that take no time (the text that arrives during a pause is handled
// inside it, as the window's event loop does). Nothing may crash or hang; the received text stays
// bounded; and no question is answered twice: the answers never outnumber the questions in the text.
//
// A question is what a rule answers: a line ending in "y/n" CR LF, the message question "sg? y/n"
// (counted once when its CR LF follows), the set-or-clear question "s/c" and the time question "sec?".
// An answer is one whole reply, counted by the host's AnswerSent: the slot time's digits and CR are one.
//
// Input: byte 0 chooses the starting state, the synchronized option, the GPS menu's ticks, the command
// string and whether a pause handles a data event; byte 1
// the sizes of the data events; byte 2 the beacon's slot table; the rest is the beacon's text. In it a
// NUL byte is not text but the operator pressing a start button (Read, Program or Verify, by the byte
// after it), between two data events or during a pause: the new operation takes over, and the one it
// interrupted must send nothing more. That is checked: no byte goes out right after a pause in which a
// button was pressed, and a countdown that ends after a press (a timer whose stop came too late) sends
// nothing. The lowest bit of byte 1 lets one more event run before the countdown ends.
#include <QByteArray>
#include <algorithm>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "tests/support/FakeBeaconHost.h"

namespace {

size_t Count(const std::string& text, const std::string& fragment) {
    size_t n = 0;
    for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1))
        ++n;
    return n;
}

size_t Questions(const std::string& text) {
    return Count(text, "y/n\r\n") + Count(text, "sg? y/n") - Count(text, "sg? y/n\r\n") + Count(text, "s/c") +
           Count(text, "sec?");
}

// A table of 24 slots from one byte: its bits spread over the slots, with a stray character now and
// then (the flags are copied from the listing whatever they are).
QByteArray Table(uint8_t bits) {
    QByteArray table(BeaconEngine::kSlotCount, '0');
    for (int i = 0; i < BeaconEngine::kSlotCount; ++i)
        table[i] = (bits >> (i % 8)) & 1 ? '1' : '0';
    if (bits % 7 == 0) table[bits % BeaconEngine::kSlotCount] = 'x';
    return table;
}

constexpr char kStartButton = '\0';

class Host : public FakeBeaconHost {
public:
    void ReceivedTextGrew() override {
        FUZZ_CHECK(engine.ReceivedText().size() <= BeaconEngine::kMaxReceivedText);
    }
    // A pause handles the next event, or none. When a button was pressed inside it, the rule that
    // paused was interrupted: it must not send.
    void Pause(double units) override {
        pauses.push_back(units);
        interrupted = false;
        const unsigned before = presses;
        if (eventInPause) NextEvent();
        interrupted = presses != before;
    }
    void WriteChar(char c) override {
        FUZZ_CHECK(!interrupted);
        FakeBeaconHost::WriteChar(c);
    }
    void StartCountdown() override {
        countdown = true;
        countdownPresses = presses;
    }
    // The stop is not carried out, as a timer tick already on its way would still arrive.
    void StopCountdown() override {}
    void RunCountdown() {
        countdown = false;
        interrupted = false;
        const bool stale = presses != countdownPresses;
        const size_t before = sent.size();
        engine.CountdownExpired();
        FUZZ_CHECK(!busy);
        if (stale) FUZZ_CHECK(sent.size() == before);
    }
    // The next data event, which ends before the next button press, or the press itself.
    void NextEvent() {
        if (pending.empty()) return;
        if (pending.front() != kStartButton) {
            const size_t size = chunks.empty() ? pending.size() : chunks[nextChunk % chunks.size()];
            interrupted = false;  // a new event's handler runs
            Deliver(std::min(size, pending.find(kStartButton)));
            return;
        }
        const unsigned char which = pending.size() > 1 ? static_cast<unsigned char>(pending[1]) : 0;
        pending.erase(0, 2);
        ++presses;
        static constexpr LinkMode kButtons[] = {LinkMode::Read, LinkMode::Program, LinkMode::Verify};
        engine.Start(kButtons[which % 3]);
    }

    bool eventInPause = false;
    unsigned presses = 0;
    unsigned countdownPresses = 0;
    bool interrupted = false;
};

// The beacon's text without the button presses.
std::string Text(const std::string& stream) {
    std::string text;
    for (size_t i = 0; i < stream.size(); ++i) {
        if (stream[i] == kStartButton)
            ++i;
        else
            text += stream[i];
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    Host host;
    const LinkMode start = static_cast<LinkMode>((data[0] & 0x0F) % 9);
    host.synchronized = (data[0] & 0x10) != 0;
    host.ticks = (data[0] & 0x20) ? Table(data[0]) : QByteArray("100000000000100000000000");
    host.command = (data[0] & 0x40) ? QByteArray("PSDvvvSQSZ") : QByteArray();
    host.eventInPause = (data[0] & 0x80) != 0;
    // Event sizes from 1 to 16 bytes, in a pattern of the byte's choosing; 0 delivers all at once.
    if (data[1] != 0) {
        for (int i = 0; i < 8; ++i)
            host.chunks.push_back(1 + ((data[1] * (i + 3) + i) % 16));
    }
    if (data[2] != 0) host.engine.SetSlotMask(Table(data[2]));
    host.engine.SetMode(start);
    host.pending.assign(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::string text = Text(host.pending);

    // One event at a time; a countdown started by the message request runs out before the next one,
    // or after it.
    const bool countdownLate = (data[1] & 1) != 0;
    while (!host.pending.empty()) {
        const bool counting = host.countdown;
        host.interrupted = false;
        host.NextEvent();
        FUZZ_CHECK(host.engine.ReceivedText().size() <= BeaconEngine::kMaxReceivedText);
        if (host.countdown && (!countdownLate || counting)) host.RunCountdown();
    }
    if (host.countdown) host.RunCountdown();
    FUZZ_CHECK(static_cast<size_t>(host.answers) <= Questions(text));
    FUZZ_CHECK(host.engine.SlotMask().isEmpty() || host.engine.SlotMask().size() == BeaconEngine::kSlotCount);
    return 0;
}
