#include "app/mainwindow.h"

#include "app/guard.h"
#include "app/help_window.h"
#include "app/info_window.h"
#include "app/lock/locked_panel.h"
#include "app/lock/memo_lock.h"
#include "app/memoview.h"
#include "app/printing.h"
#include "app/program.h"
#include "app/seams.h"
#include "app/userfolders.h"
#include "crypto/sealed.h"
#include "memo/search.h"
#include "app/archive/compressie_window.h"
#include "compress/compress.h"
#include "app/keys/sleutel_window.h"
#include "app/mail/mail_window.h"
#include "app/mail/mailontvangen_window.h"
#include "platform/codepage.h"
#include "platform/desktop/integration.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QPointer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPrinter>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace tq {
namespace {

// Client width the tool row's right-anchored group was designed for.
constexpr int kDesignClientWidth = 703;
constexpr int kToolRowHeight = 33;
constexpr int kSearchWidthLimit = 674; // wider: search box shown
constexpr int kKeysWidthLimit = 515;   // wider: key fields shown
constexpr int kMinWidth = 210;
constexpr int kMinHeight = 180;

const char* const kCreditLine = "Tarnquill - memo protection by the Tarnquill authors";

QString upperExtension(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix.toUpper();
}

// The program file's full path as the system writes it.
std::string programPath()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationFilePath()).toStdString();
}

