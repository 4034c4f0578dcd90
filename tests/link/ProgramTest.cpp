// Programming a beacon end to end: the answers, the upload of the memo and the slot exchange.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>

#include "platform/Clock.h"
#include "support/BeaconRig.h"

namespace {

constexpr double kUnit = 0.9936;  // one paced unit, in seconds
constexpr double kSlack = 0.02;   // time stamps taken by threads that the machine may hold up
constexpr double kPause = 0.1 * kUnit;
// Questions recognised by a fragment that ends before the question does ("sg? y/n", "s/c", "sec?"): the
// pause starts a few characters before the simulator's end of the question.
constexpr double kEarly = 0.05;
constexpr double kLoose = 2.5;  // upper bound on any single wait on a busy, sanitized machine
const QColor kWhite(255, 255, 255);
const QColor kGreen(0, 128, 0);

using zbsim::Prompt;

std::vector<Prompt> Prompts(const std::vector<zbsim::AnswerDelay>& answers) {
    std::vector<Prompt> prompts;
    for (const zbsim::AnswerDelay& answer : answers)
        prompts.push_back(answer.prompt);
    return prompts;
}

// The answer delay of every question of one kind lies within [units, kLoose) seconds.
void ExpectDelays(const std::vector<zbsim::AnswerDelay>& answers, Prompt prompt, double seconds) {
    for (const zbsim::AnswerDelay& answer : answers) {
        if (answer.prompt != prompt) continue;
        EXPECT_GE(answer.seconds, seconds - kSlack) << zbsim::PromptName(prompt);
        EXPECT_LT(answer.seconds, kLoose) << zbsim::PromptName(prompt);
    }
}

// Runs a Program operation to its end: the beacon beacons and the tool has handled its last text.
testing::AssertionResult ProgramToTheEnd(BeaconRig& rig) {
    rig.form->ProgramBeacon->click();
    rig.sim.SwitchOn();
    if (!rig.WaitForSimState("Beaconing")) return testing::AssertionFailure() << "the beacon never ran";
    if (!rig.WaitFor([&] { return rig.form->Engine->ReceivedText().endsWith("Beacon running\r\n"); }))
        return testing::AssertionFailure() << "the tool never saw the beacon run";
    return testing::AssertionSuccess();
}

}  // namespace

// A normal beacon stores exactly the memo's characters of code 32 and above; each memo character,
// line breaks included, costs one pause; the question after the message is answered no.
TEST(BeaconProgram, NormalBeaconStoresTheMemoWithoutLineBreaks) {
    zbsim::BeaconOptions options;
    options.program = "KZ";
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    const QByteArray memo =
        "PSDa\xE9"
        "b\r\nvvSQSZ";
    const std::string message =
        "PSDa\xE9"
        "bvvSQSZ";
    form.SetMemoText(memo);
    form.TakeMemoAsUnchanged();  // as if opened from a file

    QString captionAtUpload, statusAtUpload;
    QColor colourAtUpload;
    bool uploading = false;
    QList<Qt::CursorShape> cursorsDuringUpload;
    rig.AroundUpload(
        [&] {
            captionAtUpload = form.TellCaption();
            statusAtUpload = form.StatusText();
            colourAtUpload = form.TellColor();
            uploading = true;
        },
        [&] { uploading = false; });
    rig.AroundEachDataEvent([&] {
        if (!uploading) return;
        const QCursor* cursor = QApplication::overrideCursor();
        cursorsDuringUpload << (cursor ? cursor->shape() : Qt::ArrowCursor);
    });

    ASSERT_TRUE(ProgramToTheEnd(rig));
    EXPECT_EQ(rig.sim.StoredProgram(), message);
    EXPECT_EQ(rig.sim.Received(), "y" + message + "n");
    EXPECT_EQ(form.MemoText(), memo);
    EXPECT_FALSE(form.Modified);

    // Answering y to the first question gave the strip its progress look before the countdown ran out.
    EXPECT_EQ(captionAtUpload, "Programming Beacon");
    EXPECT_EQ(statusAtUpload, "Programming Beacon");
    EXPECT_EQ(colourAtUpload, kGreen);
    // The beacon's question after the message came during the upload's last pause: hourglass.
    EXPECT_FALSE(cursorsDuringUpload.isEmpty());
    for (Qt::CursorShape shape : cursorsDuringUpload)
        EXPECT_EQ(shape, Qt::WaitCursor);
    // After the upload: default cursor, white strip without caption (its text stays white), and the
    // status line says what was sent.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form.TellColor(), kWhite);
    EXPECT_EQ(form.TellFontColor(), kWhite);
    EXPECT_EQ(form.TellCaption(), "");
    // The status line also names the copy of the beacon's previous program, kept beside the settings.
    const QStringList kept = QDir(rig.harness.PathOf(QStringLiteral("backups"))).entryList({"*.txt"});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(form.StatusText(), QStringLiteral("Beacon programmed: %1 characters. Previous program kept: %2")
                                     .arg(message.size())
                                     .arg(kept.first()));
    QFile backup(QDir(rig.harness.PathOf(QStringLiteral("backups"))).filePath(kept.first()));
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    EXPECT_EQ(backup.readAll(), "KZ");
    EXPECT_EQ(form.Engine->ModeName(), "ProgramGPS");

    const std::vector<zbsim::AnswerDelay> answers = rig.sim.AnswerLog();
    EXPECT_EQ(Prompts(answers),
              std::vector<Prompt>({Prompt::ChangeProgram, Prompt::EnterProgram, Prompt::ChangeMessage}));
    ExpectDelays(answers, Prompt::ChangeProgram, kUnit);
    ExpectDelays(answers, Prompt::EnterProgram, 1.0);  // the one-second countdown
    ExpectDelays(answers, Prompt::ChangeMessage, kUnit - kEarly);

    // Pacing: one pause after each of the 14 memo characters; the CR and LF between "b" and "v" add two
    // pauses although they are not sent.
    const auto bytes = rig.ReceivedBytesWithTimes();
    ASSERT_EQ(bytes.size(), message.size() + 2);
    // The simulator stamps a byte when it reads it, which a loaded machine can delay, so single gaps have
    // only an upper bound; the pace itself is pinned on a clock, and the whole upload's span is checked.
    for (size_t i = 2; i <= message.size(); ++i) {
        const double gap = bytes[i].second - bytes[i - 1].second;
        const int pauses = bytes[i - 1].first == 'b' ? 3 : 1;
        EXPECT_LT(gap, pauses * kPause + 1.0) << "before character " << i - 1;
    }
    EXPECT_GE(bytes[message.size()].second - bytes[1].second, 13 * kPause - kSlack);
}

