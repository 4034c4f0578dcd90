// The serial adapter pulled out in the middle of a dialogue: no crash, no hang, no busy processor, and
// once it is plugged in again and the port chosen anew, the next Read works.
#include <gtest/gtest.h>

#include <QActionGroup>
#include <QApplication>
#include <QMenu>
#include <atomic>
#include <memory>

#include "platform/Clock.h"

#include "support/BeaconRig.h"
#include "support/FakePortList.h"

namespace {

// Pulls the simulator's adapter (on its own thread) once `bytes` bytes have gone in `direction`.
void PullAfter(zbsim::BeaconSimulator& sim, zbsim::Direction direction, size_t bytes) {
    auto seen = std::make_shared<size_t>(0);
    auto pulled = std::make_shared<std::atomic<bool>>(false);
    sim.SetTranscriptSink([&sim, direction, bytes, seen, pulled](const zbsim::TranscriptEntry& entry) {
        if (entry.direction != direction || *pulled) return;
        *seen += entry.bytes.size();
        if (*seen < bytes) return;
        *pulled = true;
        sim.PullAdapter();
    });
}

// Processor time of the process while it sits in its event loop for about a second, as a share of
// one core. Whatever the port's watcher does after the loss must not keep a processor busy.
double IdleLoad() {
    const double cpu = ProcessCpuSeconds();
    const double start = static_cast<double>(Clock::MonotonicNs()) / 1e9;
    QTest::qWait(1000);
    const double wall = static_cast<double>(Clock::MonotonicNs()) / 1e9 - start;
    return (ProcessCpuSeconds() - cpu) / wall;
}

// Switches the beacon on for a Read and waits until it is answered.
testing::AssertionResult ReadAgain(BeaconRig& rig) {
    const size_t before = rig.sim.Received().size();
    rig.form->ReadBeacon->click();
    rig.sim.SwitchOn();
    if (!rig.WaitFor([&] {
            return rig.sim.Received().size() == before + 1 && rig.form->Engine->ModeName().isEmpty();
        }))
        return testing::AssertionFailure() << "the Read did not complete";
    if (rig.sim.Received().back() != 'n') return testing::AssertionFailure() << "the answer was not n";
    return testing::AssertionSuccess();
}

}  // namespace

// Pulled while the beacon is half-way through its question: the tool just waits. Choosing the port
// again from the menu after the replug opens the new device.
TEST(AdapterLoss, PulledWhileTheBeaconSpeaks) {
    zbsim::BeaconOptions options;
    options.charDelayUs = 20000;  // slow enough to pull in the middle of the question
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    rig.harness.Dialogs.AllowUnscriptedErrors = true;
    PullAfter(rig.sim, zbsim::Direction::ToTool, 20);

    form.ReadBeacon->click();
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitFor([&] { return rig.sim.DevicePath().empty(); }));
    rig.sim.SetTranscriptSink({});
    EXPECT_LT(IdleLoad(), 0.3);
    EXPECT_EQ(form.Engine->ModeName(), "Read");  // still waiting for the question
    EXPECT_EQ(rig.sim.Received(), "");

    std::string error;
    ASSERT_TRUE(rig.sim.ReplugAdapter(&error)) << error;
    Serial::SetPortMap({{1, rig.sim.DevicePath()}});
    form.COM1->trigger();
    ASSERT_TRUE(form.Com->IsOpen());
    EXPECT_EQ(form.Com->PortNum(), 1);
    EXPECT_TRUE(form.COM1->isChecked());

    ASSERT_TRUE(ReadAgain(rig));
    EXPECT_EQ(form.MemoText(), "PSDvvvSQSZ");
    EXPECT_EQ(form.Sequence->count(), 8);
    EXPECT_TRUE(rig.harness.Dialogs.Errors.isEmpty()) << rig.harness.Dialogs.Errors.join("\n").toStdString();
}