bool namesExistingFile(const QString& path)
{
    if (path.isEmpty()) {
        return false;
    }
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

// Whether `path` names a sealed file whose header says it holds an archive.
bool namesSealedArchive(const QString& path)
{
    if (!namesExistingFile(path)) {
        return false;
    }
    try {
        return sealed::StoredFileContent(toFsPath(path)) == sealed::Content::Archive;
    } catch (const std::exception&) {
        return false; // not sealed, unreadable or damaged: not routed as an archive
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Creation

TfrmMemo::TfrmMemo(TProgram& program, const QString& argument)
    : QMainWindow(nullptr)
    , program_(program)
    , argument_(argument)
{
    setObjectName(QStringLiteral("frmMemo"));
    setWindowTitle(QStringLiteral("Tarnquill"));
    setWindowIcon(QIcon(programIcon(32)));

    // The timers come first: building the window already writes panels and draws the bar.
    CursorTimer = new RestingTimer(QStringLiteral("CursorTimer"), 10, this);
    connect(CursorTimer, &RestingTimer::timeout, this, [this] { runCommand([this] { CursorTimerTimer(); }); });
    Statustimer = new RestingTimer(QStringLiteral("Statustimer"), 1000, this);
    connect(Statustimer, &RestingTimer::timeout, this, [this] {
        drawStatusBar();
        if (!ProgressShown) {
            Statustimer->rest(); // the next progress bar wakes it (drawStatusBar)
        }
    });

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    toolRow_ = new QWidget(central);
    toolRow_->setFixedHeight(kToolRowHeight);
    layout->addWidget(toolRow_);
    buildToolRow();
    Memo = new MemoView(central);
    Memo->setObjectName(QStringLiteral("Memo"));
    layout->addWidget(Memo, 1);
    // The locked panel takes the memo's place while it is locked; copies from a
    // sealed memo go onto the clipboard as secret copies.
    Lock = new MemoLock(*this, central);
    layout->addWidget(Lock->panel(), 1);
    Memo->setClipboardWriter([this](QMimeData* data) { Lock->copyToClipboard(data); });
    StatusBar = new TStatusBar({110, 144, 80, 80, 300, 50}, 19, central);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    layout->addWidget(StatusBar);
    setCentralWidget(central);
    StatusBar->placeProgress(TStatusBar::Edge::Left, 5);
    StatusBar->setProgressSource([this]() -> std::optional<double> {
        if (!ProgressShown) {
            return std::nullopt;
        }
        return ProgressPercent;
    });
    connect(StatusBar, &TStatusBar::resized, this, [this] { drawStatusBar(); });

    buildMenus();
    buildContextMenu();
    buildTray();
    connectMemo();

    delayedClear = new QTimer(this);
    delayedClear->setObjectName(QStringLiteral("delayedClear"));
    delayedClear->setInterval(100);
    delayedClear->setSingleShot(true);
    connect(delayedClear, &QTimer::timeout, this, [this] {
        runCommand([this] {
            // New (and the start) clear the memo this way: what it leaves is unchanged.
            Memo->clear();
            memoModified_ = false;
        });
    });

    // The cipher's progress becomes the bar's before every redraw.
    yield_.setRedraw([this] {
        if (cipher_ && cipher_->ProgressShown()) {
            ProgressPercent = cipher_->ProgressPercent();
        }
        UpdateStatusBar();
    });
    yield_.attach(cipherYield_);
    cipher_ = std::make_unique<LineCipher>(&cipherYield_, &AbortRequested);

    // Clipboard reader: the caret timer's Paste rule reads this state.
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        connect(clipboard, &QClipboard::dataChanged, this, [this] {
            refreshClipboardState();
            CursorTimer->wake();
        });
    }

    // Design size and place.
    resize(711, 492);
    move(204, 180);

    runCommand([this] { FormCreate(); });

    CursorTimer->start();
    delayedClear->start();
    Statustimer->start();
}

TfrmMemo::~TfrmMemo()
{
    // A secret copy goes with the program (while the window still answers the
    // clipboard's change notice).
    Lock->clipboard().clearOwn();
    setGuardRecovery({});
}

void TfrmMemo::FormCreate()
{
    // 1. A .X archive on the command line: the main window stays invisible, so
    //    that only the archive window is seen. An argument naming no existing
    //    file opens no archive window, so the main window is shown as usual:
    //    an invisible window alone would leave a process nobody can reach.
    if ((upperExtension(argument_) == QStringLiteral(".X") || namesSealedArchive(argument_)) &&
        namesExistingFile(argument_)) {
        invisible_ = true;
        setWindowFlag(Qt::FramelessWindowHint, true);
        resize(0, 0);
    }
    // 2. The main engine, ticking this window's event pump.
    engine_ = std::make_unique<TCompress>();
    yield_.attach(engine_->Yield);
    // 3. Start-at-logon entry that names an existing file.
    desktop::Integration& integration = desktop::systemIntegration();
    const std::string entry = integration.autostartProgram();
    Ladentijdensopstarten1->setChecked(namesExistingFile(QString::fromStdString(entry)));
    // 4. Start minimized?
    const bool minimizedSetting = integration.startMinimized();
    // 5.
    ClosingConfirmed = false;
    LineBackup.clear();
    refreshClipboardState();
    // 6. Save as and Send wait for text.
    Verzenden1->setEnabled(false);
    Opslaan1->setEnabled(false);
    // 7.
    showCaretPosition();
    // 8. The working key set starts as the fields show it. (The dialogs read
    //    the desktop folder before each showing, so 9 has nothing to set.)
    WorkingKeys = KeySet{static_cast<std::uint8_t>(kDefaultKeys[0]), static_cast<std::uint8_t>(kDefaultKeys[1]),
                         static_cast<std::uint8_t>(kDefaultKeys[2]), kDefaultKeys[3]};
    OpenenClick = [this] { OpenCommand(); };
    imgOpslaanClick = [this] { SaveCommand(); };
    imgBtnCoderenClick = [this] { EncryptCommand(); };
    imgButtonDecoderenClick = [this] { DecryptCommand(); };
    imgCodeOpenenClick = [this] { OpenKeysCommand(); };
    imgCodeOpslaanClick = [this] { SaveKeysCommand(); };
    // 10.
    setPanel(4, QString::fromLatin1(kCreditLine));
    // 11.
    ControlsEnabled = true;
    // 12.
    if (argument_.isEmpty() && minimizedSetting) {
        startMinimized_ = true;
        setWindowState(windowState() | Qt::WindowMinimized);
        Startgeminimalizeerd1->setChecked(true);
    }
    // 13.
    registerFileTypes();
    // The guard's recovery returns this window to the idle state (and takes away
    // a progress bar and wait cursor a failed command left behind).
    setGuardRecovery([this] {
        ProgressShown = false;
        setPanel(0, QString());
        if (Memo != nullptr) {
            Memo->setBusy(false);
        }
        if (StatusBar != nullptr) {
            StatusBar->update();
        }
        EnableAll();
    });
}

namespace {
// After the first window has been shown and painted (a start takes well under
// this); a one-off, so nothing wakes for it later.
constexpr int kDatabaseUpdateDelayMs = 1000;
} // namespace

void TfrmMemo::registerFileTypes()
{
    // A failed association ends the registration (the later type is skipped), is
    // reported once and never stops the start.
    try {
        desktop::Integration& integration = desktop::systemIntegration();
        integration.RegisterFileType("x", programPath());
        integration.RegisterFileType("crp", programPath());
        integration.RegisterFileType("tqs", programPath());
    } catch (const std::exception& e) {
        reportRegistrationFailure(e.what());
    }
    // The desktop's databases are updated in the background a while after the
    // event loop runs: the tools' processes and their work then never compete
    // with showing and painting the first window.
    QTimer::singleShot(kDatabaseUpdateDelayMs, this, [this] {
        desktop::startDatabaseUpdates(desktop::systemIntegration().takeDatabaseUpdates(),
                                      [self = QPointer<TfrmMemo>(this)](const std::string& error) {
                                          if (self && !error.empty()) {
                                              self->reportRegistrationFailure(error);
                                          }
                                      });
    });
}

void TfrmMemo::reportRegistrationFailure(const std::string& why)
{
    const QString text = QStringLiteral("File types not registered: ") + QString::fromStdString(why);
    setPanel(4, text);
    StatusBar->setToolTip(text);
}

namespace {

// Stores an option item's new check mark; a failed write puts the mark back
// (the guard then says why), so the item never shows what is not stored.
template <typename Write>
void storeOption(QAction* item, Write write)
{
    try {
        write(item->isChecked());
    } catch (...) {
        item->setChecked(!item->isChecked());
        throw;
    }
}

} // namespace

void TfrmMemo::Startgeminimalizeerd1Click()
{
    storeOption(Startgeminimalizeerd1, [](bool on) { desktop::systemIntegration().setStartMinimized(on); });
}

void TfrmMemo::Ladentijdensopstarten1Click()
{
    storeOption(Ladentijdensopstarten1,
                [this](bool on) { desktop::systemIntegration().setAutostart(on, programPath()); });
}

void TfrmMemo::buildToolRow()
{
    auto pair = [this](QWidget* parent, ToolArt art, TImage*& colour, TImage*& grey, const char* name,
                       const QString& hint, int x) {
        const QPixmap pixmap = toolPixmap(art);
        colour = new TImage(pixmap, parent);
        colour->setObjectName(QString::fromLatin1(name));
        colour->setToolTip(hint);
        colour->move(x, (kToolRowHeight - pixmap.height()) / 2);
        grey = new TImage(greyTwin(pixmap), parent);
        grey->setObjectName(QString::fromLatin1(name) + QStringLiteral("BW"));
        grey->setToolTip(hint);
        grey->move(colour->pos());
        grey->hide();
    };

    IOFunctions = new QWidget(toolRow_);
    IOFunctions->setObjectName(QStringLiteral("IOFunctions"));
    IOFunctions->setGeometry(8, 0, 72, kToolRowHeight);
    pair(IOFunctions, ToolArt::New, imgBtnLeegmaken, imgBtnLeegmakenBW, "imgBtnLeegmaken", QStringLiteral("New"), 0);
    pair(IOFunctions, ToolArt::Open, imgOpenen, imgOpenenBW, "imgOpenen", QStringLiteral("Open"), 24);
    pair(IOFunctions, ToolArt::Save, imgOpslaan, imgOpslaanBw, "imgOpslaan", QStringLiteral("Save as..."), 48);
    imgOpslaanBw->setObjectName(QStringLiteral("imgOpslaanBw"));
    pair(toolRow_, ToolArt::Abort, imgBtnStop, imgBtnStopBW, "imgBtnStop", QStringLiteral("Abort"), 80);
    // Idle: the grey Abort image shows.
    imgBtnStop->hide();
    imgBtnStopBW->show();

    const QPixmap encrypt = toolPixmap(ToolArt::Encrypt);
    imgBtnCoderen = new TImage(encrypt, toolRow_);
    imgBtnCoderen->setObjectName(QStringLiteral("imgBtnCoderen"));
    imgBtnCoderen->setToolTip(QStringLiteral("Encrypt (CTRL + E)"));
    imgBtnCoderen->move(114, (kToolRowHeight - encrypt.height()) / 2);
    const QPixmap decrypt = toolPixmap(ToolArt::Decrypt);
    imgButtonDecoderen = new TImage(decrypt, toolRow_);
    imgButtonDecoderen->setObjectName(QStringLiteral("imgButtonDecoderen"));
    imgButtonDecoderen->setToolTip(QStringLiteral("Decrypt (CTRL + D)"));
    imgButtonDecoderen->move(152, (kToolRowHeight - decrypt.height()) / 2);

    txtZoekWoord = new QLineEdit(QStringLiteral("Search"), toolRow_);
    txtZoekWoord->setObjectName(QStringLiteral("txtZoekWoord"));
    txtZoekWoord->setToolTip(QStringLiteral("Search (F3)"));
    txtZoekWoord->setGeometry(200, 6, 121, 21);
    txtZoekWoord->installEventFilter(this);
    pair(toolRow_, ToolArt::Search, imgBtnZoeken, imgBtnZoekenBW, "imgBtnZoeken", QStringLiteral("Search (F3)"), 328);

    Bevel2 = new QFrame(toolRow_);
    Bevel2->setObjectName(QStringLiteral("Bevel2"));
    Bevel2->setFrameShape(QFrame::VLine);
    Bevel2->setFrameShadow(QFrame::Sunken);
    Bevel2->resize(2, 26);
    pair(toolRow_, ToolArt::OpenKeys, imgCodeOpenen, imgCodeOpenenBW, "imgCodeOpenen", QStringLiteral("Open keys"), 389);
    pair(toolRow_, ToolArt::SaveKeys, imgCodeOpslaan, imgCodeOpslaanBW, "imgCodeOpslaan", QStringLiteral("Save keys"), 413);
    lblSleutel = new QLabel(QStringLiteral("Keys:"), toolRow_);
    lblSleutel->setObjectName(QStringLiteral("lblSleutel"));
    lblSleutel->adjustSize();

    // Four masked key fields, each coupled to an up-down that steps by one within
    // its range without wrapping around. The up-down holds the key's value: a
    // field text that is a whole number within the range sets it, any other text
    // leaves it. Every change of a field copies all four values into the working
    // set (CodeKey1Change).
    struct KeyDesign {
        QLineEdit** edit;
        QSpinBox** upDown;
        const char* editName;
        const char* upDownName;
        int minimum;
        int maximum;
    };
    const KeyDesign keys[] = {
        {&CodeKey1, &Scale1, "CodeKey1", "Scale1", 5, 127},
        {&codeKey2, &scale2, "codeKey2", "scale2", 7, 31},
        {&codeKey3, &Scale3, "codeKey3", "Scale3", 10, 254},
        {&CodeKey4, &Scale4, "CodeKey4", "Scale4", 1, 1000},
    };
    int n = 1;
    for (const KeyDesign& k : keys) {
        const int start = kDefaultKeys[n - 1];
        auto* edit = new QLineEdit(QString::number(start), toolRow_);
        edit->setObjectName(QString::fromLatin1(k.editName));
        edit->setEchoMode(QLineEdit::Password);
        edit->setToolTip(QStringLiteral("Key %1").arg(n++));
        edit->resize(33, 21);
        auto* upDown = new QSpinBox(toolRow_);
        upDown->setObjectName(QString::fromLatin1(k.upDownName));
        upDown->setRange(k.minimum, k.maximum);
        upDown->setValue(start);
        upDown->setWrapping(false);
        upDown->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
        upDown->setToolTip(edit->toolTip());
        // Only the arrows of the up-down show; the value lives in the masked field.
        if (auto* inner = upDown->findChild<QLineEdit*>()) {
            inner->setEchoMode(QLineEdit::NoEcho);
        }
        upDown->resize(17, 21);
        connect(upDown, qOverload<int>(&QSpinBox::valueChanged), edit, [edit](int value) {
            bool ok = false;
            if (edit->text().toInt(&ok) != value || !ok) {
                edit->setText(QString::number(value));
            }
        });
        connect(edit, &QLineEdit::textChanged, this, [this, upDown](const QString& text) {
            runCommand([this, upDown, text] {
                bool ok = false;
                const int value = text.toInt(&ok);
                if (ok && value >= upDown->minimum() && value <= upDown->maximum()) {
                    upDown->setValue(value);
                }
                CodeKey1Change();
            });
        });
        *k.edit = edit;
        *k.upDown = upDown;
        keyEdits_.push_back(edit);
        keyUpDowns_.push_back(upDown);
    }

    auto clickTo = [this](TImage* image, const std::function<void()>& command) {
        connect(image, &TImage::clicked, this, [this, command] { runCommand(command); });
    };
    clickTo(imgBtnLeegmaken, [this] { NewMemo(true); });
    clickTo(imgBtnLeegmakenBW, [this] { NewMemo(true); });
    clickTo(imgOpenen, [this] { runHook(OpenenClick); });
    clickTo(imgOpenenBW, [this] { runHook(OpenenClick); });
    clickTo(imgOpslaan, [this] { runHook(imgOpslaanClick); });
    clickTo(imgOpslaanBw, [this] { runHook(imgOpslaanClick); });
    clickTo(imgBtnStop, [this] { btnStopClick(); });
    clickTo(imgBtnCoderen, [this] { runHook(imgBtnCoderenClick); });
    clickTo(imgButtonDecoderen, [this] { runHook(imgButtonDecoderenClick); });
    clickTo(imgBtnZoeken, [this] { imgBtnZoekenClick(); });
    clickTo(imgCodeOpenen, [this] { runHook(imgCodeOpenenClick); });
    clickTo(imgCodeOpslaan, [this] { runHook(imgCodeOpslaanClick); });
    connect(txtZoekWoord, &QLineEdit::returnPressed, this, [this] { runCommand([this] { imgBtnZoekenClick(); }); });
    placeToolRow();
}

void TfrmMemo::placeToolRow()
{
    // The right-anchored group keeps its distance to the right edge.
    const int shift = width() - kDesignClientWidth;
    const int y = (kToolRowHeight - 26) / 2;
    Bevel2->move(381 + shift, y);
    imgCodeOpenen->move(389 + shift, imgCodeOpenen->y());
    imgCodeOpenenBW->move(imgCodeOpenen->pos());
    imgCodeOpslaan->move(413 + shift, imgCodeOpslaan->y());
    imgCodeOpslaanBW->move(imgCodeOpslaan->pos());
    lblSleutel->move(445 + shift, (kToolRowHeight - lblSleutel->height()) / 2);
    for (std::size_t i = 0; i < keyEdits_.size(); ++i) {
        const int x = 485 + static_cast<int>(i) * 54 + shift;
        keyEdits_[i]->move(x, 6);
        keyUpDowns_[i]->move(x + 33, 6);
    }
}

QAction* TfrmMemo::addItem(QMenu* menu, QAction*& slot, const char* name, const QString& caption,
                           const QKeySequence& shortcut, const std::function<void()>& command)
{
    slot = menu->addAction(caption);
    slot->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) {
        slot->setShortcut(shortcut);
        slot->setShortcutContext(Qt::WindowShortcut);
    }
    connect(slot, &QAction::triggered, this, [this, command] { runCommand(command); });
    return slot;
}

void TfrmMemo::buildMenus()
{
    QMenuBar* bar = menuBar();
    Bestand1 = bar->addMenu(QStringLiteral("&File"));
    Bestand1->setObjectName(QStringLiteral("Bestand1"));
    addItem(Bestand1, Leegmaken1, "Leegmaken1", QStringLiteral("&New"), QKeySequence(Qt::CTRL | Qt::Key_N),
            [this] { NewMemo(false); });
    Bestand1->addSeparator();
    addItem(Bestand1, open1, "open1", QStringLiteral("&Open"), QKeySequence(Qt::CTRL | Qt::Key_O),
            [this] { runHook(OpenenClick); });
    addItem(Bestand1, Opslaan1, "Opslaan1", QStringLiteral("&Save as..."), QKeySequence(Qt::CTRL | Qt::Key_S),
            [this] { runHook(imgOpslaanClick); });
    addItem(Bestand1, mnuVerzegeldOpslaan, "mnuVerzegeldOpslaan", QStringLiteral("Save sealed..."),
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), [this] { SaveSealedCommand(); });
    Bestand1->addSeparator();
    addItem(Bestand1, Afdrukken1, "Afdrukken1", QStringLiteral("&Print"), QKeySequence(Qt::CTRL | Qt::Key_P),
            [this] { Afdrukken1Click(); });
    Bestand1->addSeparator();
    addItem(Bestand1, Afsluiten1, "Afsluiten1", QStringLiteral("Close"), QKeySequence(Qt::CTRL | Qt::Key_Q),
            [this] { close(); });

    Bewerken1 = bar->addMenu(QStringLiteral("&Edit"));
    Bewerken1->setObjectName(QStringLiteral("Bewerken1"));
    addItem(Bewerken1, Ongedaanmaken1, "Ongedaanmaken1", QStringLiteral("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z),
            [this] { Memo->undo(); });
    Bewerken1->addSeparator();
    addItem(Bewerken1, Sleutels1, "Sleutels1", QStringLiteral("Keys"), QKeySequence(Qt::CTRL | Qt::Key_K), [this] {
        TfrmSleutel& keys = program_.frmSleutel();
        keys.show();
        keys.raise();
    });
    Bewerken1->addSeparator();
    addItem(Bewerken1, Coderen1, "Coderen1", QStringLiteral("Encrypt"), QKeySequence(Qt::CTRL | Qt::Key_E),
            [this] { runHook(imgBtnCoderenClick); });
    addItem(Bewerken1, Decoderen1, "Decoderen1", QStringLiteral("Decrypt"), QKeySequence(Qt::CTRL | Qt::Key_D),
            [this] { runHook(imgButtonDecoderenClick); });
    QAction* unsealText = nullptr;
    addItem(Bewerken1, unsealText, "mnuTekstOntzegelen", QStringLiteral("Unseal text"), QKeySequence(),
            [this] { UnsealTextCommand(); });
    Bewerken1->addSeparator();
    addItem(Bewerken1, Knippen1, "Knippen1", QStringLiteral("&Cut"), QKeySequence(Qt::CTRL | Qt::Key_X),
            [this] { Memo->cut(); });
    addItem(Bewerken1, Kopieren1, "Kopieren1", QStringLiteral("&Copy"), QKeySequence(Qt::CTRL | Qt::Key_C),
            [this] { Memo->copy(); });
    addItem(Bewerken1, Plakken1, "Plakken1", QStringLiteral("&Paste"), QKeySequence(Qt::CTRL | Qt::Key_V),
            [this] { Memo->paste(); });
    Bewerken1->addSeparator();
    addItem(Bewerken1, Verwijderen1, "Verwijderen1", QStringLiteral("Delete"), QKeySequence(Qt::Key_Delete),
            [this] { Memo->deleteSelection(); });
    addItem(Bewerken1, Allesselecteren1, "Allesselecteren1", QStringLiteral("Select all"),
            QKeySequence(Qt::CTRL | Qt::Key_A), [this] { Memo->selectAll(); });
    // Opening the Edit menu stops the caret timer.
    connect(Bewerken1, &QMenu::aboutToShow, this, [this] { CursorTimer->stop(); });

    Mail1 = bar->addMenu(QStringLiteral("&Mail"));
    Mail1->setObjectName(QStringLiteral("Mail1"));
    addItem(Mail1, mnuOntvangen, "mnuOntvangen", QStringLiteral("&Receive"), QKeySequence(Qt::CTRL | Qt::Key_R),
            [this] {
                auto& w = program_.mailOntvangen();
                w.show();
                w.raise();
                w.activateWindow();
            });
    addItem(Mail1, Verzenden1, "Verzenden1", QStringLiteral("&Send"), QKeySequence(Qt::CTRL | Qt::Key_M), [this] {
        auto& w = program_.mail();
        w.show();
        w.raise();
        w.activateWindow();
    });

    Opties1 = bar->addMenu(QStringLiteral("&Options"));
    Opties1->setObjectName(QStringLiteral("Opties1"));
    addItem(Opties1, Startgeminimalizeerd1, "Startgeminimalizeerd1", QStringLiteral("Start minimized"), {},
            [this] { Startgeminimalizeerd1Click(); });
    Startgeminimalizeerd1->setCheckable(true);
    addItem(Opties1, Ladentijdensopstarten1, "Ladentijdensopstarten1", QStringLiteral("&Load on windows start"), {},
            [this] { Ladentijdensopstarten1Click(); });
    Ladentijdensopstarten1->setCheckable(true);
    Lock->addOptions(Opties1);

    Info1 = bar->addMenu(QStringLiteral("&Help"));
    Info1->setObjectName(QStringLiteral("Info1"));
    addItem(Info1, Help1, "Help1", QStringLiteral("&Help"), QKeySequence(Qt::Key_F1), [this] {
        auto& w = program_.frmHelp();
        w.show();
        w.raise();
    });
    Info1->addSeparator();
    addItem(Info1, Info2, "Info2", QStringLiteral("&About"), QKeySequence(Qt::CTRL | Qt::Key_F1), [this] {
        auto& w = program_.info();
        w.show();
        w.raise();
    });
}

void TfrmMemo::buildContextMenu()
{
    MemoPopUp = new QMenu(this);
    MemoPopUp->setObjectName(QStringLiteral("MemoPopUp"));
    addItem(MemoPopUp, Ongedaanmaken2, "Ongedaanmaken2", QStringLiteral("Undo"), {}, [this] { Memo->undo(); });
    MemoPopUp->addSeparator();
    addItem(MemoPopUp, Coderen2, "Coderen2", QStringLiteral("&Encrypt"), {}, [this] { runHook(imgBtnCoderenClick); });
    addItem(MemoPopUp, Decoderen2, "Decoderen2", QStringLiteral("&Decrypt"), {},
            [this] { runHook(imgButtonDecoderenClick); });
    MemoPopUp->addSeparator();
    addItem(MemoPopUp, Knippen2, "Knippen2", QStringLiteral("&Cut"), {}, [this] { Memo->cut(); });
    addItem(MemoPopUp, Kopieren2, "Kopieren2", QStringLiteral("&Copy"), {}, [this] { Memo->copy(); });
    addItem(MemoPopUp, Plakken2, "Plakken2", QStringLiteral("&Paste"), {}, [this] { Memo->paste(); });
    addItem(MemoPopUp, Verwijderen2, "Verwijderen2", QStringLiteral("&Delete"), {},
            [this] { Memo->deleteSelection(); });
    MemoPopUp->addSeparator();
    addItem(MemoPopUp, Allesselecteren2, "Allesselecteren2", QStringLiteral("Select all"), {},
            [this] { Memo->selectAll(); });
}

void TfrmMemo::buildTray()
{
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    addItem(PopupMenu, Compressieniveau2, "Compressieniveau2", QStringLiteral("Compress"), {}, [this] {
        auto& w = program_.frmCompressie();
        w.show();
        w.raise();
        w.activateWindow();
    });
    PopupMenu->addSeparator();
    addItem(PopupMenu, Afsluiten2, "Afsluiten2", QStringLiteral("&Close"), {}, [this] { close(); });
    Systray = new TSystray(this);
    Systray->setIcon(QIcon(programIcon(16)));
    Systray->setHint(QStringLiteral("Tarnquill(Compressie, Encryptie)"));
    Systray->setPopupMenu(PopupMenu);
    if (!TSystray::available()) {
        // Without a notification area (many Linux desktops, a bare X server) the
        // tray menu, and with it the archive window, would be out of reach: the
        // status bar offers it on a right-click instead.
        StatusBar->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(StatusBar, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
            runCommand([this, pos] { PopupMenu->popup(StatusBar->mapToGlobal(pos)); });
        });
    }
}

