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

#include "app/statusbar.h"
#include "app/toolimages.h"
#include "app/uiyield.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPrinter;
class QSpinBox;
class QSystemTrayIcon;
class QTimer;

namespace tq {

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

    // Commands that other features of the program supply; until then they do
    // nothing: open and save .crp files, encrypt and decrypt, open and save keys.
    std::function<void()> OpenenClick;
    std::function<void()> imgOpslaanClick;
    std::function<void()> imgBtnCoderenClick;
    std::function<void()> imgButtonDecoderenClick;
    std::function<void()> imgCodeOpenenClick;
    std::function<void()> imgCodeOpslaanClick;

    // Runs the print dialog; replaceable so that tests can print to a PDF file.
    // Returns false when the user cancels.
    using PrintDialogRunner = std::function<bool(QPrinter& printer, QWidget* parent)>;
    static void setPrintDialogRunner(PrintDialogRunner runner);

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

    // Timers.
    QTimer* CursorTimer = nullptr;
    QTimer* delayedClear = nullptr;
    QTimer* Statustimer = nullptr;

    // The tray icon (null where the desktop has no notification area).
    QSystemTrayIcon* Systray = nullptr;

    // True when the clipboard holds text (kept up to date from the clipboard's
    // change notification, so the 10 ms caret timer never queries the clipboard).
    bool clipboardHasText() const { return clipboardHasText_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
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
    void paintProgress(QPainter& painter);
    void setKeyFieldsVisible(bool visible);
    void showTrayIcon();
    void restoreFromTray();
    void refreshClipboardState();
    QAction* addItem(QMenu* menu, QAction*& slot, const char* name, const QString& caption,
                     const QKeySequence& shortcut, const std::function<void()>& command);
    void runHook(const std::function<void()>& hook);
    std::vector<QAction*> mainMenuItems() const;

    TProgram& program_;
    QString argument_;
    bool invisible_ = false;
    bool startMinimized_ = false;
    bool shownOnce_ = false;
    bool clipboardHasText_ = false;
    std::unique_ptr<TCompress> engine_;
    UiYield yield_;
    QWidget* toolRow_ = nullptr;
    std::vector<QLineEdit*> keyEdits_;
    std::vector<QSpinBox*> keyUpDowns_;
};

} // namespace tq
