// The main window TfrmMemo: the memo editor with its tool row, key fields, menus,
// status bar and timers, the busy protocol of the long commands and the start-up
// and closing sequences.
//
// Busy protocol of a long command (see BusyScope below):
//   1. AbortRequested := false; DisableAll; wait cursor over the memo.
//   2. ProgressPercent := 0, ProgressShown := true, drawStatusBar; after each unit
//      of work the engine ticks its YieldHook (attached to yieldPump()), which
//      redraws the bar (UpdateStatusBar) and lets Qt process events every ~10 ms;
//      the command adds each unit's share to ProgressPercent and stops early when
//      AbortRequested is set.
//   3. ProgressShown := false, panel 0 emptied, status bar repainted, arrow cursor,
//      EnableAll, focus to the memo.
#pragma once

#include "app/restingtimer.h"
#include "app/statusbar.h"
#include "app/systray.h"
#include "app/toolimages.h"
#include "app/uiyield.h"
#include "crypto/linecipher.h"
#include "crypto/sealed.h"

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPrinter;
class QSpinBox;
class QTimer;

namespace tq {

class MemoLock;
class MemoView;
class TCompress;
class TProgram;

class TfrmMemo : public QMainWindow {
    Q_OBJECT

public:
    // Runs FormCreate. `argument` is the first command-line argument (empty when
    // there is none); `program` gives access to the other windows, which are
    // created after this one.
    TfrmMemo(TProgram& program, const QString& argument);
    ~TfrmMemo() override;

    // --- State shared with the long commands ---------------------------------
    bool AbortRequested = false;
    bool ClosingConfirmed = false;
    bool ControlsEnabled = true;
    double ProgressPercent = 0.0;
    bool ProgressShown = false;
    // Copy of the memo's lines taken before encrypting or decrypting.
    std::vector<std::string> LineBackup;

    // The main engine (compressor of the .crp file commands).
    TCompress& MainEngine() { return *engine_; }
    // The event pump the engines of this window tick.
    UiYield& yieldPump() { return yield_; }

    // --- Busy protocol ---------------------------------------------------------
    void DisableAll();
    void EnableAll();
    void drawStatusBar();
    void UpdateStatusBar();
    void btnStopClick();

    // Steps 1 and 3 of the busy protocol, for commands that run long.
    void beginBusy();
    void endBusy();
    // Step 2: progress bar shown at 0.
    void startProgress();

    // --- Unsaved changes ------------------------------------------------------------
    // Whether the memo holds changes that no save has stored. Every change of the
    // text sets it (typing, pasting, undo, the edit commands); a successful save,
    // an open and New clear it. Encrypting and decrypting change the text's form,
    // not its content, and leave it as it was.
    bool memoModified() const { return memoModified_; }
    void setMemoModified(bool modified) { memoModified_ = modified; }
    // True when replacing the memo would lose something: changed and not empty.
    bool hasUnsavedChanges() const;
    // Asked before the memo's text is replaced (New, Open, a file handed over,
    // a received message): true when it may go, that is nothing is unsaved or
    // the user answers Yes to discarding. `parent` shows the question (this
    // window when null).
    bool confirmDiscard(QWidget* parent = nullptr);

    // Opens a file given on the command line, or handed over by a second start:
    // a .X archive in the archive window, a .crp file through the key dialog;
    // anything else, or a path naming no existing file, opens nothing. Returns
    // false when nothing was opened.
    bool openArgument(const QString& path);
    // A second start handed `path` over (absolute, or empty): brings the program
    // to the front and opens the path as the command line would.
    void argumentHandedOver(const QString& path);

    // Runs a command of this window inside the error guard.
    void runCommand(const std::function<void()>& command);

    // --- Layout ----------------------------------------------------------------
    // The layout pass (FormResize): tool visibility by width and state.
    void FormResize();
    // FormShow's steps; run once on the first showing (or directly when the
    // window stays invisible for a .X argument).
    void FormShow();