void TfrmMemo::connectMemo()
{
    // Every change of the text marks the memo as changed; the commands that only
    // change its form, or that load it, set the flag back themselves.
    connect(Memo, &MemoView::textChanged, this, [this] {
        memoModified_ = true;
        CursorTimer->wake();
    });
    // The caret timer rests while nothing changes; these are the changes it follows.
    connect(Memo, &MemoView::caretMoved, CursorTimer, &RestingTimer::wake);
    for (QAction* a : caretRuleItems()) {
        connect(a, &QAction::changed, CursorTimer, &RestingTimer::wake);
    }
    Memo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Memo, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        runCommand([this, pos] { MemoPopUp->popup(Memo->viewport()->mapToGlobal(pos)); });
    });
    connect(Memo, &MemoView::keyPressed, this, [this](int key, bool) {
        runCommand([this, key] {
            showCaretPosition();
            applySelectionRule();
            if (key == Qt::Key_F3 && txtZoekWoord->isVisible()) {
                txtZoekWoord->setFocus(Qt::ShortcutFocusReason);
            }
        });
    });
    connect(Memo, &MemoView::characterTyped, this, [this] {
        runCommand([this] {
            applySelectionRule();
            Opslaan1->setEnabled(true);
            setPanel(1, QStringLiteral("File changed(Save)."));
        });
    });
    connect(Memo, &MemoView::mousePressed, this, [this] {
        runCommand([this] {
            applySelectionRule();
            CursorTimer->start();
        });
    });
    connect(Memo, &MemoView::focusReceived, this, [this] {
        runCommand([this] {
            showCaretPosition();
            CursorTimer->start();
        });
    });
}