// The menu wants slot 6 (second 30 of even minutes) that the beacon lacks, and the beacon has slot 3
// (second 15) that the menu does not want: the lower slot goes first, one slot per exchange.
TEST(BeaconProgram, SynchronizedBeaconChangesOneSlotPerExchangeLowestFirst) {
    zbsim::BeaconOptions options;
    options.synchronized = true;
    options.slotTable = "100100000000100000000000";
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    form.Synchronized->trigger();
    form.GPSSlots[6]->trigger();
    form.SetMemoText("BKvvvUZ");

    QStringList captions;
    rig.AroundEachDataEvent([&] {
        if (captions.isEmpty() || captions.last() != form.TellCaption()) captions << form.TellCaption();
    });

    ASSERT_TRUE(ProgramToTheEnd(rig));
    EXPECT_EQ(rig.sim.Received(), "yBKvvvUZnyc15\rys30\rn");
    EXPECT_EQ(rig.sim.Slots(), "100000100000100000000000");
    EXPECT_EQ(rig.sim.StoredProgram(), "BKvvvUZ");
    EXPECT_EQ(form.Engine->ModeName(), "");
    EXPECT_TRUE(form.Engine->ReceivedText().startsWith("GPS Verified"));
    EXPECT_EQ(form.Engine->SlotSeconds(), 30);
    EXPECT_EQ(form.Engine->SlotMask(), "100000100000100000000000");
    // The strip keeps the last slot message, in the progress look.
    EXPECT_EQ(form.TellCaption(), "Set Slot 30");
    EXPECT_EQ(form.TellColor(), kGreen);
    EXPECT_EQ(form.TellFontColor(), kWhite);
    const qsizetype clear = captions.indexOf("Clear Slot 15");
    ASSERT_GE(clear, 0) << captions.join(" | ").toStdString();
    EXPECT_GT(captions.indexOf("Set Slot 30"), clear);

    const std::vector<zbsim::AnswerDelay> answers = rig.sim.AnswerLog();
    EXPECT_EQ(
        Prompts(answers),
        std::vector<Prompt>({Prompt::ChangeProgram, Prompt::EnterProgram, Prompt::ChangeMessage,
                             Prompt::ChangeSlots, Prompt::SetOrClear, Prompt::SlotTime, Prompt::ChangeSlots,
                             Prompt::SetOrClear, Prompt::SlotTime, Prompt::ChangeSlots}));
    ExpectDelays(answers, Prompt::ChangeSlots, kUnit);
    ExpectDelays(answers, Prompt::SetOrClear, 0.5 * kUnit - kEarly);
    ExpectDelays(answers, Prompt::SlotTime,
                 0.5 * kUnit - kEarly);  // 0.4 before the time, 0.1 before its first digit

    // The digits of the time and its CR each follow a pause of 0.1 unit.
    const auto bytes = rig.ReceivedBytesWithTimes();
    std::string sent;
    for (const auto& [c, t] : bytes)
        sent += c;
    const size_t time = sent.find("15\r");
    ASSERT_NE(time, std::string::npos);
    for (size_t i = time + 1; i < time + 3; ++i)
        EXPECT_GE(bytes[i].second - bytes[i - 1].second, kPause - kSlack);
}