    // --- Commands of this window ---------------------------------------------------
    // New memo; `fromImage` is true for the tool image (starts the caret timer and
    // focuses the memo).
    void NewMemo(bool fromImage);
    // Searches the memo for the search box's word, from the caret's line down.
    void imgBtnZoekenClick();
    // Print dialog, then plain-text printing of the memo.
    void Afdrukken1Click();
    // Caret timer tick.
    void CursorTimerTimer();
    // Enables Cut, Copy and Delete in both menus by the selection.
    void applySelectionRule();
    // Writes "Line: " and "Col: " with the caret position into panels 2 and 3.
    void showCaretPosition();

    // Commands of the tool row and menus, filled at creation: open and save
    // .crp files, encrypt and decrypt, open and save keys. Other windows call
    // them too (the key dialog, the mail windows).
    std::function<void()> OpenenClick;
    std::function<void()> imgOpslaanClick;
    std::function<void()> imgBtnCoderenClick;
    std::function<void()> imgButtonDecoderenClick;
    std::function<void()> imgCodeOpenenClick;
    std::function<void()> imgCodeOpslaanClick;

    // --- Text encryption ----------------------------------------------------------
    // The working key set: the cipher's key triple (keys 1 to 3, low 8 bits) and
    // key 4. The commands take keys 1 to 3 from here and the pass count from
    // Scale4; key 4 is the starting value of Open keys.
    struct KeySet {
        std::uint8_t key1 = 0;
        std::uint8_t key2 = 0;
        std::uint8_t key3 = 0;
        std::int32_t key4 = 0;
    };
    KeySet WorkingKeys;
    // The key set the fields show at start, which is also the working set's
    // start, so that what the user sees is what encrypts.
    static constexpr int kDefaultKeys[4] = {5, 7, 10, 1};
    // Key field n (1..4) and its up-down.
    QLineEdit* keyField(int n) const;
    QSpinBox* keyUpDown(int n) const;
    // Key n (1..4) as the tool row shows it: its up-down's value and its field's
    // text. Other windows (the key dialog) read and set the keys through these.
    // Setting a value outside the up-down's range takes the nearest bound; a
    // change of a field's text brings the working set in line with the up-downs.
    int keyNumber(int n) const;
    void setKeyNumber(int n, int value);
    QString keyText(int n) const;
    void setKeyText(int n, const QString& text);
    // Copies the four up-down values into the working set (any key field change).
    void CodeKey1Change();
    CipherKeys workingTriple() const;

    // Whether the memo holds cipher text: its text, a final line break aside, has
    // the form the cipher writes (IsCipherText). Plain text, accented or not, is
    // never taken for cipher text.
    bool Gecodeerd() const;
    // The same test for a given text.
    static bool RegelGecodeerd(std::string_view text);

    // The line cipher over `text` with this window's progress bar and Abort: an
    // abort returns `text` unchanged. Throws CipherError.
    std::string CodeLine(std::string_view text, const CipherKeys& keys);
    std::string DeCodeLine(std::string_view cipher, const CipherKeys& keys);

    // The commands behind the hooks above.
    void EncryptCommand();
    void DecryptCommand();
    // The same commands over the whole memo, key 4 + 1 passes, whatever is
    // selected (the send window encrypts and decrypts the memo it mails).
    void EncryptWholeMemo();
    void DecryptWholeMemo();
    void OpenCommand();
    void SaveCommand();
    void OpenKeysCommand();
    void SaveKeysCommand();
    // Loads, decompresses and decrypts a .crp file into the memo; a sealed file
    // (recognised by its first bytes, whatever its name) goes to OpenSealedFile.
    void OpenTarnFile(const QString& path);