// ---------------------------------------------------------------------------
// Busy protocol

void TfrmMemo::DisableAll()
{
    ControlsEnabled = false;
    imgBtnZoeken->hide();
    imgBtnZoekenBW->show();
    imgCodeOpenenBW->show();
    imgCodeOpslaanBW->show();
    imgCodeOpenenBW->setEnabled(false);
    imgCodeOpslaanBW->setEnabled(false);
    imgCodeOpenen->hide();
    imgCodeOpslaan->hide();
    imgBtnLeegmaken->hide();
    imgBtnLeegmakenBW->show();
    imgOpslaan->hide();
    imgOpslaanBw->show();
    imgOpenen->hide();
    imgOpenenBW->show();
    imgBtnCoderen->setEnabled(false);
    imgButtonDecoderen->setEnabled(false);
    imgBtnStopBW->hide();
    imgBtnStop->show();
    imgBtnZoeken->setEnabled(false);
    imgCodeOpenen->setEnabled(false);
    imgCodeOpslaan->setEnabled(false);
    IOFunctions->setEnabled(false);
    txtZoekWoord->setEnabled(false);
    Memo->setEnabled(false);
    for (QLineEdit* e : keyEdits_) {
        e->setEnabled(false);
    }
    for (QSpinBox* u : keyUpDowns_) {
        u->setEnabled(false);
    }
    if (isVisible()) {
        for (QAction* a : mainMenuItems()) {
            a->setEnabled(false);
        }
    }
    CursorTimer->stop();
    Afsluiten1->setEnabled(true);
}