// Menu and beacon agree from the start: "GPS Verified" and no. The option, not ticked before, is
// ticked by the slot listing.
TEST(BeaconProgram, SynchronizedBeaconWithAgreeingSlotsIsDoneAtOnce) {
    zbsim::BeaconOptions options;
    options.synchronized = true;
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    form.SetMemoText("BKvvvUZ");
    ASSERT_FALSE(form.Synchronized->isChecked());

    ASSERT_TRUE(ProgramToTheEnd(rig));
    EXPECT_EQ(rig.sim.Received(), "yBKvvvUZnn");
    EXPECT_EQ(rig.sim.Slots(), "100000000000100000000000");
    EXPECT_EQ(form.Engine->ModeName(), "");
    EXPECT_EQ(form.Engine->ReceivedText(), "GPS VerifiedBeacon running\r\n");
    EXPECT_TRUE(form.Synchronized->isChecked());
    // The strip stays as the upload left it.
    EXPECT_EQ(form.TellCaption(), "");
    EXPECT_EQ(form.TellColor(), kWhite);
    const std::vector<zbsim::AnswerDelay> answers = rig.sim.AnswerLog();
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers.back().prompt, Prompt::ChangeSlots);
    ExpectDelays(answers, Prompt::ChangeSlots, kUnit);
}

// After a normal beacon was programmed, switching it on again with the jumper still set is no business of
// the finished operation: its first question goes unanswered (even with the GPS menu differing from the
// last slot table), and the next Read answers it as usual.
TEST(BeaconProgram, NormalBeaconSwitchedOnAgainAfterProgramIsLeftAlone) {
    zbsim::BeaconOptions options;
    options.program = "KZ";
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    form.GPSSlots[0]->setChecked(!form.GPSSlots[0]->isChecked());  // the slots would not match
    form.SetMemoText("BKvvZ");
    form.TakeMemoAsUnchanged();  // as if opened from a file
    bool questionHandled = false;
    rig.AroundEachDataEvent({}, [&] {
        questionHandled = questionHandled || form.Engine->ReceivedText().contains("Change program? y/n\r\n");
    });

    ASSERT_TRUE(ProgramToTheEnd(rig));
    EXPECT_EQ(form.Engine->ModeName(), "ProgramGPS");
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitFor([&] { return questionHandled; }));
    EXPECT_EQ(form.Engine->ModeName(), "");
    EXPECT_EQ(form.TellCaption(), "");

    form.ReadBeacon->click();
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitForSimState("Beaconing"));
    ASSERT_TRUE(rig.WaitFor([&] { return form.Engine->ModeName().isEmpty() && form.MemoText() == "BKvvZ"; }));
    EXPECT_EQ(rig.sim.Received(), "yBKvvZnn");
    EXPECT_EQ(Prompts(rig.sim.AnswerLog()),
              std::vector<Prompt>({Prompt::ChangeProgram, Prompt::EnterProgram, Prompt::ChangeMessage,
                                   Prompt::ChangeProgram}));
}

// A backups folder that cannot be made (a file stands where it belongs): the Program stops at the
// beacon's first question with nothing sent, the strip red with the reason, and the beacon keeps its
// program.
TEST(BeaconProgram, ProgramThatCannotKeepTheOldOneSendsNothing) {
    zbsim::BeaconOptions options;
    options.program = "KZ";
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    const QString folder = rig.harness.PathOf(QStringLiteral("backups"));
    QFile inTheWay(folder);
    ASSERT_TRUE(inTheWay.open(QIODevice::WriteOnly));
    inTheWay.close();
    form.SetMemoText("NEW Z");
    form.ProgramBeacon->click();
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitFor([&] { return form.TellCaption().startsWith("Cannot keep"); }));
    EXPECT_EQ(form.TellCaption(), "Cannot keep the beacon's program: " + folder + ": Not a directory");
    EXPECT_EQ(form.TellColor(), QColor(255, 0, 0));
    EXPECT_EQ(form.Engine->Mode(), LinkMode::Idle);
    // The operation ended before the pause that precedes an answer: nothing can follow.
    EXPECT_EQ(rig.sim.Received(), "");
    EXPECT_EQ(rig.sim.StoredProgram(), "KZ");
}