    // --- Sealed files -----------------------------------------------------------
    // File > "Save sealed...": asks for a file and a new passphrase and seals the
    // memo's text into it.
    void SaveSealedCommand();
    // Asks for the passphrase and opens a sealed file into the memo, setting the
    // caption to `caption`. A wrong passphrase or a damaged file changes nothing.
    void OpenSealedFile(const QString& path, const QString& caption);
    // Edit > "Unseal text": asks for the passphrase and replaces the first
    // block of sealed text (ASCII armour) in the memo by the text it seals; a
    // memo without such a block gets a message and stays as it is.
    void UnsealTextCommand();
    // Key derivation parameters new sealed files get (tests lower them).
    sealed::Params SealParams = sealed::kDefaultParams;
    // Work for the sealed engine: this window's event pump, abort flag and bar.
    sealed::Work sealedWork();

    // --- Locking (app/lock/memo_lock.h) ---------------------------------------------
    // Holds the key of the sealed file the memo belongs to, locks and unlocks it.
    MemoLock* Lock = nullptr;
    // Shows the locked panel or the memo by the lock's state; while locked,
    // every command that reads or changes the memo is disabled (EnableAll calls it).
    void applyLockState();
    // Wipes the copies of the memo's text the window keeps besides the memo
    // (the encrypt and decrypt backups) and resets the search box.
    void wipeMemoCopies();

    // The first command-line argument (empty when none).
    const QString& argument() const { return argument_; }
    // True when the window stays invisible for a .X argument.
    bool invisibleMode() const { return invisible_; }
    // True when FormCreate decided to start minimized.
    bool startsMinimized() const { return startMinimized_; }

    // Status bar panel texts.
    void setPanel(int panel, const QString& text);
    QString panel(int panel) const;

    // --- Controls (names of the window's design) ---------------------------------
    MemoView* Memo = nullptr;
    TStatusBar* StatusBar = nullptr;
    QWidget* IOFunctions = nullptr;
    TImage* imgBtnLeegmaken = nullptr;
    TImage* imgBtnLeegmakenBW = nullptr;
    TImage* imgOpenen = nullptr;
    TImage* imgOpenenBW = nullptr;
    TImage* imgOpslaan = nullptr;
    TImage* imgOpslaanBw = nullptr;
    TImage* imgBtnStop = nullptr;
    TImage* imgBtnStopBW = nullptr;
    TImage* imgBtnCoderen = nullptr;
    TImage* imgButtonDecoderen = nullptr;
    QLineEdit* txtZoekWoord = nullptr;
    TImage* imgBtnZoeken = nullptr;
    TImage* imgBtnZoekenBW = nullptr;
    QFrame* Bevel2 = nullptr;
    TImage* imgCodeOpenen = nullptr;
    TImage* imgCodeOpenenBW = nullptr;
    TImage* imgCodeOpslaan = nullptr;
    TImage* imgCodeOpslaanBW = nullptr;
    QLabel* lblSleutel = nullptr;
    QLineEdit* CodeKey1 = nullptr;
    QLineEdit* codeKey2 = nullptr;
    QLineEdit* codeKey3 = nullptr;
    QLineEdit* CodeKey4 = nullptr;
    QSpinBox* Scale1 = nullptr;
    QSpinBox* scale2 = nullptr;
    QSpinBox* Scale3 = nullptr;
    QSpinBox* Scale4 = nullptr;

    // Menus and their items.
    QMenu* Bestand1 = nullptr;
    QMenu* Bewerken1 = nullptr;
    QMenu* Mail1 = nullptr;
    QMenu* Opties1 = nullptr;
    QMenu* Info1 = nullptr;
    QAction* Leegmaken1 = nullptr;
    QAction* open1 = nullptr;
    QAction* Opslaan1 = nullptr;
    QAction* mnuVerzegeldOpslaan = nullptr;
    QAction* Afdrukken1 = nullptr;
    QAction* Afsluiten1 = nullptr;
    QAction* Ongedaanmaken1 = nullptr;
    QAction* Sleutels1 = nullptr;
    QAction* Coderen1 = nullptr;
    QAction* Decoderen1 = nullptr;
    QAction* Knippen1 = nullptr;
    QAction* Kopieren1 = nullptr;
    QAction* Plakken1 = nullptr;
    QAction* Verwijderen1 = nullptr;
    QAction* Allesselecteren1 = nullptr;
    QAction* mnuOntvangen = nullptr;
    QAction* Verzenden1 = nullptr;
    QAction* Startgeminimalizeerd1 = nullptr;
    QAction* Ladentijdensopstarten1 = nullptr;
    QAction* Help1 = nullptr;
    QAction* Info2 = nullptr;