void TfrmMemo::EnableAll()
{
    ControlsEnabled = true;
    imgBtnZoeken->show();
    imgBtnZoekenBW->hide();
    imgCodeOpenen->show();
    imgCodeOpslaan->show();
    imgCodeOpenenBW->hide();
    imgCodeOpslaanBW->hide();
    imgBtnLeegmaken->show();
    imgBtnLeegmakenBW->hide();
    imgOpslaan->show();
    imgOpslaanBw->hide();
    imgOpenen->show();
    imgOpenenBW->hide();
    imgBtnCoderen->setEnabled(true);
    imgButtonDecoderen->setEnabled(true);
    imgBtnStop->hide();
    imgBtnStopBW->show();
    imgBtnZoeken->setEnabled(true);
    for (QLineEdit* e : keyEdits_) {
        e->setEnabled(true);
    }
    for (QSpinBox* u : keyUpDowns_) {
        u->setEnabled(true);
    }
    imgCodeOpenen->setEnabled(true);
    imgCodeOpslaan->setEnabled(true);
    Memo->setEnabled(true);
    IOFunctions->setEnabled(true);
    txtZoekWoord->setEnabled(true);
    if (isVisible()) {
        for (QAction* a : mainMenuItems()) {
            a->setEnabled(true);
        }
    }
    Afsluiten1->setEnabled(true);
    CursorTimer->start();
    applyLockState();
}