// Pulled during the upload: the next character cannot be written; the upload ends with the error shown
// and the cursor restored. Closing and reopening the port after the replug brings the link back.
TEST(AdapterLoss, PulledDuringTheUpload) {
    BeaconRig rig;
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    ScriptedDialogs& dialogs = rig.harness.Dialogs;
    dialogs.AllowUnscriptedErrors = true;
    form.SetMemoText("PSDabcdefghijklmnopqrstuvwxSQSZ");
    form.TakeMemoAsUnchanged();  // as if opened from a file
    bool uploading = false;
    rig.AroundUpload([&] { uploading = true; }, [&] { uploading = false; });
    PullAfter(rig.sim, zbsim::Direction::FromTool, 4);  // "y" and three characters of the message

    form.ProgramBeacon->click();
    rig.sim.SwitchOn();
    ASSERT_TRUE(rig.WaitFor([&] { return !dialogs.Errors.isEmpty() && !uploading; }));
    rig.sim.SetTranscriptSink({});
    EXPECT_EQ(dialogs.Errors.size(), 1);
    EXPECT_TRUE(dialogs.Errors[0].startsWith("Write error (")) << dialogs.Errors[0].toStdString();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(form.TellCaption(), "");
    EXPECT_LT(IdleLoad(), 0.3);
    EXPECT_EQ(dialogs.Errors.size(), 1);  // nothing more was reported while idle

    std::string error;
    ASSERT_TRUE(rig.sim.ReplugAdapter(&error)) << error;
    Serial::SetPortMap({{BeaconRig::kPort, rig.sim.DevicePath()}});
    form.Com->Close();
    form.Com->Open();
    ASSERT_TRUE(form.Com->IsOpen());

    ASSERT_TRUE(ReadAgain(rig));
    EXPECT_EQ(form.MemoText(), "PSDvvvSQSZ");  // the beacon kept its program
    EXPECT_EQ(dialogs.Errors.size(), 1);
}

// The adapter under its stable name, chosen from the list, is pulled: the port lets go of the device at
// once and stays chosen, the status line says so, and a start says that the device is not connected.
// Plugged in again under the same name, the port opens by itself, and a Read works with no menu action.
TEST(AdapterLoss, ReplugUnderTheStableNameReopensByItself) {
    FakePortList devices;
    zbsim::BeaconOptions options;
    options.linkPath = devices.StableName("usb-Zindle_Beacon_A10K3XYZ-if00-port0");
    const QString link = QString::fromStdString(options.linkPath);
    BeaconRig rig(options);
    ASSERT_TRUE(rig.Start());
    TForm1& form = *rig.form;
    devices.List = {
        {QString::fromStdString(rig.sim.DevicePath()), "Beacon UART", "Zindle", "A10K3XYZ", false, 0, 0}};
    emit form.CommPort1->aboutToShow();
    form.DevicePorts[0]->trigger();
    ASSERT_TRUE(form.Com->IsOpen());
    EXPECT_EQ(form.Com->PortNum(), BeaconRig::kPort);  // the number the device already had
    ASSERT_TRUE(ReadAgain(rig));

    rig.sim.PullAdapter();
    ASSERT_TRUE(rig.WaitFor([&] { return !form.Com->IsOpen(); }));
    EXPECT_EQ(form.StatusText(), "COM9 disconnected: " + link);
    EXPECT_EQ(form.Com->PortNum(), BeaconRig::kPort);
    EXPECT_EQ(form.CommPortGroup->checkedAction(), form.DevicePorts[0]);
    form.ReadBeacon->click();
    EXPECT_EQ(form.TellCaption(), "COM9 not connected: " + link);
    EXPECT_EQ(form.Engine->Mode(), LinkMode::Idle);
    devices.List.clear();
    emit form.CommPort1->aboutToShow();
    EXPECT_EQ(form.CommPortGroup->checkedAction()->text(), link + " - not connected");
    EXPECT_LT(IdleLoad(), 0.3);

    std::string error;
    ASSERT_TRUE(rig.sim.ReplugAdapter(&error)) << error;
    ASSERT_TRUE(rig.WaitFor([&] { return form.Com->IsOpen(); }));
    EXPECT_EQ(form.StatusText(), "COM9 reconnected: " + link);
    ASSERT_TRUE(ReadAgain(rig));
    EXPECT_TRUE(rig.harness.Dialogs.Errors.isEmpty()) << rig.harness.Dialogs.Errors.join("\n").toStdString();
}
