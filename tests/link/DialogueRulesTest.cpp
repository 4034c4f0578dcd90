// Rules of the dialogue that cut across the three operations: prompts that arrive in pieces, the
// message request outside Program, and start buttons pressed while the countdown runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <thread>

#include <unistd.h>

#include "platform/serial/Serial.h"
#include "support/BeaconRig.h"
#include "support/PtyPair.h"

// Every question of a full synchronized Program arrives in pieces of four bytes: each is answered
// exactly once, in the event that completes it. The slot at second 0 of odd minutes is offset 60.
TEST(BeaconDialogue, PromptsSplitOverSeveralChunksAreAnsweredOnce) {
    zbsim::BeaconOptions options;
    options.synchronized = true;
    options.slotTable = "100000000000000000000000";
    options.chunkSize = 4;
    options.chunkGapMs = 15;
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    form.Synchronized->trigger();
    form.SetMemoText("BKvvvUZ");
    int events = 0;
    rig.AroundEachDataEvent([&] { ++events; });

    form.ProgramBeacon->click();
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitForSimState("Beaconing"));
    ASSERT_TRUE(rig.WaitFor([&] { return form.Engine->ReceivedText().endsWith("Beacon running\r\n"); }));

    EXPECT_EQ(rig.sim.Received(), "yBKvvvUZnys60\rn");
    EXPECT_EQ(rig.sim.Slots(), "100000000000100000000000");
    EXPECT_EQ(rig.sim.AnswerLog().size(), 7u);
    EXPECT_EQ(form.TellCaption(), "Set Slot 60");
    EXPECT_EQ(form.Engine->ModeName(), "");
    EXPECT_GT(events, 40);  // the text really came in many pieces
}

// The request for the message ("by Z.", "then Z") starts the countdown only in Program: a beacon whose
// command string holds both texts is read, seen idle and verified without any upload.
TEST(BeaconDialogue, MessageRequestOutsideProgramStartsNothing) {
    zbsim::BeaconOptions options;
    options.program = "vv by Z. then Z";
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    int countdowns = 0;
    rig.AroundEachDataEvent({}, [&] { countdowns += form.SendX->Enabled(); });
    const auto switchOnAndWait = [&] {
        rig.sim.SwitchOn();
        return rig.WaitFor([&] { return form.Engine->ReceivedText().endsWith("Beacon running\r\n"); });
    };

    form.ReadBeacon->click();
    ASSERT_TRUE(switchOnAndWait());
    EXPECT_EQ(form.MemoText(), "vv by Z. then Z");
    EXPECT_EQ(form.Engine->ModeName(), "");

    // Idle: the whole conversation only accumulates.
    form.Engine->SetReceivedText({});
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitFor([&] { return form.Engine->ReceivedText().endsWith("Change program? y/n\r\n"); }));
    EXPECT_EQ(form.Engine->ReceivedText(), "vv by Z. then Z\r\nChange program? y/n\r\n");

    form.Button1->click();
    ASSERT_TRUE(switchOnAndWait());
    EXPECT_EQ(form.TellCaption(), "Beacon Sequence OK");
    EXPECT_EQ(form.Engine->ModeName(), "VerifyGPS");

    EXPECT_EQ(countdowns, 0);
    EXPECT_FALSE(form.SendX->Enabled());
    EXPECT_EQ(rig.sim.Received(), "nn");  // one answer for the Read, one for the Verify
}

// Read or Verify pressed while the countdown runs: the countdown is stopped with the operation that
// started it, nothing is sent and the new operation keeps its state.
TEST(BeaconDialogue, StartButtonDuringTheCountdownCancelsTheUpload) {
    BeaconRig rig;
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    QPushButton* press = nullptr;
    bool pressed = false;
    int uploads = 0;
    rig.AroundEachDataEvent({}, [&] {
        if (pressed || !form.SendX->Enabled()) return;
        pressed = true;
        QTimer::singleShot(200, press, [&] { press->click(); });
    });
    rig.AroundUpload({}, [&] { ++uploads; });

    for (QPushButton* button : {form.Button1, form.ReadBeacon}) {
        SCOPED_TRACE(button->text().toStdString());
        form.SetMemoText("PSDvvvSQSZ");
        press = button;
        pressed = false;
        form.ProgramBeacon->click();
        rig.sim.SwitchOn();
        ASSERT_TRUE(rig.WaitFor([&] { return pressed && form.Engine->ModeName() != "Program"; }));
        EXPECT_FALSE(form.SendX->Enabled());  // a stopped countdown raises no stop event
        EXPECT_EQ(uploads, 0);
        EXPECT_EQ(form.Engine->ModeName(), button == form.Button1 ? "Verify" : "Read");
        EXPECT_EQ(form.Engine->ReceivedText(), "");
        EXPECT_EQ(form.TellCaption(), "Check jumper. Turn beacon off and then on.");
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(rig.sim.State(), "Message");  // still waiting for a message
    }
    EXPECT_EQ(rig.sim.Received(), "yy");
    EXPECT_EQ(rig.sim.StoredProgram(), "PSDvvvSQSZ");
}