void TfrmMemo::beginBusy()
{
    AbortRequested = false;
    DisableAll();
    Memo->setBusy(true);
}

void TfrmMemo::startProgress()
{
    ProgressPercent = 0;
    ProgressShown = true;
    drawStatusBar();
}

void TfrmMemo::endBusy()
{
    ProgressShown = false;
    setPanel(0, QString());
    StatusBar->update();
    Memo->setBusy(false);
    EnableAll();
    Memo->setFocus();
}

void TfrmMemo::drawStatusBar()
{
    if (ProgressPercent > 98) {
        ProgressPercent = 98;
    }
    if (ProgressShown) {
        StatusBar->drawProgress();
        Statustimer->wake();
    }
}

void TfrmMemo::UpdateStatusBar()
{
    if (ProgressPercent > 98) {
        ProgressPercent = 98;
    }
    if (ProgressShown) {
        StatusBar->updateProgress();
        Statustimer->wake();
    }
}

void TfrmMemo::btnStopClick()
{
    if (engine_) {
        if (engine_->Bytes.Abort) {
            engine_->Cancel = true;
        } else {
            engine_->Bytes.Abort = true;
        }
    }
    Memo->setBusy(false);
    AbortRequested = true;
}

void TfrmMemo::runCommand(const std::function<void()>& command)
{
    runGuarded(this, command);
}

void TfrmMemo::runHook(const std::function<void()>& hook)
{
    if (hook) {
        hook();
    }
}

std::vector<QAction*> TfrmMemo::mainMenuItems() const
{
    std::vector<QAction*> items;
    for (QMenu* menu : {Bestand1, Bewerken1, Mail1, Opties1, Info1}) {
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator()) {
                items.push_back(a);
            }
        }
    }
    return items;
}

// ---------------------------------------------------------------------------
// Layout, showing, closing

void TfrmMemo::FormResize()
{
    drawStatusBar();
    if (ControlsEnabled) {
        EnableAll();
    } else {
        DisableAll();
    }
    placeToolRow();
    const int w = width();
    if (w > kSearchWidthLimit) {
        txtZoekWoord->show();
        Bevel2->show();
        if (ControlsEnabled) {
            imgBtnZoeken->show();
            imgBtnZoekenBW->hide();
            imgCodeOpenen->show();
            imgCodeOpslaan->show();
        } else {
            imgBtnZoekenBW->show();
            imgBtnZoeken->hide();
            imgCodeOpenen->hide();
            imgCodeOpslaan->hide();
            imgCodeOpenenBW->show();
            imgCodeOpslaanBW->show();
        }
    } else {
        txtZoekWoord->hide();
        imgBtnZoeken->hide();
        imgBtnZoekenBW->hide();
        Bevel2->hide();
    }
    if (w <= kKeysWidthLimit) {
        imgCodeOpenen->hide();
        imgCodeOpenenBW->hide();
        imgCodeOpslaan->hide();
        imgCodeOpslaanBW->hide();
        imgBtnZoeken->hide();
        imgBtnZoekenBW->hide();
        setKeyFieldsVisible(false);
    } else {
        setKeyFieldsVisible(true);
    }
}

