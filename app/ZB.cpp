#include "app/ZB.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <algorithm>
#include <cstring>

#include "app/SequenceView.h"
#include "app/Unit2.h"
#include "command/CommandTable.h"
#include "device/SuperTimer.h"
#include "device/VaComm.h"
#include "link/PortSettings.h"
#include "platform/Application.h"

namespace {

const QColor kMemoColor(255, 255, 144);
const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);

// The designed fonts are asked for by name; the style hint lets the desktop substitute a matching face.
QFont DesignFont(const char* family, QFont::StyleHint hint, int pixelSize, bool bold) {
    QFont font(QString::fromLatin1(family));
    font.setStyleHint(hint);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

}  // namespace

// ---- Single-byte memo --------------------------------------------------------------------------------

bool TCommandMemo::IsSingleByte(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() > 0xFF) return false;
    }
    return true;
}

// The toolkit hands no data at all when a selection's owner went away before it was fetched (a middle-
// button paste from a window just closed): there is nothing to paste then.
bool TCommandMemo::canInsertFromMimeData(const QMimeData* source) const {
    return source != nullptr && source->hasText() && IsSingleByte(source->text());
}

void TCommandMemo::insertFromMimeData(const QMimeData* source) {
    if (source == nullptr) return;
    if (!source->hasText() || !IsSingleByte(source->text())) {
        QApplication::beep();
        return;
    }
    QPlainTextEdit::insertFromMimeData(source);
}

void TCommandMemo::inputMethodEvent(QInputMethodEvent* event) {
    if (!IsSingleByte(event->commitString())) {
        QApplication::beep();
        QInputMethodEvent refused(event->preeditString(), event->attributes());
        QPlainTextEdit::inputMethodEvent(&refused);
        return;
    }
    QPlainTextEdit::inputMethodEvent(event);
}

// ---- Window bounds ---------------------------------------------------------------------------------

