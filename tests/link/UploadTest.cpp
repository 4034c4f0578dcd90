// The upload of the memo: the ticker on the alert strip, the busy cursor, and a write error midway.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "support/BeaconRig.h"

namespace {

const QColor kWhite(255, 255, 255);

// The captions the ticker shows after each memo character: it grows to 51 characters, then slides.
QStringList TickerSteps(const QString& memo) {
    QStringList steps;
    for (qsizetype i = 1; i <= memo.size(); ++i)
        steps << (i <= 51 ? memo.left(i) : memo.mid(i - 51, 51));
    return steps;
}

// True when `seen` occurs in `all` in the same order (gaps allowed).
bool InOrder(const QStringList& seen, const QStringList& all) {
    qsizetype at = 0;
    for (const QString& caption : seen) {
        while (at < all.size() && all[at] != caption)
            ++at;
        if (at == all.size()) return false;
    }
    return true;
}

}  // namespace

// A 60-character memo to a beacon that echoes each stored character: every echo shows the ticker as it
// stands after that character, and the cursor as the upload set it.
TEST(BeaconUpload, TickerShowsTheLast51CharactersAndTheCursorIsBusy) {
    zbsim::BeaconOptions options;
    options.echo = true;
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    const QString memo = QStringLiteral("abcdefghijklmnopqrstuvwx0123456789abcdefghijklmnopqrstuvwx0Z");
    ASSERT_EQ(memo.size(), 60);
    form.SetMemoText(memo.toLatin1());

    bool uploading = false;
    QStringList captions;
    QList<Qt::CursorShape> cursors;
    rig.AroundUpload([&] { uploading = true; }, [&] { uploading = false; });
    rig.AroundEachDataEvent([&] {
        if (!uploading) return;
        if (captions.isEmpty() || captions.last() != form.TellCaption()) captions << form.TellCaption();
        const QCursor* cursor = QApplication::overrideCursor();
        cursors << (cursor ? cursor->shape() : Qt::ArrowCursor);
    });

    form.ProgramBeacon->click();
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitForSimState("Beaconing"));
    ASSERT_TRUE(rig.WaitFor(
        [&] { return !uploading && form.Engine->ReceivedText().endsWith("Beacon running\r\n"); }));
    ASSERT_EQ(rig.sim.StoredProgram(), memo.toStdString());

    // Every caption seen is one of the ticker's steps, in order; it grew one character at a time and
    // ended sliding on the memo's last 51 characters (the question after the "Z" comes during the
    // last pause, so the last step is always seen).
    const QStringList steps = TickerSteps(memo);
    EXPECT_TRUE(InOrder(captions, steps)) << captions.join("\n").toStdString();
    EXPECT_GE(captions.size(), 50);
    EXPECT_LT(captions.first().size(), 10);
    EXPECT_EQ(captions.last(), memo.right(51));
    for (Qt::CursorShape shape : cursors)
        EXPECT_EQ(shape, Qt::WaitCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form.TellCaption(), "");
}

// The beacon's question after the "Z" is answered inside the pause that follows it, which makes that
// pause last a second. The characters after it are still paced one pause apart, not sent in a burst
// to catch up.
TEST(BeaconUpload, PausesAfterAHandlerThatRanInsideOneKeepTheirLength) {
    BeaconRig rig;
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    form.SetMemoText("PSDvvZ abc");
    bool uploading = false;
    rig.AroundUpload([&] { uploading = true; }, [&] { uploading = false; });

    form.ProgramBeacon->click();
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitForSimState("Beaconing"));
    ASSERT_TRUE(rig.WaitFor([&] { return !uploading && rig.sim.Received().size() == 12; }));
    EXPECT_EQ(rig.sim.Received(), "yPSDvvZn abc");
    EXPECT_EQ(rig.sim.StoredProgram(), "PSDvvZ");

    const auto bytes = rig.ReceivedBytesWithTimes();
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_GE(bytes[7].second - bytes[6].second, 0.99);  // "Z" to "n": the answer's own pause
    // The three pauses after the nested handler are not cut short. The simulator stamps a byte when it
    // reads it, which a loaded machine can delay, so the span of all three is checked with room to spare
    // (a pace that tried to catch up would send them back to back); the pace itself is pinned on a clock.
    EXPECT_GE(bytes[11].second - bytes[8].second, 0.2);
}

// The port closes halfway through the upload: the next write fails, the upload ends there, the cursor
// and the strip are restored and the error is shown; nothing claims success.
TEST(BeaconUpload, WriteErrorEndsTheUploadAndIsShown) {
    BeaconRig rig;
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    ScriptedDialogs& dialogs = rig.harness.Dialogs;
    dialogs.AllowUnscriptedErrors = true;
    const QByteArray memo = "PSDabcdefghijklmnopqrstuvwxabcdefghijSQSZ";
    form.SetMemoText(memo);
    rig.AroundUpload([&] { QTimer::singleShot(350, &form, [&] { form.Com->Close(); }); }, {});

    form.ProgramBeacon->click();
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitFor([&] { return !dialogs.Errors.isEmpty(); }));

    ASSERT_EQ(dialogs.Errors.size(), 1);
    EXPECT_TRUE(dialogs.Errors[0].startsWith("Write error (6), ")) << dialogs.Errors[0].toStdString();
    EXPECT_FALSE(form.Com->IsOpen());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form.TellColor(), kWhite);
    EXPECT_EQ(form.TellCaption(), "");
    EXPECT_EQ(form.StatusText(), "");
    EXPECT_TRUE(
        form.Engine->ModeName().isEmpty());  // the operation is over: no later question gets an answer

    // Part of the message went out before the port closed; the beacon kept its old program.
    const std::string received = rig.sim.Received();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[0], 'y');
    EXPECT_LT(received.size() - 1, static_cast<size_t>(memo.size()));
    EXPECT_EQ(received.substr(1), memo.left(static_cast<qsizetype>(received.size() - 1)).toStdString());
    EXPECT_EQ(rig.sim.StoredProgram(), "PSDvvvSQSZ");
    EXPECT_EQ(rig.sim.State(), "Message");
}
