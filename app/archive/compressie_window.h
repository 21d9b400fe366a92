// The archive window: lists, builds, saves and unpacks .X frame files.
//
// Created once at start-up, hidden; shown by the tray menu's "Compress" item or
// at start-up for a .X file given on the command line. Closing it only hides it
// and keeps the archive.
//
// The window owns one XFileFrame (the current archive) and one TCompress. The
// entry list shows one top-level node per entry, sorted by name without regard
// to letter case; a node's text is the entry name (folders separated by
// backslashes). Long commands run on the UI thread between DisableAll and
// EnableAll; the engines' yield hooks let Qt process events (repaints, the Stop
// button) while they work. Every command runs inside the error guard: a failure
// returns the window to idle and shows the error's text.
//
// Settings are read at the moment a command runs: the archive keys from the key
// dialog, the skip value and the sort time limit from the compression settings
// window.
//
// Sealed archives: "Verzegeld opslaan" writes the archive, entry names included,
// inside a sealed file under a passphrase asked twice. Open and ReadFile
// recognise a sealed file by its content and ask its passphrase; the archive is
// loaded from memory, never written to disk in the clear. While the archive
// comes from (or was saved to) a sealed file the window holds its key, and Save
// writes it sealed again without asking.
#pragma once

#include "app/restingtimer.h"
#include "app/statusbar.h"
#include "app/uiyield.h"
#include "archive/archive_ops.h"
#include "archive/xfileframe.h"
#include "compress/compress.h"
#include "crypto/sealed.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tq {

class TfrmCompressKey;
class TNiveau;
class TPathDialog;

class TfrmCompressie : public QWidget {
    Q_OBJECT
public:
    // Minimum window width at which the progress bar is drawn.
    static constexpr int kProgressMinWidth = 420;

    explicit TfrmCompressie(QWidget* owner = nullptr);
    ~TfrmCompressie() override;

    // The windows whose controls hold the settings and the folder picker. Until
    // they are given, the default keys and settings apply and the folder picker
    // is not available.
    void setDialogs(TPathDialog* pathDialog, TfrmCompressKey* keyDialog, TNiveau* settings);

    // Opens the archive at `path` without a dialog; the caption becomes
    // "Compressie - " and the file's name.
    void ReadFile(const QString& path);

    // Commands (each runs inside the error guard).
    void btnNieuwClick();
    void btnOpenenClick();
    void btnOpslaanClick();
    // Save sealed: a file name, a new passphrase (twice), then the archive sealed.
    void btnVerzegeldOpslaanClick();
    void btnToevoegenClick();
    void btnVerwijderenClick();
    void btnAddFolderClick();
    void btnDecomprimerenClick();
    void btnDeSelectClick();
    void btnStopClick();
    void btnInstellingenClick();
    void btnKeysClick();

    // Busy and idle.
    void DisableAll();
    void EnableAll();

    // Progress bar: frame and fill (sets ProgressVisible), or the fill only.
    void drawStatusbar();
    void updateStatusBar();
    // Whether the bar would be drawn now (visible flag and window wide enough).
    bool progressBarShown() const;

    // Timer handlers: state refresh (50 ms), one-shot panel clean (2 s), bar redraw (1 s).
    void TimerTimer();
    void StatusCleanTimer();
    void StatusTimerTimer();

    // Selection information: sizes and percentage of the selected (or all) entries.
    void TreeViewChange();

    // The size text of a byte count: "1 Byte", "N Bytes", "N KByte(s)", "N MByte(s)".
    static QString SizeText(std::int64_t count);

    // The entry names of the list's nodes, top to bottom (8-bit).
    std::vector<std::string> nodeNames() const;
    // Selects the nodes with these texts, in this order (which becomes the
    // selection order): for each text the node with exactly that text, else the
    // first whose text equals it without regard to letter case.
    void selectNodes(const std::vector<std::string>& names);

    XFileFrame& frame() { return frame_; }
    TCompress& compressor() { return compressor_; }
    TStatusBar* statusBar() const { return StatusBar; }

    // Window state.
    bool Saved = true;
    bool Idle = true;
    bool StopRequested = false;
    double Progress = 0;
    bool ProgressVisible = false;
    // Whether the archive came from, or was last saved to, a sealed file (its key is held).
    bool sealedArchive() const { return sealKey_.has_value(); }
    // The derivation parameters of new sealed archives.
    sealed::Params SealParams = sealed::kDefaultParams;

