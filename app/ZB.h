#pragma once
// Main window of the program (TForm1, one instance) and the program state it owns.
//
// All of the window's handlers are defined in app/, one file per subsystem they serve: creation,
// showing and closing (ZB, Startup), files (Files), the debug window, help and about (Shell), the
// listing and the Insert menu (Decoder, SequenceView), synchronized mode (SyncMode), the GPS slots
// (Slots), port choice (PortSelect) and the beacon dialogue's window side (Dialogue). The rules live
// below: the decoder and the command vocabulary (command/) and the beacon dialogue (link/BeaconEngine,
// wired by link/BeaconLine) know nothing of the window; the window shows what the decoder returns and
// serves the engine as its IBeaconView.

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <memory>
#include <optional>

#include "app/AlertStrip.h"
#include "app/Dialogs.h"
#include "app/SequenceView.h"
#include "link/Backups.h"
#include "link/BeaconEngine.h"
#include "link/BeaconLine.h"
#include "platform/Folders.h"

class QAction;
class QActionGroup;
class QGroupBox;
class QLabel;
class QMenu;
class QMimeData;
class QInputMethodEvent;
class QPainter;
class QPushButton;
class QStatusBar;
class QTimer;
class TDebug;
class THelpWindow;
class TVaComm;
class TSuperTimer;
class TObject;

// The command memo: a multi-line edit that holds single-byte (ISO-8859-1) text only. Characters without
// a single-byte form are refused where they enter (typing, input methods, paste, drop).
class TCommandMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;
    static bool IsSingleByte(const QString& text);

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
};

// What the listing's drawing routine draws with: the row's prepared font, fill and text colour.
struct TCanvas {
    QPainter* Painter = nullptr;
    QFont Font;
    QColor Brush;      // fill colour; the drawing rules may replace it
    QColor FontColor;  // text colour; never changed by the drawing rules
};

class TForm1 : public QMainWindow, public IBeaconView {
    Q_OBJECT
public:
    // `folders` say where the settings file, default.txt and the help page are (platform/Folders.h).
    TForm1(const TProgramFolders& folders, IDialogs& dialogs, QWidget* parent = nullptr);
    // A portable program: everything lives in `programDir`.
    TForm1(const QString& programDir, IDialogs& dialogs, QWidget* parent = nullptr);
    ~TForm1() override;

    // Creation steps, run once after the window's controls exist. An error is shown in the error box
    // and skips the remaining steps.
    void Create();
    // Connects the debug window (created after the main window).
    void SetDebugWindow(TDebug* debug);

    // ---- Program state -------------------------------------------------------------------------------
    // The beacon dialogue with its received text, state and slot table.
    BeaconEngine* Engine = nullptr;  // owned by Line
    QString CommandFileName;         // full path of the current command file
    int32_t MaxChar = 0;             // length above which the length alarm shows
    bool Modified = false;           // the memo's text differs from what was last loaded or saved

    // ---- Components ----------------------------------------------------------------------------------
    QStatusBar* StatusBar1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    TCommandMemo* ZBCommand = nullptr;
    QPushButton* ReadBeacon = nullptr;
    QPushButton* ProgramBeacon = nullptr;
    QPushButton* Button1 = nullptr;
    AlertStrip* Tell = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    SequenceList* Sequence = nullptr;
    QLabel* CapitalsHint = nullptr;  // in the status bar, shown while the memo holds a callsign in capitals

    QMenu* File1 = nullptr;
    QAction* new1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* OpenBackup1 = nullptr;  // "Open Backup ...": a kept previous program of the beacon
    QAction* Save1 = nullptr;
    QAction* SaveAs1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Quit1 = nullptr;