    // Memo context menu.
    QMenu* MemoPopUp = nullptr;
    QAction* Ongedaanmaken2 = nullptr;
    QAction* Coderen2 = nullptr;
    QAction* Decoderen2 = nullptr;
    QAction* Knippen2 = nullptr;
    QAction* Kopieren2 = nullptr;
    QAction* Plakken2 = nullptr;
    QAction* Verwijderen2 = nullptr;
    QAction* Allesselecteren2 = nullptr;

    // Tray menu.
    QMenu* PopupMenu = nullptr;
    QAction* Compressieniveau2 = nullptr;
    QAction* Afsluiten2 = nullptr;

    // Timers. The caret and status timers rest while their ticks have nothing to
    // do; the events that give them work wake them (see connectMemo).
    RestingTimer* CursorTimer = nullptr;
    QTimer* delayedClear = nullptr;
    RestingTimer* Statustimer = nullptr;

    // The tray icon (shown only while the window is minimized, where the desktop
    // has a notification area).
    TSystray* Systray = nullptr;

    // True when the clipboard holds text (kept up to date from the clipboard's
    // change notification, so the 10 ms caret timer never queries the clipboard).
    bool clipboardHasText() const { return clipboardHasText_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    // Ends the event loop without asking the other windows again.
    void endProgram();
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void FormCreate();
    void buildToolRow();
    void buildMenus();
    void buildContextMenu();
    void buildTray();
    void connectMemo();
    void placeToolRow();
    void setKeyFieldsVisible(bool visible);
    // Step 13 of FormCreate: the file associations of "x" and "crp"; a failure
    // is reported in the status bar and the start goes on.
    void registerFileTypes();
    void reportRegistrationFailure(const std::string& why);
    void refreshClipboardState();
    // What the caret timer shows; a tick that leaves it unchanged lets the timer rest.
    struct CaretView;
    std::vector<QAction*> caretRuleItems() const;
    CaretView caretView() const;
    QAction* addItem(QMenu* menu, QAction*& slot, const char* name, const QString& caption,
                     const QKeySequence& shortcut, const std::function<void()>& command);
    void runHook(const std::function<void()>& hook);
    void Startgeminimalizeerd1Click();
    void Ladentijdensopstarten1Click();
    std::vector<QAction*> mainMenuItems() const;

    TProgram& program_;
    QString argument_;
    bool invisible_ = false;
    bool startMinimized_ = false;
    bool shownOnce_ = false;
    bool clipboardHasText_ = false;
    bool memoModified_ = false;
    std::unique_ptr<TCompress> engine_;
    UiYield yield_;
    YieldHook cipherYield_;
    std::unique_ptr<LineCipher> cipher_;
    // The memo's exact text before the running encrypt or decrypt command.
    std::string textBackup_;
    // Runs `passes` passes of the cipher over `text` (whole memo) with the bar.
    std::string runCipherPasses(std::string_view text, bool encrypt, int passes);
    // The encrypt and decrypt commands: the selection or the whole memo.
    void runCipherCommand(bool encrypt, bool wholeMemo = false);
    std::string withCipherProgress(const std::function<std::string()>& run);
    // Restores the memo from the backup after an abort or a failed pass.
    void restoreMemoBackup();
    void enableAllMenuItems();
    QWidget* toolRow_ = nullptr;
    std::vector<QLineEdit*> keyEdits_;
    std::vector<QSpinBox*> keyUpDowns_;
};

} // namespace tq