    // Controls.
    QToolBar* ToolBar = nullptr;
    QToolButton* btnNieuw = nullptr;
    QToolButton* btnOpenen = nullptr;
    QToolButton* btnOpslaan = nullptr;
    QToolButton* btnVerzegeldOpslaan = nullptr;
    QToolButton* btnToevoegen = nullptr;
    QToolButton* btnVerwijderen = nullptr;
    QToolButton* btnAddFolder = nullptr;
    QToolButton* btnDecomprimeren = nullptr;
    QToolButton* btnDeSelect = nullptr;
    QToolButton* btnStop = nullptr;
    QToolButton* btnInstellingen = nullptr;
    QToolButton* btnKeys = nullptr;
    QTreeWidget* TreeView = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* Decomprimeren1 = nullptr;
    QAction* Maptoevoegen1 = nullptr;
    QAction* Toevoegen1 = nullptr;
    QAction* Verwijderen1 = nullptr;
    TStatusBar* StatusBar = nullptr;
    // The state refresh and the bar redraw rest while their ticks have nothing to
    // do; list, selection, panel and enabling changes wake the refresh, a shown
    // bar wakes the redraw.
    RestingTimer* Timer = nullptr;
    QTimer* StatusClean = nullptr;
    RestingTimer* StatusTimer = nullptr;

signals:
    // The window was closed (hidden) by the user.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the state refresh shows; a tick that leaves it unchanged lets the timer rest.
    struct RefreshView {
        std::vector<QString> panels;
        std::vector<bool> enabled;
        bool operator==(const RefreshView& o) const { return panels == o.panels && enabled == o.enabled; }
    };
    RefreshView refreshView() const;
    std::vector<QWidget*> stateRefreshButtons() const;
    // The refresh itself (one tick of Timer).
    void refreshState();

    struct Settings {
        std::int32_t skip = 2;
        bool timeLimitOn = true;
        std::uint8_t timeLimitMs = 255;
    };

    void buildToolBar();
    void buildList();
    void buildMenu();
    // Runs a command inside the guard; a failure returns the window to idle.
    template <typename F>
    void runCommand(F&& command);
    // The skeleton of a long command: nothing while the window is busy; else
    // DisableAll, the command inside the guard, EnableAll.
    template <typename F>
    void runBusyCommand(F&& command);
    void recoverIdle();

    // "Het bestand is nog niet opgeslagen weet u", CR, eleven spaces, `ending`.
    static QString unsavedQuestion(const QString& ending);
    // True when the entries may go: none, all saved, or Yes to the question.
    bool mayDropEntries(const QString& ending);

    Settings currentSettings() const;
    ArchiveKeys currentKeys() const;
    // Shows the folder picker with `caption` (or the caption it has when empty);
    // returns the chosen folder, or an empty string when none was chosen.
    QString chooseFolder(const QString& caption);

    // The add commands' shared part: adds `files` (entry names given) with the
    // progress, status texts and nodes, until all are added or Stop is clicked.
    void addFiles(const std::vector<FileToAdd>& files, bool folderMode);
    // Replaces the list by the container's entries (the container is loaded).
    void rebuildList(bool withProgress);
    // Reads the archive at `path` into the window (the list rebuilt, saved state);
    // a sealed file asks its passphrase first.
    void loadArchive(const QString& path, bool withProgress);
    // Opens the sealed archive at `path` into the container (asking the
    // passphrase); false when cancelled or stopped, the container unchanged.
    bool loadSealedArchive(const QString& path);
    // Writes the archive sealed with `key` to `path`; false when stopped.
    bool saveSealedArchive(const QString& path, const sealed::SealKey& key);
    // The body of btnVerzegeldOpslaanClick (the window is busy).
    void saveSealedCommand();
    // The sealed engine's work: this window's pump, Stop and bar.
    sealed::Work sealedWork();
    // Shows and hides the bar around sealed work.
    void beginSealedWork();
    void endSealedWork();
    void clearList();
    QTreeWidgetItem* addNode(const std::string& entryName);
    // The selected nodes, in the order they were selected.
    std::vector<QTreeWidgetItem*> selectedInOrder() const;
    void setPanel(int panel, const QString& text);
    void setCaptionFor(const QString& path);
    void stepReached(std::size_t index, int step);
    void onSelectionChanged();

    XFileFrame frame_;
    TCompress compressor_;
    // The key of the sealed file the archive belongs to (see the top of this file).
    std::optional<sealed::SealKey> sealKey_;
    UiYield yield_;
    TPathDialog* pathDialog_ = nullptr;
    TfrmCompressKey* keyDialog_ = nullptr;
    TNiveau* settings_ = nullptr;
    // Share of one file in the progress of the running command.
    double fileShare_ = 100;
    // Nodes in the order they became selected.
    std::vector<QTreeWidgetItem*> selectionOrder_;
    // A selection change seen while busy; handled by EnableAll.
    bool selectionInfoPending_ = false;
    // Suppresses the selection information while the list is rebuilt.
    bool listUpdating_ = false;
};

} // namespace tq
