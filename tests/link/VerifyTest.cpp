// Verifying a beacon end to end: the memo's command string searched in what the beacon prints, and
// the slot comparison of a synchronized beacon.
#include <gtest/gtest.h>

#include "app/Unit2.h"
#include "support/BeaconRig.h"

namespace {

const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);

// One Verify against the beacon, switched on afresh; returns once the tool has handled the beacon's
// last text ("Beacon running").
testing::AssertionResult VerifyOnce(BeaconRig& rig) {
    rig.form->Button1->click();
    if (rig.form->Engine->ModeName() != "Verify")
        return testing::AssertionFailure() << "Verify did not start";
    if (rig.form->StatusText() != "Ready to read beacon")
        return testing::AssertionFailure() << "status: " << rig.form->StatusText().toStdString();
    rig.sim.SwitchOn();
    if (!rig.WaitFor([&] { return rig.form->Engine->ReceivedText().endsWith("Beacon running\r\n"); }))
        return testing::AssertionFailure() << "the beacon never ran";
    return testing::AssertionSuccess();
}

}  // namespace

// A normal beacon holding "PSDvvvSQSZ": the memo's lines joined without their breaks must occur in the
// beacon's text; nothing is appended to the result and the mode stays "VerifyGPS".
TEST(BeaconVerify, NormalBeaconComparesTheMemoWithoutLineBreaks) {
    BeaconRig rig;
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;

    struct Case {
        QByteArray memo;
        bool ok;
        QString where;  // the status line after a failed verify
    };
    const Case cases[] = {
        {"PSDvv\r\n\r\nvSQSZ", true, {}},  // two lines and an empty one between them
        {"vvvSQ", true, {}},               // any contiguous part of the text
        // One character differs; the status line says where, counted without the line breaks.
        {"PSDvv\r\nwSQSZ", false, "Differs at character 6: beacon 'vvv', file 'vvw'"},
        // The comparison is case-sensitive.
        {"psdvvvsqsz", false, "Differs at character 1: beacon 'P', file 'p'"},
        {"", false, "Differs at character 1: beacon 'P', file ''"},  // an empty memo never matches
    };
    size_t answers = 0;
    form.DebugWindowClick(nullptr);  // open
    for (const Case& c : cases) {
        SCOPED_TRACE(c.memo.toStdString());
        form.SetMemoText(c.memo);
        ASSERT_TRUE(VerifyOnce(rig));
        answers += 1;
        EXPECT_EQ(rig.sim.Received(), std::string(answers, 'n'));
        if (c.ok) {
            EXPECT_EQ(form.TellCaption(), "Beacon Sequence OK");
            EXPECT_EQ(form.TellColor(), kGreen);
        } else {
            EXPECT_EQ(form.TellCaption(), "Sequence Verify Failed");
            EXPECT_EQ(form.TellColor(), kRed);
            EXPECT_EQ(form.StatusText(), c.where);
            // The debug window shows it above the beacon's text.
            EXPECT_TRUE(form.Debug->Memo->toPlainText().startsWith(c.where + "\n"))
                << form.Debug->Memo->toPlainText().toStdString();
        }
        EXPECT_EQ(form.TellFontColor(), kWhite);
        EXPECT_EQ(form.Engine->ModeName(), "VerifyGPS");
        // Verify leaves the memo alone, except that data events drop its empty lines.
        EXPECT_EQ(form.MemoText(), QByteArray(c.memo).replace("\r\n\r\n", "\r\n"));
    }
}

// A synchronized beacon: the slot comparison is appended to the sequence result, whose colour stays.
TEST(BeaconVerify, SynchronizedBeaconAppendsTheSlotComparison) {
    zbsim::BeaconOptions options;
    options.synchronized = true;
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;

    form.SetMemoText("PSDvvvSQSZ");
    ASSERT_TRUE(VerifyOnce(rig));
    EXPECT_EQ(form.TellCaption(), "Beacon Sequence OK - GPS Verified");
    EXPECT_EQ(form.TellColor(), kGreen);
    EXPECT_EQ(form.Engine->ModeName(), "");
    EXPECT_TRUE(form.Synchronized->isChecked());  // ticked by the slot listing

    form.GPSSlots[6]->trigger();
    ASSERT_TRUE(VerifyOnce(rig));
    EXPECT_EQ(form.TellCaption(), "Beacon Sequence OK - GPS Slot Error");
    EXPECT_EQ(form.TellColor(), kGreen);

    form.SetMemoText("PSDvvvSQSX");
    ASSERT_TRUE(VerifyOnce(rig));
    EXPECT_EQ(form.TellCaption(), "Sequence Verify Failed - GPS Slot Error");
    EXPECT_EQ(form.TellColor(), kRed);
    EXPECT_EQ(form.TellFontColor(), kWhite);

    // Two answers per Verify, and the beacon's table was never touched.
    EXPECT_EQ(rig.sim.Received(), "nnnnnn");
    EXPECT_EQ(rig.sim.Slots(), "100000000000100000000000");
    EXPECT_EQ(form.MemoText(), "PSDvvvSQSX");
}