    QMenu* Edit1 = nullptr;  // "&Insert"
    QAction* A5wpm1 = nullptr;
    QAction* B10wpm1 = nullptr;
    QAction* C15wpm1 = nullptr;
    QAction* D21wpm1 = nullptr;
    QAction* E52wpm1 = nullptr;
    QAction* N3 = nullptr;
    QAction* PActivatePTT1 = nullptr;
    QAction* QReleasePTT1 = nullptr;
    QAction* N4 = nullptr;
    QAction* KKeyTransmitter1 = nullptr;
    QAction* UUnkeyTransmitter1 = nullptr;
    QAction* N5 = nullptr;
    QAction* T01secondwait1 = nullptr;
    QAction* S1secondwait1 = nullptr;
    QAction* F5secondwait1 = nullptr;
    QAction* O1minutewait1 = nullptr;
    QAction* Vwait10minutes1 = nullptr;
    QAction* NCancelLongDelay1 = nullptr;
    QAction* WWaitforexternaltrigger1 = nullptr;
    QAction* N6 = nullptr;
    QAction* RQRSSMode1 = nullptr;
    QAction* IStopQRSS1 = nullptr;
    QAction* N8 = nullptr;
    QAction* XExtraLowPower1 = nullptr;
    QAction* LLowPower1 = nullptr;
    QAction* MMediumPower1 = nullptr;
    QAction* HHighPower1 = nullptr;
    QAction* N7 = nullptr;
    QAction* ZEndofMessage1 = nullptr;

    QMenu* Options1 = nullptr;
    QAction* Synchronized = nullptr;
    QMenu* CommPort1 = nullptr;
    QActionGroup* CommPortGroup = nullptr;
    QAction* Com0 = nullptr;
    QAction* COM1 = nullptr;
    QAction* COM2 = nullptr;
    QAction* COM3 = nullptr;
    QAction* COM4 = nullptr;
    QAction* CustomPort = nullptr;
    QAction* DevicePortsSeparator = nullptr;
    QList<QAction*> DevicePorts;  // one per serial device present (hidden when unused); data: the path
    QAction* NoDevicePorts = nullptr;
    QAction* SetCharacterLimit1 = nullptr;
    QAction* DebugWindow = nullptr;

    QMenu* GPSMenu = nullptr;
    QVector<QAction*> GPSSlots;  // the 24 slot items, slot 0 first

    QMenu* Help1 = nullptr;
    QAction* Help2 = nullptr;
    QAction* N2 = nullptr;
    QAction* About1 = nullptr;

    TFileDialogRequest OpenDialog1;
    TFileDialogRequest SaveDialog1;
    std::unique_ptr<TVaComm> Com;
    std::unique_ptr<TSuperTimer> SendX;
    std::unique_ptr<BeaconLine> Line;  // the dialogue wired to Com and SendX

    TDebug* Debug = nullptr;
    THelpWindow* HelpWindow = nullptr;  // created the first time the help page needs it

    // ---- Start-up and close (app/) -------------------------------------------------------------------
    void FormCreate();
    void FormShow();
    bool FormClose();  // false, or an error raised, keeps the window open

    // ---- Command files (app/) ------------------------------------------------------------------------
    void new1Click(QObject* Sender);
    void Open1Click(QObject* Sender);
    void OpenBackup1Click(QObject* Sender);
    void Save1Click(QObject* Sender);
    void SaveAs1Click(QObject* Sender);
    // "Save changes?" for a changed memo; false when the operator cancelled the operation that asks.
    bool SavePrompt();
    void ShowFileCaption();
    void WriteMemo(const QString& path);
    void LoadMemo(const QString& path);
    // The memo's text as it stands is what the file or the beacon holds: it no longer counts as changed.
    void TakeMemoAsUnchanged();

    // ---- Debug window, help and about (app/) ---------------------------------------------------------
    void DebugWindowClick(QObject* Sender);
    void Help2Click(QObject* Sender);
    void About1Click(QObject* Sender);

    // ---- Decoder and Insert menu (command/) ----------------------------------------------------------
    void UpdateSequence();
    // Every change of the memo's text, whatever made it (keys, paste, drop, the Insert menu, a load).
    void ZBCommandChange();
    void ZBCommandKeyPress(QObject* Sender, QChar& Key);
    void ZBCommandKeyUp(QObject* Sender, int Key, Qt::KeyboardModifiers Shift);
    // The count on the status line and the length alarm on the strip.
    void ShowLength();
    void A5wpm1Click(QObject* Sender);