void TfrmMemo::setKeyFieldsVisible(bool visible)
{
    lblSleutel->setVisible(visible);
    for (QLineEdit* e : keyEdits_) {
        e->setVisible(visible);
    }
    for (QSpinBox* u : keyUpDowns_) {
        u->setVisible(visible);
    }
}

void TfrmMemo::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    CursorTimer->wake(); // the caret timer keeps the least size
    runCommand([this] { FormResize(); });
}

void TfrmMemo::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    runCommand([this] { FormResize(); });
    if (!shownOnce_) {
        shownOnce_ = true;
        runCommand([this] { FormShow(); });
    }
}

void TfrmMemo::FormShow()
{
    shownOnce_ = true;
    drawStatusBar();
    if (namesExistingFile(argument_)) {
        openArgument(argument_);
        return;
    }
    Memo->setFocus();
}

bool TfrmMemo::openArgument(const QString& path)
{
    if (!namesExistingFile(path)) {
        return false;
    }
    const QString ext = upperExtension(path);
    if (ext == QStringLiteral(".X") || namesSealedArchive(path)) {
        TfrmCompressie& archive = program_.frmCompressie();
        archive.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        archive.show();
        archive.ReadFile(path);
        archive.setWindowFlag(Qt::WindowStaysOnTopHint, false);
        archive.show(); // changing the flag hides a window; show it again
        archive.raise();
        archive.activateWindow();
        return true;
    }
    if (sealed::IsSealedFile(toFsPath(path))) {
        // A sealed memo (whatever its name) opens in the memo after its passphrase.
        // The start's delayed clear is done now: fired later, it would empty the
        // memo the file has just filled.
        if (delayedClear->isActive()) {
            delayedClear->stop();
            Memo->clear();
            memoModified_ = false;
        }
        AbortRequested = false;
        OpenTarnFile(path);
        return true;
    }
    if (ext == QStringLiteral(".CRP")) {
        AbortRequested = false;
        TfrmSleutel& keys = program_.frmSleutel();
        keys.setStartFile(path);
        keys.show();
        keys.raise();
        keys.activateWindow();
        return true;
    }
    return false;
}

void TfrmMemo::argumentHandedOver(const QString& path)
{
    if (!invisible_) {
        // Back from the tray or the taskbar, as a double-click on the icon does.
        if (isMinimized() || !isVisible()) {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            show();
            if (Systray != nullptr && Systray->iconShown()) {
                Systray->ApplicationRestored();
            }
        }
        raise();
        activateWindow();
    }
    if (!openArgument(path) && invisible_) {
        // Only the archive window is seen: it is the one to come forward.
        TfrmCompressie& archive = program_.frmCompressie();
        archive.show();
        archive.raise();
        archive.activateWindow();
    }
}

bool TfrmMemo::hasUnsavedChanges() const
{
    if (Lock->lockedWithChanges()) {
        return true;
    }
    return memoModified_ && Memo->textLength() > 0;
}

bool TfrmMemo::confirmDiscard(QWidget* parent)
{
    if (Lock->locked()) {
        // Its text would come back over whatever replaced it.
        prompts::showError(parent != nullptr ? parent : this, QStringLiteral("Tarnquill"),
                           QStringLiteral("The memo is locked. Unlock it first."));
        return false;
    }
    if (!hasUnsavedChanges()) {
        return true;
    }
    return prompts::askYesNo(parent != nullptr ? parent : this, QStringLiteral("Tarnquill"),
                             QStringLiteral("The memo has changes that are not saved. Discard them?"));
}

void TfrmMemo::closeEvent(QCloseEvent* event)
{
    if (ClosingConfirmed) {
        event->accept();
        endProgram();
        return;
    }
    bool yes = false;
    runGuarded(this, [&] {
        QString question = QStringLiteral("Are you sure you want to close Tarnquill ?");
        if (hasUnsavedChanges()) {
            question = QStringLiteral("The memo has changes that are not saved.\n") + question;
        }
        yes = prompts::askYesNo(this, QStringLiteral("Tarnquill"), question);
    });
    if (!yes) {
        event->ignore();
        return;
    }
    // An archive with unsaved changes asks its own question as part of this
    // close; keeping the archive keeps the program, both windows open.
    TfrmCompressie& archive = program_.frmCompressie();
    if (archive.isVisible() && !archive.close()) {
        event->ignore();
        return;
    }
    AbortRequested = true;
    if (engine_) {
        engine_->Cancel = true;
        engine_->Bytes.Abort = true;
    }
    setPanel(0, QStringLiteral("Closing..."));
    ClosingConfirmed = true;
    CursorTimer->wake();
    // The receive window's session ends with the program (QUIT only when
    // connected; a wait that runs is ended at once).
    runGuarded(this, [this] { program_.mailOntvangen().Pop3Client.Disconnect(); });
    // A send that waits for its server ends at once too.
    program_.mail().SmtpClient.Abort();
    event->accept();
    endProgram();
}

void TfrmMemo::endProgram()
{
    // The program ends once control is back in the main event loop; a command
    // still running inside its event pump stops at its next test of the flags.
    // exit(), not quit(): quit() first closes every window and lets any of them
    // refuse, which would leave a running process with its windows hidden.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
}

void TfrmMemo::mousePressEvent(QMouseEvent* event)
{
    // A click on the window's free area starts the caret timer.
    CursorTimer->start();
    QMainWindow::mousePressEvent(event);
}