namespace WindowBounds {
namespace {
std::optional<bool> placesOverride;
const char kAppliedPosition[] = "zbAppliedPosition";

// Height that the window's menu bar has beyond the designed one.
int MenuExtra(const QWidget* window) {
    const auto* main = qobject_cast<const QMainWindow*>(window);
    const QWidget* bar = main ? main->menuWidget() : nullptr;
    return bar ? std::max(0, bar->minimumHeight() - kMenuHeight) : 0;
}
}  // namespace

bool PlatformPlacesWindows() {
    if (placesOverride) return *placesOverride;
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void OverridePlatformPlacesWindows(std::optional<bool> places) {
    placesOverride = places;
}

void Apply(QWidget* window, int left, int top, int width, int height) {
    window->setProperty(kAppliedPosition, QPoint(left, top));
    window->move(left, top);
    window->resize(std::max(0, width - kFrameWidth), std::max(0, height - kFrameHeight + MenuExtra(window)));
}

QRect Read(const QWidget* window) {
    QPoint position = window->pos();
    const QVariant applied = window->property(kAppliedPosition);
    if (!PlatformPlacesWindows() && applied.isValid()) position = applied.toPoint();
    return QRect(position,
                 QSize(window->width() + kFrameWidth, window->height() + kFrameHeight - MenuExtra(window)));
}

QRect FitOnScreen(const QWidget* window, const QRect& bounds) {
    const int extra = MenuExtra(window);
    const QRect outer(bounds.topLeft(), QSize(bounds.width(), bounds.height() + extra));
    QScreen* screen = QGuiApplication::screenAt(outer.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return bounds;
    const QRect area = screen->availableGeometry();
    if (area.contains(outer)) return bounds;
    const int width = std::min(outer.width(), area.width());
    const int height = std::min(outer.height(), area.height());
    const int left = std::clamp(outer.left(), area.left(), area.left() + area.width() - width);
    const int top = std::clamp(outer.top(), area.top(), area.top() + area.height() - height);
    return QRect(left, top, width, height - extra);
}
}  // namespace WindowBounds

// ---- Construction ------------------------------------------------------------------------------------

TForm1::TForm1(const QString& programDir, IDialogs& dialogs, QWidget* parent)
    : TForm1(TProgramFolders::Portable(programDir), dialogs, parent) {}

TForm1::TForm1(const TProgramFolders& folders, IDialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), folders_(folders), dialogs_(dialogs) {
    setObjectName("Form1");
    setWindowTitle(kDesignedCaption);
    setFont(DesignFont("MS Sans Serif", QFont::SansSerif, 11, false));
    BuildControls();
    BuildMenus();
    BuildComponents();
    WindowBounds::Apply(this, kDesignedLeft, kDesignedTop, kDesignedWidth, kDesignedHeight);
    Application::SetExceptionHandler([this](const std::exception& e) { ShowError(e); });
    unchangedText_ = MemoText();
    connect(ZBCommand, &QPlainTextEdit::textChanged, this, [this] { Guard([&] { ZBCommandChange(); }); });
}

TForm1::~TForm1() {
    // The components go first: their threads may still hand events to this window.
    SendX.reset();
    Com.reset();
    Line.reset();
    Application::SetExceptionHandler(nullptr);
}

// The serial port (9600 baud, 8N1, data events only, no handshake, DTR and RTS held off, no port
// chosen) and the one-second countdown that starts the upload.
void TForm1::BuildComponents() {
    Com = std::make_unique<TVaComm>();
    SetBeaconLine(*Com);
    Com->SetPortNum(0);
    Com->OnData = [this](TObject* Sender, int Count) { Guard([&] { ComData(Sender, Count); }); };
    Com->OnDisconnect = [this](TObject* Sender) { Guard([&] { ComDisconnect(Sender); }); };

    SendX = std::make_unique<TSuperTimer>();
    SendX->SetCountDown(true);
    SendX->OnStop = [this](TObject* Sender) { Guard([&] { SendXStop(Sender); }); };

    Line = std::make_unique<BeaconLine>(*Com, *SendX, *this);
    Engine = &Line->Engine();
}

void TForm1::BuildControls() {
    client_ = new QWidget(this);
    client_->setObjectName("ClientArea");
    setCentralWidget(client_);
    client_->installEventFilter(this);

    GroupBox1 = new QGroupBox(tr("Beacon Command String"), client_);
    GroupBox1->setObjectName("GroupBox1");

    ZBCommand = new TCommandMemo(GroupBox1);
    ZBCommand->setObjectName("ZBCommand");
    QPalette memoPalette = ZBCommand->palette();
    memoPalette.setColor(QPalette::Base, kMemoColor);
    memoPalette.setColor(QPalette::Text, kBlack);
    ZBCommand->setPalette(memoPalette);
    ZBCommand->setFont(DesignFont("MS Sans Serif", QFont::SansSerif, 15, true));
    ZBCommand->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ZBCommand->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ZBCommand->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    ZBCommand->setTabChangesFocus(true);
    ZBCommand->setToolTip(tr("Beacon Command String"));
    ZBCommand->setAccessibleName(tr("Beacon Command String"));
    ZBCommand->setAccessibleDescription(
        tr("Upper-case letters are commands; every other character is text that the beacon sends in Morse"));
    ++programEdits_;
    ZBCommand->setPlainText("PSDvvvSQSZ");
    --programEdits_;
    ZBCommand->installEventFilter(this);

    // Alt+R, Alt+P and Alt+V press the buttons.
    ReadBeacon = new QPushButton(tr("&Read Beacon"), GroupBox1);
    ReadBeacon->setObjectName("ReadBeacon");
    ReadBeacon->setAccessibleDescription(tr("Copies the beacon's command string into the memo"));
    ProgramBeacon = new QPushButton(tr("&Program Beacon"), GroupBox1);
    ProgramBeacon->setObjectName("ProgramBeacon");
    ProgramBeacon->setAccessibleDescription(tr("Sends the memo's command string to the beacon"));
    Button1 = new QPushButton(tr("&Verify Beacon"), GroupBox1);
    Button1->setObjectName("Button1");
    Button1->setAccessibleDescription(tr("Checks that the beacon holds the memo's command string"));
    for (QPushButton* button : {ReadBeacon, ProgramBeacon, Button1})
        button->setAutoDefault(false);
    connect(ReadBeacon, &QPushButton::clicked, this, [this] { Guard([&] { ReadBeaconClick(ReadBeacon); }); });
    connect(ProgramBeacon, &QPushButton::clicked, this,
            [this] { Guard([&] { ProgramBeaconClick(ProgramBeacon); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { Guard([&] { Button1Click(Button1); }); });

    Tell = new AlertStrip(GroupBox1);
    Tell->setObjectName("Tell");
    Tell->setAccessibleDescription(tr("What to do next, the beacon dialogue's progress and the alarms"));
    Tell->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Tell->setLineWidth(1);
    Tell->setAlignment(Qt::AlignCenter);
    Tell->setTextFormat(Qt::PlainText);
    Tell->setAutoFillBackground(true);
    Tell->setFont(DesignFont("MS Sans Serif", QFont::SansSerif, 11, true));
    SetTellColor(kWhite);
    SetTellFontColor(kWhite);

    GroupBox2 = new QGroupBox(tr("Beacon Sequence"), client_);
    GroupBox2->setObjectName("GroupBox2");

    Sequence =
        new SequenceList([this] { return Synchronized != nullptr && Synchronized->isChecked(); }, GroupBox2);
    Sequence->setObjectName("Sequence");
    QPalette listPalette = Sequence->palette();
    listPalette.setColor(QPalette::Base, kSequenceColor);
    listPalette.setColor(QPalette::Text, kBlack);
    Sequence->setPalette(listPalette);
    Sequence->setFont(DesignFont("Courier New", QFont::Monospace, 15, true));
    Sequence->setItemDelegate(CreateSequenceDelegate(this, Sequence));
    Sequence->setToolTip(tr("Beacon Sequence"));
    Sequence->setAccessibleName(tr("Beacon Sequence"));

    StatusBar1 = statusBar();
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFixedHeight(19);
    statusText_ = new QLabel(StatusBar1);
    statusText_->setObjectName("StatusText");
    statusText_->setTextFormat(Qt::PlainText);
    statusText_->setAccessibleDescription(
        tr("The number of characters against the limit, or the beacon dialogue's progress"));
    StatusBar1->setAccessibleName(tr("Status line"));
    StatusBar1->addWidget(statusText_, 1);
    CapitalsHint = new QLabel(QString::fromLatin1(Commands::kCapitalsHint), StatusBar1);
    CapitalsHint->setObjectName("CapitalsHint");
    CapitalsHint->setTextFormat(Qt::PlainText);
    CapitalsHint->hide();
    StatusBar1->addPermanentWidget(CapitalsHint);

    // Tab order: the memo, the buttons from left to right, the listing.
    setTabOrder(ZBCommand, ReadBeacon);
    setTabOrder(ReadBeacon, ProgramBeacon);
    setTabOrder(ProgramBeacon, Button1);
    setTabOrder(Button1, Sequence);

    OpenDialog1.Filters = QStringList{tr("Text Files (*.txt)"), tr("All Files (*)")};
    OpenDialog1.DefaultExt = QStringLiteral("txt");
    SaveDialog1.Filters = QStringList{tr("Text File (*.txt)"), tr("All Files (*)")};
    SaveDialog1.DefaultExt = QStringLiteral("txt");
    SaveDialog1.OverwritePrompt = true;
}

// One item per command, in groups between separators, as the command vocabulary lists them; the items
// and separators keep their designed names.
void TForm1::BuildInsertMenu() {
    static const char* const kSeparators[] = {"N3", "N4", "N5", "N6", "N8", "N7"};
    static const std::pair<const char*, QAction * TForm1::*> kItems[] = {
        {"A5wpm1", &TForm1::A5wpm1},
        {"B10wpm1", &TForm1::B10wpm1},
        {"C15wpm1", &TForm1::C15wpm1},
        {"D21wpm1", &TForm1::D21wpm1},
        {"E52wpm1", &TForm1::E52wpm1},
        {"PActivatePTT1", &TForm1::PActivatePTT1},
        {"QReleasePTT1", &TForm1::QReleasePTT1},
        {"KKeyTransmitter1", &TForm1::KKeyTransmitter1},
        {"UUnkeyTransmitter1", &TForm1::UUnkeyTransmitter1},
        {"T01secondwait1", &TForm1::T01secondwait1},
        {"S1secondwait1", &TForm1::S1secondwait1},
        {"F5secondwait1", &TForm1::F5secondwait1},
        {"O1minutewait1", &TForm1::O1minutewait1},
        {"Vwait10minutes1", &TForm1::Vwait10minutes1},
        {"NCancelLongDelay1", &TForm1::NCancelLongDelay1},
        {"WWaitforexternaltrigger1", &TForm1::WWaitforexternaltrigger1},
        {"RQRSSMode1", &TForm1::RQRSSMode1},
        {"IStopQRSS1", &TForm1::IStopQRSS1},
        {"XExtraLowPower1", &TForm1::XExtraLowPower1},
        {"LLowPower1", &TForm1::LLowPower1},
        {"MMediumPower1", &TForm1::MMediumPower1},
        {"HHighPower1", &TForm1::HHighPower1},
        {"ZEndofMessage1", &TForm1::ZEndofMessage1},
    };
    int group = 0;
    for (const Commands::Command& command : Commands::Vocabulary()) {
        if (command.menuGroup != group) {
            group = command.menuGroup;
            QAction* separator = Edit1->addSeparator();
            separator->setObjectName(kSeparators[std::min<size_t>(group - 1, std::size(kSeparators) - 1)]);
        }
        QAction* item = Edit1->addAction(QString::fromLatin1(command.menuCaption));
        item->setObjectName(command.menuName);
        item->setData(QChar::fromLatin1(command.letter));  // the command letter it types
        ConnectClick(item, &TForm1::A5wpm1Click);
        for (const auto& [name, member] : kItems) {
            if (std::strcmp(name, command.menuName) == 0) this->*member = item;
        }
    }
    N3 = Edit1->findChild<QAction*>(QStringLiteral("N3"));
    N4 = Edit1->findChild<QAction*>(QStringLiteral("N4"));
    N5 = Edit1->findChild<QAction*>(QStringLiteral("N5"));
    N6 = Edit1->findChild<QAction*>(QStringLiteral("N6"));
    N7 = Edit1->findChild<QAction*>(QStringLiteral("N7"));
    N8 = Edit1->findChild<QAction*>(QStringLiteral("N8"));
}

void TForm1::ConnectClick(QAction* action, void (TForm1::*handler)(QObject*)) {
    connect(action, &QAction::triggered, this,
            [this, action, handler] { Guard([&] { (this->*handler)(action); }); });
}

// Tick items whose handler inverts the tick itself: the toolkit's automatic toggle is undone first.
void TForm1::ConnectToggle(QAction* action, void (TForm1::*handler)(QObject*)) {
    action->setCheckable(true);
    connect(action, &QAction::triggered, this, [this, action, handler](bool checked) {
        action->setChecked(!checked);
        Guard([&] { (this->*handler)(action); });
    });
}

void TForm1::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    bar->installEventFilter(this);

    File1 = bar->addMenu(tr("&File"));
    File1->setObjectName("File1");
    new1 = File1->addAction(tr("&New"));
    new1->setObjectName("new1");
    new1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    Open1 = File1->addAction(tr("&Open"));
    Open1->setObjectName("Open1");
    Open1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    OpenBackup1 = File1->addAction(tr("Open &Backup ..."));
    OpenBackup1->setObjectName("OpenBackup1");
    Save1 = File1->addAction(tr("&Save"));
    Save1->setObjectName("Save1");
    Save1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    SaveAs1 = File1->addAction(tr("Save &As ..."));
    SaveAs1->setObjectName("SaveAs1");
    N1 = File1->addSeparator();
    N1->setObjectName("N1");
    Quit1 = File1->addAction(tr("E&xit"));
    Quit1->setObjectName("Quit1");
    ConnectClick(new1, &TForm1::new1Click);
    ConnectClick(Open1, &TForm1::Open1Click);
    ConnectClick(OpenBackup1, &TForm1::OpenBackup1Click);
    ConnectClick(Save1, &TForm1::Save1Click);
    ConnectClick(SaveAs1, &TForm1::SaveAs1Click);
    // Exit closes the window exactly as its close box does.
    connect(Quit1, &QAction::triggered, this, &QWidget::close);

    Edit1 = bar->addMenu(tr("&Insert"));
    Edit1->setObjectName("Edit1");
    BuildInsertMenu();

    Options1 = bar->addMenu(tr("&Options"));
    Options1->setObjectName("Options1");
    Synchronized = Options1->addAction(tr("Synchronized Beacon"));
    Synchronized->setObjectName("Synchronized");
    ConnectToggle(Synchronized, &TForm1::SynchronizedClick);
    CommPort1 = Options1->addMenu(tr("&Comm"));
    CommPort1->setObjectName("CommPort1");
    CommPortGroup = new QActionGroup(this);
    CommPortGroup->setExclusive(true);
    auto addPort = [this](const char* name, const QString& caption) {
        QAction* item = CommPort1->addAction(caption);
        item->setObjectName(name);
        item->setCheckable(true);
        CommPortGroup->addAction(item);
        return item;
    };
    Com0 = addPort("Com0", tr("none"));
    COM1 = addPort("COM1", tr("COM 1"));
    COM2 = addPort("COM2", tr("COM 2"));
    COM3 = addPort("COM3", tr("COM 3"));
    COM4 = addPort("COM4", tr("COM 4"));
    CustomPort = addPort("CustomPort", tr("Custom ..."));
    Com0->setChecked(true);
    ConnectClick(Com0, &TForm1::Com0Click);
    ConnectClick(COM1, &TForm1::COM1Click);
    ConnectClick(COM2, &TForm1::COM2Click);
    ConnectClick(COM3, &TForm1::COM3Click);
    ConnectClick(COM4, &TForm1::COM4Click);
    ConnectClick(CustomPort, &TForm1::CustomPortClick);
    connect(CommPort1, &QMenu::aboutToShow, this, [this] { Guard([&] { RefreshDevicePorts(); }); });
    SetCharacterLimit1 = Options1->addAction(tr("Set Character Limit ..."));
    SetCharacterLimit1->setObjectName("SetCharacterLimit1");
    ConnectClick(SetCharacterLimit1, &TForm1::SetCharacterLimit1Click);
    DebugWindow = Options1->addAction(tr("Show Debug Window"));
    DebugWindow->setObjectName("DebugWindow");
    ConnectToggle(DebugWindow, &TForm1::DebugWindowClick);
    connect(Options1, &QMenu::aboutToShow, this, [this] { Guard([&] { Options1Click(Options1); }); });

    GPSMenu = bar->addMenu(tr("&GPS"));
    GPSMenu->setObjectName("GPSMenu");

    Help1 = bar->addMenu(tr("&Help"));
    Help1->setObjectName("Help1");
    Help2 = Help1->addAction(tr("&Help"));
    Help2->setObjectName("Help2");
    Help2->setShortcut(QKeySequence(Qt::Key_F1));
    N2 = Help1->addSeparator();
    N2->setObjectName("N2");
    About1 = Help1->addAction(tr("&About"));
    About1->setObjectName("About1");
    ConnectClick(Help2, &TForm1::Help2Click);
    ConnectClick(About1, &TForm1::About1Click);
    FitMenuBar();
}

// The menu bar shows its titles in the desktop's menu font (not the window's font), and is 20 pixels
// high as designed or as high as the desktop's style and fonts need to show every title; the window
// grows by the difference and keeps its outer bounds and client area.
void TForm1::FitMenuBar() {
    QMenuBar* bar = menuBar();
    const QRect bounds = WindowBounds::Read(this);
    bar->setFont(QApplication::font(bar));
    bar->setMinimumHeight(0);
    bar->setMaximumHeight(QWIDGETSIZE_MAX);
    const int height = std::max(WindowBounds::kMenuHeight, bar->sizeHint().height());
    bar->setFixedHeight(height);
    WindowBounds::Apply(this, bounds.left(), bounds.top(), bounds.width(), bounds.height());
}

// Anchored layout at the designed client coordinates: the first group box, the memo and the alert
// strip widen with the window; the buttons keep their place; the second group box keeps its height,
// docked above the status bar, and the listing fills it.
void TForm1::LayoutControls() {
    const int w = client_->width();
    const int h = client_->height();
    const int box1Width = std::max(0, w - 7);
    GroupBox1->setGeometry(2, 4, box1Width, 153);
    ZBCommand->setGeometry(4, 24, std::max(0, box1Width - 10), 69);
    ReadBeacon->setGeometry(16, 98, 137, 25);
    ProgramBeacon->setGeometry(176, 98, 131, 25);
    Button1->setGeometry(332, 98, 131, 25);
    Tell->setGeometry(16, 126, std::max(0, box1Width - 32), 21);
    GroupBox2->setGeometry(0, h - 355, w, 355);
    Sequence->setGeometry(2, 15, std::max(0, w - 4), 338);
}

// ---- Events ------------------------------------------------------------------------------------------

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) {
        LayoutControls();
    } else if (watched == menuBar() && File1 &&
               (event->type() == QEvent::ApplicationFontChange || event->type() == QEvent::StyleChange)) {
        FitMenuBar();  // another desktop font or style
    } else if (watched == ZBCommand) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!TCommandMemo::IsSingleByte(key->text())) {
                QApplication::beep();
                return true;  // refused: no single-byte form
            }
            // Tab only moves the focus out of the memo: it types nothing.
            if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) return false;
            // Shift+Enter breaks the line like Enter: the memo holds plain line breaks only.
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                (key->modifiers() & Qt::ShiftModifier)) {
                QKeyEvent plain(QEvent::KeyPress, key->key(), key->modifiers() & ~Qt::ShiftModifier,
                                key->text(), key->isAutoRepeat(), key->count());
                QApplication::sendEvent(ZBCommand, &plain);
                return true;
            }
            const bool producesCharacter = !key->text().isEmpty() || key->key() == Qt::Key_Return ||
                                           key->key() == Qt::Key_Enter || key->key() == Qt::Key_Backspace;
            if (producesCharacter) {
                QChar ch = key->text().isEmpty() ? QChar() : key->text().at(0);
                Guard([&] { ZBCommandKeyPress(ZBCommand, ch); });
            }
        } else if (event->type() == QEvent::KeyRelease) {
            auto* key = static_cast<QKeyEvent*>(event);
            // A held key repeats its press only: the release of an auto-repeating key counts once, at the
            // end.
            if (!key->isAutoRepeat()) {
                Guard([&] { ZBCommandKeyUp(ZBCommand, key->key(), key->modifiers()); });
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        Guard([&] { FormShow(); });
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    try {
        if (!FormClose()) {
            event->ignore();
            return;
        }
    } catch (const std::exception& e) {
        ShowError(e);
        event->ignore();
        return;
    }
    event->accept();
    if (Debug) Debug->hide();
}

void TForm1::Create() {
    Guard([&] { FormCreate(); });
}

void TForm1::SetDebugWindow(TDebug* debug) {
    Debug = debug;
    // The shortcuts act in the debug window too.
    if (Debug) Debug->addActions({new1, Open1, Save1, Help2});
}

void TForm1::ShowError(const std::exception& e) {
    dialogs_.Error(QString::fromUtf8(e.what()));
}

QString TForm1::SettingsPath() const {
    return QDir(folders_.Data).filePath("zbeacon.ini");
}

// ---- Shared surfaces ---------------------------------------------------------------------------------

// Paragraph and line separators are the memo's line breaks; outside the memo they are CR LF. Written
// straight into the result, as every keystroke asks for the whole text.
QByteArray TForm1::MemoText() const {
    const QString text = ZBCommand->document()->toRawText();
    const auto isBreak = [](char16_t c) {
        return c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == u'\n';
    };
    qsizetype breaks = 0;
    for (QChar c : text)
        breaks += isBreak(c.unicode()) ? 1 : 0;
    QByteArray out(text.size() + breaks, Qt::Uninitialized);
    char* p = out.data();
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (isBreak(u)) {
            *p++ = '\r';
            *p++ = '\n';
        } else {
            *p++ = u <= 0xFF ? static_cast<char>(u) : '?';  // as toLatin1 has it
        }
    }
    return out;
}