    // ---- Sequence view (command/) --------------------------------------------------------------------
    void SequenceDrawItem(TCanvas& Canvas, int Index, const QRect& Rect);

    // ---- Synchronized mode and the limit (command/) --------------------------------------------------
    void ApplySynchronizedMode();
    void SynchronizedClick(QObject* Sender);
    void SetCharacterLimit1Click(QObject* Sender);
    void Options1Click(QObject* Sender);

    // ---- Beacon dialogue and upload (link/) ----------------------------------------------------------
    void ReadBeaconClick(QObject* Sender);
    void ProgramBeaconClick(QObject* Sender);
    void Button1Click(QObject* Sender);
    void ComData(TObject* Sender, int Count);
    void RemovePromptLines();
    void MirrorToDebugWindow();
    void SendXStop(TObject* Sender);

    // ---- GPS slots (link/) ---------------------------------------------------------------------------
    void BuildGPSMenu();
    void GPSSlotClick(QObject* Sender);
    void TickSlotsFromMask();

    // ---- Port selection (link/) ----------------------------------------------------------------------
    void Com0Click(QObject* Sender);
    void COM1Click(QObject* Sender);
    void COM2Click(QObject* Sender);
    void COM3Click(QObject* Sender);
    void COM4Click(QObject* Sender);
    void CustomPortClick(QObject* Sender);
    void ChooseNumberedPort(QAction* item, int port);
    void OpenStartupPort();
    void DevicePortClick(QObject* Sender);
    void RefreshDevicePorts();
    int MapDevice(const QString& device);
    void OpenChosenPort();
    void ComDisconnect(TObject* Sender);
    void ReconnectCheck();
    bool ChosenDeviceMissing();

    // ---- Paced wait (link/) --------------------------------------------------------------------------
    void Delay(double units);

    // ---- Shared surfaces -----------------------------------------------------------------------------
    // The memo's text as single bytes, line breaks as CR LF.
    QByteArray MemoText() const;
    void SetMemoText(const QByteArray& text);
    QStringList MemoLines() const;
    // The alert strip: background, text colour and caption are set separately.
    void SetTellColor(const QColor& color);
    void SetTellFontColor(const QColor& color);
    void SetTellCaption(const QString& caption) override;
    QColor TellColor() const;
    QColor TellFontColor() const;
    QString TellCaption() const override;
    void TellNeutral();   // white background, black text
    void TellAlert();     // red background, white text
    void TellProgress();  // green background, white text
    // The status bar's one simple text.
    void SetStatusText(const QString& text);
    QString StatusText() const;

    QString SettingsPath() const;

    // ---- What the beacon dialogue may touch (IBeaconView) --------------------------------------------
    QByteArray CommandText() const override;
    void SetCommandText(const QByteArray& text) override;
    void RemoveCommandLines(const std::function<bool(const QByteArray&)>& drop) override;
    void SetTellLook(TellLook look) override;
    void SetTellBackground(TellBackground background) override;
    void SetStatus(const QString& text) override;
    void RebuildListing() override;
    void AddListingNotice(const QString& line) override;
    bool SlotTicked(int slot) const override;
    void SetSlotTicked(int slot, bool ticked) override;
    bool SynchronizedOption() const override;
    void TickSynchronizedOption() override;
    bool PortReady() override;
    void SetBusy(bool busy) override;
    void ReceivedTextGrew() override;
    QString KeepBeaconProgram(const QByteArray& message) override;
    QString KeepBeaconSlots(const QByteArray& table) override;
    void OnSequenceChecked(const SequenceCheck& check) override;
    void OnUploadEnded(qsizetype sent, bool complete) override;
    // Where a Program keeps the beacon's previous program (platform/Folders.h).
    QString BackupsFolderPath() const;