// A line that never stops talking while the tool is idle: only the newest text is kept, so each data
// event stays as cheap as the first, and the next Read works as usual.
TEST(BeaconDialogue, TextFromALineThatNeverStopsIsBounded) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    FormHarness harness;
    TForm1& form = harness.Start();
    Serial::SetPortMap({{BeaconRig::kPort, pty.SlavePath()}});
    form.Com->SetPortNum(BeaconRig::kPort);
    form.Com->Open();

    // 256 KiB in pieces that each fit the port's input queue, each one consumed before the next.
    std::string all;
    for (int piece = 0; piece < 256; ++piece) {
        std::string noise;
        for (int i = 0; i < 1000; ++i)
            noise += i % 97 == 0 ? '\n' : static_cast<char>(0x80 + (i * 31 + piece) % 0x80);
        noise += "#" + std::to_string(piece) + "#";
        ASSERT_TRUE(pty.Write(noise));
        all += noise;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return form.Engine->ReceivedText().endsWith(noise.c_str() + noise.size() - 8); },
            BeaconRig::kTimeoutMs));
    }
    EXPECT_LT(form.Engine->ReceivedText().size(), 16 * 1024);
    EXPECT_GT(form.Engine->ReceivedText().size(), 1000);
    EXPECT_TRUE(all.ends_with(form.Engine->ReceivedText().toStdString()));

    form.ReadBeacon->click();
    ASSERT_TRUE(pty.Write("PSDvvvSQSZ\r\nChange program? y/n\r\n"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Engine->ModeName().isEmpty(); }, BeaconRig::kTimeoutMs));
    EXPECT_EQ(pty.Read(1), "n");
    EXPECT_EQ(form.MemoText(), "PSDvvvSQSZ");
    Serial::SetPortMap({});
}

// A beacon that asks for the message with "... then Z" instead of "by Z." is served the same way. The
// beacon's side is played by hand on a plain pseudo-terminal.
TEST(BeaconDialogue, MessageRequestEndingThenZAlsoStartsTheUpload) {
    FormHarness harness;
    TForm1& form = harness.Start();
    PtyPair pty;
    Serial::SetPortMap({{8, pty.SlavePath()}});
    form.Com->SetPortNum(8);
    form.Com->Open();
    form.SetMemoText("KZ");
    std::string sent;
    const auto receives = [&](const std::string& expected) {
        return QTest::qWaitFor(
            [&] {
                char c;
                if (::read(pty.Master(), &c, 1) == 1) sent += c;
                return sent == expected;
            },
            BeaconRig::kTimeoutMs);
    };

    form.ProgramBeacon->click();
    ASSERT_TRUE(pty.Write("PSDZ\r\nChange program? y/n\r\n"));
    ASSERT_TRUE(receives("y"));
    ASSERT_TRUE(pty.Write("Send the new program, then Z\r\n"));
    ASSERT_TRUE(receives("yKZ"));
    EXPECT_EQ(form.Engine->ModeName(), "ProgramGPS");
    Serial::SetPortMap({});
}