QString MemoDisplayText(const QByteArray& text) {
    QString converted;
    converted.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '\r') {
            converted += QLatin1Char('\n');
            if (i + 1 < text.size() && text.at(i + 1) == '\n') ++i;
        } else {
            converted += QChar(static_cast<uchar>(c));
        }
    }
    return converted;
}

void TForm1::SetMemoText(const QByteArray& text) {
    if (text == MemoText()) return;
    ++programEdits_;
    ZBCommand->setPlainText(MemoDisplayText(text));
    --programEdits_;
}

QStringList TForm1::MemoLines() const {
    const QByteArray text = MemoText();
    QStringList lines = QString::fromLatin1(text).split(QLatin1String("\r\n"));
    return lines;
}

void TForm1::SetTellColor(const QColor& color) {
    QPalette p = Tell->palette();
    p.setColor(QPalette::Window, color);
    Tell->setPalette(p);
}

void TForm1::SetTellFontColor(const QColor& color) {
    QPalette p = Tell->palette();
    p.setColor(QPalette::WindowText, color);
    Tell->setPalette(p);
}

// The strip shows one line: control characters in the caption (a line break of the memo passing
// through the upload's ticker) are shown as spaces, while the caption itself keeps them.
// The upload's ticker is shown but not announced: a screen reader would otherwise read every character.
void TForm1::SetTellCaption(const QString& caption) {
    const bool tickerStep = busy_ && IsTickerStep(tellCaption_, caption);
    tellCaption_ = caption;
    QString shown = caption;
    for (QChar& c : shown) {
        if (c.unicode() < 32) c = QLatin1Char(' ');
    }
    Tell->SetCaption(shown, tickerStep);
}
QColor TForm1::TellColor() const {
    return Tell->palette().color(QPalette::Window);
}
QColor TForm1::TellFontColor() const {
    return Tell->palette().color(QPalette::WindowText);
}
QString TForm1::TellCaption() const {
    return tellCaption_;
}

void TForm1::TellNeutral() {
    SetTellColor(kWhite);
    SetTellFontColor(kBlack);
}

void TForm1::TellAlert() {
    SetTellColor(kRed);
    SetTellFontColor(kWhite);
}

void TForm1::TellProgress() {
    SetTellColor(kGreen);
    SetTellFontColor(kWhite);
}

void TForm1::SetStatusText(const QString& text) {
    statusText_->setText(text);
}
QString TForm1::StatusText() const {
    return statusText_->text();
}