    // Runs a handler; an error it raises ends it and is shown in the error box.
    template <typename F>
    void Guard(F&& handler) {
        try {
            handler();
        } catch (const std::exception& e) {
            ShowError(e);
        }
    }
    void ShowError(const std::exception& e);

    static constexpr const char* kDesignedCaption = "Zindle Beacon Setup";
    static constexpr int kDesignedLeft = 213;
    static constexpr int kDesignedTop = 156;
    static constexpr int kDesignedWidth = 606;
    static constexpr int kDesignedHeight = 589;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void BuildComponents();
    void LayoutControls();
    void FitMenuBar();
    void BuildInsertMenu();
    void ConnectClick(QAction* action, void (TForm1::*handler)(QObject*));
    void ConnectToggle(QAction* action, void (TForm1::*handler)(QObject*));

    // True while the current file is an installed program's default file in the configuration folder:
    // the file dialogs then start in the documents folder instead of the current file's folder.
    bool InDefaultFile() const;

    TProgramFolders folders_;
    IDialogs& dialogs_;
    Backups::Keeper backups_;
    QLabel* statusText_ = nullptr;
    QWidget* client_ = nullptr;
    bool shown_ = false;
    QString tellCaption_;
    QByteArray unchangedText_;  // the memo's text as last loaded or saved
    int programEdits_ = 0;      // the program itself is changing the memo's text
    bool busy_ = false;         // the upload runs: the strip's caption is its ticker
    int BeginPortChoice();
    void StartReconnect();
    int portChoice_ = 0;           // counts the port choices; a choice whose pause saw another gives way
    QString tickedDevice_;         // the device whose list item carries the tick; empty for the fixed items
    QString customDevice_;         // the device that the Custom item stands for, which the list leaves out
    QTimer* reconnect_ = nullptr;  // looks once a second for a lost port's device
    QByteArray mirrored_;          // the received text the debug window was last given
    int mirroredRevision_ = -1;    // its memo's revision right after that
    QString debugNote_;            // where the last failed verify parted; shown above the received text
};

// The application's title: the program file's name without folder and extension, its first character
// as it is and the rest in lower case ("ZBeacon" gives "Zbeacon").
QString ApplicationTitle(const QString& programFile);

// The program's identity on the desktop: the desktop entry it belongs to (taskbars and Wayland take the
// name and icon from there) and the icon of its windows, built into the program.
void SetApplicationIdentity();

// Single-byte text as a text edit shows it: CR LF, and a lone CR or LF, each become one line break.
QString MemoDisplayText(const QByteArray& text);

// Outer bounds of a top-level window (frame included, as stored in the settings file). The frame is taken
// as a fixed allowance, so that applying bounds and reading them back give the same numbers on every
// desktop, with or without a window manager. A menu bar taller than the designed 20 pixels (a desktop
// style with roomier menus, larger fonts) makes the window taller by the difference, so the client area
// keeps its designed size; the stored bounds do not include that difference.
namespace WindowBounds {
constexpr int kFrameWidth = 8;    // left and right border
constexpr int kFrameHeight = 34;  // caption bar and top and bottom border
constexpr int kMenuHeight = 20;   // the menu bar the frame allowance counts with
void Apply(QWidget* window, int left, int top, int width, int height);
// On a desktop that does not let programs place windows (Wayland) this reports the position last
// applied, not the one the desktop makes up, so the remembered position survives a run there.
QRect Read(const QWidget* window);
// Bounds pulled back onto the available area of the screen they are mostly on (or the primary screen),
// shrunk where they are larger than that area; bounds that fit are returned unchanged.
QRect FitOnScreen(const QWidget* window, const QRect& bounds);
// Whether the desktop honours the positions that programs give their windows.
bool PlatformPlacesWindows();
// Tests stand in for a desktop that does not place windows; nullopt goes back to asking the platform.
void OverridePlatformPlacesWindows(std::optional<bool> places);
}  // namespace WindowBounds