bool TfrmMemo::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtZoekWoord) {
        if (event->type() == QEvent::MouseButtonRelease) {
            // A click into the search box selects its text, so typing replaces it.
            CursorTimer->start();
            QTimer::singleShot(0, txtZoekWoord, [box = txtZoekWoord] { box->selectAll(); });
        } else if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_F3 || key == Qt::Key_Escape) {
                Memo->setFocus(Qt::ShortcutFocusReason);
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Editing, caret timer, search, printing

void TfrmMemo::setPanel(int panel, const QString& text)
{
    StatusBar->setPanelText(panel, text);
    if (panel == 2 || panel == 3) {
        CursorTimer->wake(); // its next tick writes the caret position again
    }
}

QString TfrmMemo::panel(int panel) const
{
    return StatusBar->panelText(panel);
}

void TfrmMemo::showCaretPosition()
{
    setPanel(2, QStringLiteral("Line: ") + QString::number(Memo->caretLine()));
    setPanel(3, QStringLiteral("Col: ") + QString::number(Memo->caretColumn()));
}

void TfrmMemo::applySelectionRule()
{
    const bool selected = Memo->selLength() > 0;
    for (QAction* a : {Knippen1, Kopieren1, Verwijderen1, Knippen2, Kopieren2, Verwijderen2}) {
        a->setEnabled(selected);
    }
}

void TfrmMemo::refreshClipboardState()
{
    const QClipboard* clipboard = QGuiApplication::clipboard();
    clipboardHasText_ = clipboard != nullptr && !clipboard->text().isEmpty();
}

struct TfrmMemo::CaretView {
    std::vector<bool> enabled;
    QString line;
    QString col;
    QSize size;
    bool operator==(const CaretView& o) const
    {
        return enabled == o.enabled && line == o.line && col == o.col && size == o.size;
    }
};

std::vector<QAction*> TfrmMemo::caretRuleItems() const
{
    return {Plakken1, Plakken2, Verzenden1, Opslaan1, Knippen1, Kopieren1, Verwijderen1, Knippen2, Kopieren2, Verwijderen2};
}

TfrmMemo::CaretView TfrmMemo::caretView() const
{
    CaretView v;
    for (QAction* a : caretRuleItems()) {
        v.enabled.push_back(a->isEnabled());
    }
    v.line = panel(2);
    v.col = panel(3);
    v.size = size();
    return v;
}

void TfrmMemo::CursorTimerTimer()
{
    if (ClosingConfirmed) {
        close();
        return;
    }
    if (!ControlsEnabled || Lock->locked()) {
        CursorTimer->rest(); // EnableAll (and unlocking) starts it again
        return;
    }
    const CaretView before = caretView();
    Plakken1->setEnabled(clipboardHasText_);
    Plakken2->setEnabled(clipboardHasText_);
    if (!invisible_ && (width() <= kMinWidth || height() <= kMinHeight)) {
        resize(width() <= kMinWidth ? kMinWidth : width(), height() <= kMinHeight ? kMinHeight : height());
    }
    QCoreApplication::processEvents();
    if (!ControlsEnabled) {
        return; // a command started while events were processed
    }
    const bool hasText = Memo->lineCount() > 0 || Memo->lineLength(0) > 0;
    Verzenden1->setEnabled(hasText);
    Opslaan1->setEnabled(hasText);
    showCaretPosition();
    applySelectionRule();
    if (caretView() == before) {
        CursorTimer->rest(); // until a text, caret, selection, clipboard or size change
    }
}

void TfrmMemo::NewMemo(bool fromImage)
{
    if (!confirmDiscard()) {
        return;
    }
    if (fromImage) {
        CursorTimer->start();
    }
    setWindowTitle(QStringLiteral("Tarnquill"));
    Opslaan1->setEnabled(false);
    setPanel(2, QStringLiteral("Line: 0"));
    setPanel(3, QStringLiteral("Col: 0"));
    setPanel(1, QStringLiteral("New file."));
    AbortRequested = true;
    Memo->clear();
    memoModified_ = false;
    Lock->drop(); // a new memo belongs to no sealed file
    if (fromImage) {
        Memo->setFocus();
    }
    // Text that a stopping command writes back within 100 ms is removed too.
    delayedClear->start();
}

void TfrmMemo::imgBtnZoekenClick()
{
    CursorTimer->start();
    const std::string word = cp1252::fromUtf8Lossy(txtZoekWoord->text().toStdString());
    const auto hit = searchLines(
        Memo->lineCount(), Memo->caretLine(), word, [this](int i) { return Memo->line(i); },
        [this](int i) { return static_cast<std::int64_t>(Memo->lineLength(i)); },
        [this] { yield_.maybePump(); });
    if (!hit) {
        return;
    }
    Memo->setFocus();
    Memo->setSelection(static_cast<int>(hit->offset), static_cast<int>(word.size()));
}

void TfrmMemo::Afdrukken1Click()
{
    QPrinter printer(QPrinter::HighResolution);
    const bool accepted = runPrintDialog(printer, this);
    if (!accepted) {
        return;
    }
    // The copies are written by the program itself, one after the other, so the
    // printer must not multiply them again.
    const int copies = std::max(1, printer.copyCount());
    printer.setCopyCount(1);
    printer.setDocName(windowTitle());
    // A long memo prints as a long command: busy, with the bar following the
    // characters printed, events flowing, and Abort withdrawing the job.
    const std::vector<std::string> lines = Memo->lines();
    double characters = 0;
    for (const std::string& line : lines) {
        characters += static_cast<double>(line.size());
    }
    const double total = std::max(1.0, characters * copies);
    double printed = 0;
    beginBusy();
    startProgress();
    PrintControl control;
    control.yield = &yield_.hook();
    control.abort = &AbortRequested;
    printPlainText(printer, lines, copies,
                   [&](int, double, const QString& row) {
                       printed += row.size();
                       ProgressPercent = std::min(100.0, printed / total * 100.0);
                   },
                   control);
    endBusy();
}

} // namespace tq