// A start button pressed while an answer waits for its pause to end takes over cleanly: the old rule
// sends nothing more and shows nothing, and the new operation answers the beacon's next conversation.
TEST(BeaconDialogue, StartButtonDuringAnAnswerPauseTakesOverCleanly) {
    const auto runToTheEnd = [](BeaconRig& rig) {
        rig.sim.SwitchOn();
        return rig.WaitForSimState("Beaconing") &&
               rig.WaitFor([&] { return rig.form->Engine->ReceivedText().endsWith("Beacon running\r\n"); });
    };
    {
        SCOPED_TRACE("Verify pressed while a Read waits to answer");
        BeaconRig rig;
        ASSERT_TRUE(rig.Start());
        TForm1& form = *rig.form;
        QStringList captions;
        rig.DuringNextPause([&] { return form.Engine->ModeName() == "Read"; },
                            [&] { form.Button1->click(); });
        rig.AroundEachDataEvent({}, [&] { captions << form.TellCaption(); });
        form.ReadBeacon->click();
        rig.sim.SwitchOn();
        ASSERT_TRUE(rig.WaitFor([&] { return rig.PausePressed() && form.Engine->ModeName() == "Verify"; }));
        ASSERT_TRUE(rig.WaitFor([&] { return !captions.isEmpty() && captions.last().startsWith("Check"); }));
        EXPECT_FALSE(captions.contains("Sequence Verify Failed"));
        EXPECT_EQ(form.TellCaption(), "Check jumper. Turn beacon off and then on.");
        EXPECT_EQ(form.MemoText(), "PSDvvvSQSZ");  // what the Read took in before it was interrupted
        ASSERT_TRUE(runToTheEnd(rig));
        EXPECT_EQ(form.TellCaption(), "Beacon Sequence OK");
        EXPECT_EQ(rig.sim.Received(), "n");  // the Verify's answer only
        EXPECT_EQ(rig.sim.AnswerLog().size(), 1u);
    }
    {
        SCOPED_TRACE("Program pressed while a Read waits to answer");
        BeaconRig rig;
        ASSERT_TRUE(rig.Start());
        TForm1& form = *rig.form;
        rig.DuringNextPause([&] { return form.Engine->ModeName() == "Read"; },
                            [&] {
                                form.SetMemoText("BKvvZ");
                                form.ProgramBeacon->click();
                            });
        form.ReadBeacon->click();
        rig.sim.SwitchOn();
        ASSERT_TRUE(rig.WaitFor([&] { return rig.PausePressed(); }));
        ASSERT_TRUE(runToTheEnd(rig));
        EXPECT_EQ(rig.sim.Received(), "yBKvvZn");
        EXPECT_EQ(rig.sim.StoredProgram(), "BKvvZ");
    }
    {
        SCOPED_TRACE("port \"none\" chosen while a Program waits to answer");
        BeaconRig rig;
        ASSERT_TRUE(rig.Start());
        TForm1& form = *rig.form;
        rig.harness.Dialogs.AllowUnscriptedErrors = true;
        rig.DuringNextPause([&] { return form.Engine->ModeName() == "Program"; },
                            [&] { form.Com0->trigger(); });
        bool pausedEventOver = false;  // the event whose pause saw the choice has returned
        rig.AroundEachDataEvent({}, [&] { pausedEventOver = pausedEventOver || rig.PausePressed(); });
        form.SetMemoText("BKvvZ");
        form.ProgramBeacon->click();
        rig.sim.SwitchOn();
        ASSERT_TRUE(rig.WaitFor([&] { return pausedEventOver; }));
        EXPECT_EQ(form.Engine->ModeName(), "");
        EXPECT_FALSE(form.SendX->Enabled());
        EXPECT_TRUE(rig.harness.Dialogs.Errors.isEmpty())
            << rig.harness.Dialogs.Errors.join("\n").toStdString();
        EXPECT_EQ(rig.sim.Received(), "");
    }
    {
        SCOPED_TRACE("Read pressed during the pause of the GPS read");
        zbsim::BeaconOptions options;
        options.synchronized = true;
        options.slotTable = "001000000000000000000001";
        BeaconRig rig(options);
        ASSERT_TRUE(rig.Start());
        TForm1& form = *rig.form;
        form.Synchronized->trigger();
        int reads = 0;
        rig.DuringNextPause([&] { return form.Engine->ModeName() == "ReadGPS"; },
                            [&] {
                                ++reads;
                                form.ReadBeacon->click();
                            });
        form.ReadBeacon->click();
        rig.sim.SwitchOn();
        ASSERT_TRUE(rig.WaitFor([&] { return rig.PausePressed() && form.Engine->ModeName() == "Read"; }));
        ASSERT_TRUE(runToTheEnd(rig));
        EXPECT_EQ(reads, 1);
        EXPECT_EQ(rig.sim.Received(), "nnn");  // first Read's no, the second Read's two
        EXPECT_EQ(form.Engine->ModeName(), "");
        EXPECT_EQ(form.MemoText(), "PSDvvvSQSZ");
        EXPECT_EQ(form.Engine->SlotMask(), "001000000000000000000001");
        EXPECT_TRUE(form.GPSSlots[2]->isChecked());
        EXPECT_TRUE(form.GPSSlots[23]->isChecked());
        EXPECT_FALSE(form.GPSSlots[0]->isChecked());
        ASSERT_GT(form.Sequence->count(), 0);
        EXPECT_EQ(form.Sequence->item(form.Sequence->count() - 1)->text(),
                  "GPS Menu set to programmed beacon slots");
    }
}
