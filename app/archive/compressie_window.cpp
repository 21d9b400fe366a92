#include "app/archive/compressie_window.h"

#include "app/guard.h"
#include "app/seams.h"
#include "app/toolimages.h"
#include "app/windowsetup.h"
#include "archive/archive_paths.h"
#include "archive/archive_plan.h"
#include "archive/sealed_archive.h"
#include "app/archive/archive_window_art.h"
#include "app/archive/compresskey_window.h"
#include "app/archive/pathdialog_window.h"
#include "app/keys/niveau_window.h"
#include "platform/codepage.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QShowEvent>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_set>

namespace tq {
namespace {

constexpr int kNameRole = Qt::UserRole;
// The ending of the question before Open drops unsaved entries.
const QString kOpenOtherEnding = QStringLiteral("zeker dat u een ander bestand wilt openen");

std::string toUtf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

QString shown(const std::string& entryName)
{
    return QString::fromStdString(cp1252::toUtf8(entryName));
}

// Sort key of a node: the name upper-cased as names are compared, then its bytes.
std::string upperKey(const std::string& name)
{
    std::string key = name;
    for (char& c : key) {
        c = static_cast<char>(cp1252::toUpper(static_cast<unsigned char>(c)));
    }
    return key;
}

bool nameBefore(const std::string& a, const std::string& b)
{
    const std::string ka = upperKey(a);
    const std::string kb = upperKey(b);
    return ka != kb ? ka < kb : a < b;
}

std::string nodeName(const QTreeWidgetItem* item)
{
    return item->data(0, kNameRole).toByteArray().toStdString();
}

// The last component of an entry name.
std::string lastComponent(const std::string& entryName)
{
    const std::size_t slash = entryName.find_last_of('\\');
    return slash == std::string::npos ? entryName : entryName.substr(slash + 1);
}

QString percentText(std::int64_t percent)
{
    return QString::number(percent) + QStringLiteral(" %");
}

} // namespace

// ---------------------------------------------------------------------------
// Window set-up

TfrmCompressie::TfrmCompressie(QWidget*)
    : QWidget(nullptr)
{
    setObjectName(QStringLiteral("TfrmCompressie"));
    // The timers come first: building the window already writes the panels.
    Timer = new RestingTimer(QStringLiteral("Timer"), 50, this);
    connect(Timer, &RestingTimer::timeout, this, [this] { runGuarded(this, [this] { TimerTimer(); }); });
    StatusTimer = new RestingTimer(QStringLiteral("StatusTimer"), 1000, this);
    connect(StatusTimer, &RestingTimer::timeout, this, [this] { StatusTimerTimer(); });
    prepareWindow(this, QStringLiteral("Compressie"), QSize(439, 279), Frame::Sizeable, false);
    // Opens centred on the desktop.
    centreOver(this, nullptr);

    yield_.attach(compressor_.Yield);
    yield_.attach(frame_.Yield);
    yield_.setRedraw([this] {
        if (ProgressVisible) {
            StatusBar->update();
        }
    });

    buildToolBar();
    buildList();
    buildMenu();

    StatusBar = new TStatusBar({100, 100, 40, 50}, 21, this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    // Frame from (W-115, 4) to (W-15, 17), fill from (W-114, 5) over Progress pixels.
    StatusBar->placeProgress(TStatusBar::Edge::Right, 115);
    StatusBar->setProgressSource([this]() -> std::optional<double> {
        if (!progressBarShown()) {
            return std::nullopt;
        }
        return Progress;
    });
    connect(StatusBar, &TStatusBar::resized, this, [this] {
        if (ProgressVisible) {
            drawStatusbar();
        }
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar);
    layout->addWidget(TreeView, 1);
    layout->addWidget(StatusBar);


    StatusClean = new QTimer(this);
    StatusClean->setObjectName(QStringLiteral("StatusClean"));
    StatusClean->setInterval(2000);
    StatusClean->setSingleShot(true);
    connect(StatusClean, &QTimer::timeout, this, [this] { StatusCleanTimer(); });

    Timer->start();
    StatusTimer->start();
    // What the state refresh follows while it rests.
    connect(TreeView->model(), &QAbstractItemModel::rowsInserted, Timer, &RestingTimer::wake);
    connect(TreeView->model(), &QAbstractItemModel::rowsRemoved, Timer, &RestingTimer::wake);
    connect(TreeView->model(), &QAbstractItemModel::modelReset, Timer, &RestingTimer::wake);
    connect(TreeView, &QTreeWidget::itemSelectionChanged, Timer, &RestingTimer::wake);
    for (QAction* a : {Decomprimeren1, Verwijderen1}) {
        connect(a, &QAction::changed, Timer, &RestingTimer::wake);
    }
    for (QWidget* b : stateRefreshButtons()) {
        b->installEventFilter(this);
    }
}

TfrmCompressie::~TfrmCompressie() = default;

void TfrmCompressie::buildToolBar()
{
    ToolBar = new QToolBar(this);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setIconSize(QSize(22, 22));
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);

    const auto make = [this](QToolButton*& button, const char* name, const QPixmap& colour, const QString& hint,
                             void (TfrmCompressie::*command)()) {
        button = new QToolButton(ToolBar);
        button->setObjectName(QString::fromLatin1(name));
        QIcon icon;
        icon.addPixmap(colour, QIcon::Normal);
        icon.addPixmap(greyTwin(colour), QIcon::Disabled);
        button->setIcon(icon);
        button->setToolTip(hint);
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, [this, command] { (this->*command)(); });
        ToolBar->addWidget(button);
    };

    make(btnNieuw, "btnNieuw", toolPixmap(ToolArt::New), QStringLiteral("Nieuw"), &TfrmCompressie::btnNieuwClick);
    ToolBar->addSeparator();
    make(btnOpenen, "btnOpenen", toolPixmap(ToolArt::Open), QStringLiteral("Openen"),
         &TfrmCompressie::btnOpenenClick);
    make(btnOpslaan, "btnOpslaan", toolPixmap(ToolArt::Save), QStringLiteral("Opslaan"),
         &TfrmCompressie::btnOpslaanClick);
    make(btnVerzegeldOpslaan, "btnVerzegeldOpslaan", archiveToolPixmap(ArchiveTool::SaveSealed),
         QStringLiteral("Verzegeld opslaan"), &TfrmCompressie::btnVerzegeldOpslaanClick);
    ToolBar->addSeparator();
    make(btnToevoegen, "btnToevoegen", archiveToolPixmap(ArchiveTool::AddFiles), QStringLiteral("Toevoegen"),
         &TfrmCompressie::btnToevoegenClick);
    make(btnVerwijderen, "btnVerwijderen", archiveToolPixmap(ArchiveTool::Delete), QStringLiteral("Verwijderen"),
         &TfrmCompressie::btnVerwijderenClick);
    make(btnAddFolder, "btnAddFolder", archiveToolPixmap(ArchiveTool::AddFolder), QStringLiteral("Map toevoegen"),
         &TfrmCompressie::btnAddFolderClick);
    ToolBar->addSeparator();
    make(btnDecomprimeren, "btnDecomprimeren", archiveToolPixmap(ArchiveTool::Extract),
         QStringLiteral("Decomprimeren"), &TfrmCompressie::btnDecomprimerenClick);
    make(btnDeSelect, "btnDeSelect", archiveToolPixmap(ArchiveTool::Deselect), QStringLiteral("Deselecteren"),
         &TfrmCompressie::btnDeSelectClick);
    ToolBar->addSeparator();
    make(btnStop, "btnStop", toolPixmap(ToolArt::Abort), QStringLiteral("Stoppen"), &TfrmCompressie::btnStopClick);
    ToolBar->addSeparator();
    make(btnInstellingen, "btnInstellingen", archiveToolPixmap(ArchiveTool::Settings),
         QStringLiteral("Instellingen"), &TfrmCompressie::btnInstellingenClick);
    make(btnKeys, "btnKeys", toolPixmap(ToolArt::OpenKeys), QString(), &TfrmCompressie::btnKeysClick);

    btnOpslaan->setEnabled(false);
    btnVerzegeldOpslaan->setEnabled(false);
    btnVerwijderen->setEnabled(false);
    btnDecomprimeren->setEnabled(false);
    btnStop->setEnabled(false);
}

void TfrmCompressie::buildList()
{
    TreeView = new QTreeWidget(this);
    TreeView->setObjectName(QStringLiteral("TreeView"));
    TreeView->setColumnCount(1);
    TreeView->setHeaderHidden(true);
    TreeView->setRootIsDecorated(false);
    TreeView->setUniformRowHeights(true);
    TreeView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    TreeView->setIconSize(QSize(16, 16));
    TreeView->setContextMenuPolicy(Qt::CustomContextMenu);

    connect(TreeView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                for (const QModelIndex& index : deselected.indexes()) {
                    QTreeWidgetItem* item = TreeView->itemFromIndex(index);
                    selectionOrder_.erase(std::remove(selectionOrder_.begin(), selectionOrder_.end(), item),
                                          selectionOrder_.end());
                }
                for (const QModelIndex& index : selected.indexes()) {
                    QTreeWidgetItem* item = TreeView->itemFromIndex(index);
                    if (item != nullptr &&
                        std::find(selectionOrder_.begin(), selectionOrder_.end(), item) == selectionOrder_.end()) {
                        selectionOrder_.push_back(item);
                    }
                }
            });
    connect(TreeView, &QTreeWidget::itemSelectionChanged, this, [this] { onSelectionChanged(); });
    // Double-clicking the list runs Extract, on a node or on an empty part (the
    // view itself reports double clicks on nodes only).
    TreeView->viewport()->installEventFilter(this);
    connect(TreeView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (Idle) {
            PopupMenu->popup(TreeView->viewport()->mapToGlobal(at));
        }
    });
}

bool TfrmCompressie::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && watched->isWidgetType()) {
        const auto buttons = stateRefreshButtons();
        if (std::find(buttons.begin(), buttons.end(), watched) != buttons.end()) {
            Timer->wake();
        }
    }
    if (watched == TreeView->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        btnDecomprimerenClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmCompressie::buildMenu()
{
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    const auto add = [this](QAction*& action, const char* name, const QString& text, const QKeySequence& key,
                            void (TfrmCompressie::*command)()) {
        action = PopupMenu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, command] { (this->*command)(); });
        // The shortcuts work without the menu being open.
        addAction(action);
    };
    add(Decomprimeren1, "Decomprimeren1", QStringLiteral("&Decomprimeren"), QKeySequence(Qt::CTRL | Qt::Key_D),
        &TfrmCompressie::btnDecomprimerenClick);
    PopupMenu->addSeparator();
    add(Maptoevoegen1, "Maptoevoegen1", QStringLiteral("&Map toevoegen"), QKeySequence(Qt::CTRL | Qt::Key_M),
        &TfrmCompressie::btnAddFolderClick);
    add(Toevoegen1, "Toevoegen1", QStringLiteral("&Toevoegen"), QKeySequence(Qt::CTRL | Qt::Key_T),
        &TfrmCompressie::btnToevoegenClick);
    PopupMenu->addSeparator();
    add(Verwijderen1, "Verwijderen1", QStringLiteral("Verwij&deren"), QKeySequence(Qt::Key_Delete),
        &TfrmCompressie::btnVerwijderenClick);
    Decomprimeren1->setEnabled(false);
    Verwijderen1->setEnabled(false);
}

void TfrmCompressie::setDialogs(TPathDialog* pathDialog, TfrmCompressKey* keyDialog, TNiveau* settings)
{
    pathDialog_ = pathDialog;
    keyDialog_ = keyDialog;
    settings_ = settings;
}

// ---------------------------------------------------------------------------
// Guard, busy and idle

template <typename F>
void TfrmCompressie::runBusyCommand(F&& command)
{
    if (!Idle) {
        return;
    }
    runCommand([this, &command] {
        DisableAll();
        command();
        EnableAll();
    });
}

template <typename F>
void TfrmCompressie::runCommand(F&& command)
{
    runGuarded(this, [this, &command] {
        try {
            command();
        } catch (...) {
            recoverIdle();
            throw;
        }
    });
}

void TfrmCompressie::recoverIdle()
{
    listUpdating_ = false;
    StopRequested = false;
    Progress = 0;
    ProgressVisible = false;
    setPanel(0, QString());
    compressor_.Bytes.ReleaseSpare();
    StatusBar->update();
    EnableAll();
}

void TfrmCompressie::DisableAll()
{
    Idle = false;
    TreeView->setEnabled(false);
    for (QToolButton* b : {btnNieuw, btnOpenen, btnOpslaan, btnVerzegeldOpslaan, btnToevoegen, btnVerwijderen,
                           btnAddFolder, btnDecomprimeren, btnDeSelect, btnStop, btnInstellingen, btnKeys}) {
        b->setEnabled(false);
    }
    for (QAction* a : {Decomprimeren1, Maptoevoegen1, Toevoegen1, Verwijderen1}) {
        a->setEnabled(false);
    }
    setCursor(Qt::BusyCursor);
    btnStop->setEnabled(true);
}

void TfrmCompressie::EnableAll()
{
    Idle = true;
    TreeView->setEnabled(true);
    for (QToolButton* b : {btnNieuw, btnOpenen, btnOpslaan, btnVerzegeldOpslaan, btnToevoegen, btnVerwijderen,
                           btnAddFolder, btnDecomprimeren, btnDeSelect, btnStop, btnInstellingen, btnKeys}) {
        b->setEnabled(true);
    }
    Maptoevoegen1->setEnabled(true);
    Toevoegen1->setEnabled(true);
    unsetCursor();
    btnStop->setEnabled(false);
    // The state refresh now rather than at the next tick, so that no command is
    // offered that does not apply.
    TimerTimer();
    if (selectionInfoPending_) {
        selectionInfoPending_ = false;
        TreeViewChange();
    }
}

// ---------------------------------------------------------------------------
// Timers and the progress bar

std::vector<QWidget*> TfrmCompressie::stateRefreshButtons() const
{
    return {btnDeSelect, btnVerwijderen, btnOpslaan, btnVerzegeldOpslaan, btnDecomprimeren};
}

TfrmCompressie::RefreshView TfrmCompressie::refreshView() const
{
    RefreshView v;
    for (int i = 0; i < StatusBar->panelCount(); ++i) {
        v.panels.push_back(StatusBar->panelText(i));
    }
    for (QWidget* b : stateRefreshButtons()) {
        v.enabled.push_back(b->isEnabled());
    }
    v.enabled.push_back(Decomprimeren1->isEnabled());
    v.enabled.push_back(Verwijderen1->isEnabled());
    v.enabled.push_back(testAttribute(Qt::WA_SetCursor));
    return v;
}

void TfrmCompressie::TimerTimer()
{
    const RefreshView before = refreshView();
    refreshState();
    if (refreshView() == before) {
        Timer->rest(); // until the list, the selection, a panel or an enabling changes
    }
}

void TfrmCompressie::refreshState()
{
    const bool empty = TreeView->topLevelItemCount() == 0;
    if (empty) {
        for (int i = 0; i < StatusBar->panelCount(); ++i) {
            setPanel(i, QString());
        }
    }
    if (!Idle) {
        return;
    }
    unsetCursor();
    const bool anySelected = !TreeView->selectionModel()->selectedRows().isEmpty();
    Decomprimeren1->setEnabled(anySelected);
    Verwijderen1->setEnabled(anySelected);
    btnDeSelect->setEnabled(anySelected);
    btnVerwijderen->setEnabled(anySelected);
    if (empty) {
        compressor_.Bytes.ReleaseSpare();
        frame_.ReleaseSpare();
    }
    btnOpslaan->setEnabled(!empty);
    btnVerzegeldOpslaan->setEnabled(!empty);
    btnDecomprimeren->setEnabled(!empty);
}

void TfrmCompressie::StatusCleanTimer()
{
    for (int i = 0; i < 3; ++i) {
        setPanel(i, QString());
    }
    StatusClean->stop();
}

void TfrmCompressie::StatusTimerTimer()
{
    if (ProgressVisible) {
        drawStatusbar();
    } else {
        StatusTimer->rest(); // the next bar wakes it (drawStatusbar, updateStatusBar)
    }
}

void TfrmCompressie::drawStatusbar()
{
    ProgressVisible = true;
    StatusBar->drawProgress();
    StatusTimer->wake();
}

void TfrmCompressie::updateStatusBar()
{
    StatusBar->updateProgress();
    if (ProgressVisible) {
        StatusTimer->wake();
    }
}

bool TfrmCompressie::progressBarShown() const
{
    return ProgressVisible && width() >= kProgressMinWidth;
}

void TfrmCompressie::stepReached(std::size_t index, int step)
{
    Progress = progressAt(fileShare_, index, step);
    updateStatusBar();
}

void TfrmCompressie::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (ProgressVisible) {
        drawStatusbar();
    }
}

void TfrmCompressie::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (ProgressVisible) {
        drawStatusbar();
    }
}

// ---------------------------------------------------------------------------
// The list

void TfrmCompressie::setPanel(int panel, const QString& text)
{
    StatusBar->setPanelText(panel, text);
    Timer->wake(); // with the list empty its next tick clears the panels
}

QTreeWidgetItem* TfrmCompressie::addNode(const std::string& entryName)
{
    auto* item = new QTreeWidgetItem;
    item->setText(0, shown(entryName));
    item->setData(0, kNameRole, QByteArray::fromStdString(entryName));
    item->setIcon(0, entryIcon(FileIconIndex(entryName)));
    // Nodes stay sorted by name: find the first node that sorts after this one.
    int low = 0;
    int high = TreeView->topLevelItemCount();
    while (low < high) {
        const int mid = (low + high) / 2;
        if (nameBefore(entryName, nodeName(TreeView->topLevelItem(mid)))) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    TreeView->insertTopLevelItem(low, item);
    return item;
}

void TfrmCompressie::clearList()
{
    const bool wasUpdating = listUpdating_;
    listUpdating_ = true;
    selectionOrder_.clear();
    TreeView->clear();
    listUpdating_ = wasUpdating;
}

void TfrmCompressie::rebuildList(bool withProgress)
{
    listUpdating_ = true;
    clearList();
    const std::int32_t count = frame_.EntryCount();
    if (withProgress) {
        ProgressVisible = true;
        Progress = 0;
    }
    const double increment = count > 0 ? 100.0 / count : 0;
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 1; i <= count; ++i) {
        if (withProgress) {
            drawStatusbar();
            Progress += increment;
            yield_.maybePump();
        }
        names.push_back(frame_.Names()[static_cast<std::size_t>(i - 1)]);
    }
    std::stable_sort(names.begin(), names.end(), nameBefore);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(names.size()));
    for (const std::string& name : names) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, shown(name));
        item->setData(0, kNameRole, QByteArray::fromStdString(name));
        item->setIcon(0, entryIcon(FileIconIndex(name)));
        items.push_back(item);
    }
    TreeView->addTopLevelItems(items);
    listUpdating_ = false;
    if (withProgress) {
        Progress = 0;
        StatusBar->update();
        ProgressVisible = false;
    }
}

std::vector<std::string> TfrmCompressie::nodeNames() const
{
    std::vector<std::string> names;
    for (int i = 0; i < TreeView->topLevelItemCount(); ++i) {
        names.push_back(nodeName(TreeView->topLevelItem(i)));
    }
    return names;
}

void TfrmCompressie::selectNodes(const std::vector<std::string>& names)
{
    TreeView->clearSelection();
    for (const std::string& name : names) {
        // The node with exactly this text, else the first with this name in any case.
        QTreeWidgetItem* found = nullptr;
        for (int i = 0; i < TreeView->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = TreeView->topLevelItem(i);
            if (nodeName(item) == name) {
                found = item;
                break;
            }
            if (found == nullptr && cp1252::equalsIgnoreCase(nodeName(item), name)) {
                found = item;
            }
        }
        if (found != nullptr) {
            found->setSelected(true);
        }
    }
}

std::vector<QTreeWidgetItem*> TfrmCompressie::selectedInOrder() const
{
    const QList<QTreeWidgetItem*> selected = TreeView->selectedItems();
    const std::unordered_set<QTreeWidgetItem*> live(selected.begin(), selected.end());
    std::vector<QTreeWidgetItem*> ordered;
    std::unordered_set<QTreeWidgetItem*> seen;
    for (QTreeWidgetItem* item : selectionOrder_) {
        if (live.count(item) != 0 && seen.insert(item).second) {
            ordered.push_back(item);
        }
    }
    // Nodes selected without a selection signal (none expected) follow in list order.
    for (int i = 0; i < TreeView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = TreeView->topLevelItem(i);
        if (live.count(item) != 0 && seen.insert(item).second) {
            ordered.push_back(item);
        }
    }
    return ordered;
}

void TfrmCompressie::setCaptionFor(const QString& path)
{
    setWindowTitle(QStringLiteral("Compressie - ") + QFileInfo(path).fileName());
}

// ---------------------------------------------------------------------------
// Settings

TfrmCompressie::Settings TfrmCompressie::currentSettings() const
{
    Settings s;
    if (settings_ != nullptr) {
        if (settings_->chkMaxTime != nullptr) {
            s.timeLimitOn = settings_->chkMaxTime->isChecked();
        }
        if (settings_->UpDownMaxMSec != nullptr) {
            s.timeLimitMs = static_cast<std::uint8_t>(std::clamp(settings_->UpDownMaxMSec->value(), 1, 255));
        }
        if (settings_->UpDownSkipBytes != nullptr) {
            s.skip = settings_->UpDownSkipBytes->value();
        }
    }
    return s;
}

ArchiveKeys TfrmCompressie::currentKeys() const
{
    ArchiveKeys keys;
    if (keyDialog_ != nullptr) {
        keys.key1 = static_cast<std::uint8_t>(std::clamp(keyDialog_->key1(), 0, 255));
        keys.key2 = static_cast<std::uint8_t>(std::clamp(keyDialog_->key2(), 0, 255));
    }
    return keys;
}

QString TfrmCompressie::chooseFolder(const QString& caption)
{
    if (pathDialog_ == nullptr) {
        throw std::runtime_error("The folder picker is not available.");
    }
    if (!caption.isEmpty()) {
        pathDialog_->setWindowTitle(caption);
    }
    if (!pathDialog_->ExeCute()) {
        return QString();
    }
    return pathDialog_->SelectedPath;
}

// ---------------------------------------------------------------------------
// Commands

// The question before unsaved entries go: the wording of the close question,
// with the command's own ending.
QString TfrmCompressie::unsavedQuestion(const QString& ending)
{
    return QStringLiteral("Het bestand is nog niet opgeslagen weet u") + QLatin1Char('\r') +
           QString(11, QLatin1Char(' ')) + ending;
}

bool TfrmCompressie::mayDropEntries(const QString& ending)
{
    if (TreeView->topLevelItemCount() == 0 || Saved) {
        return true;
    }
    return prompts::askYesNo(this, QStringLiteral("Compressie"), unsavedQuestion(ending));
}

void TfrmCompressie::btnNieuwClick()
{
    if (!Idle) {
        return;
    }
    runCommand([this] {
        if (!mayDropEntries(QStringLiteral("zeker dat u een nieuw bestand wilt maken"))) {
            return;
        }
        setWindowTitle(QStringLiteral("Compressie"));
        btnOpslaan->setEnabled(false);
        btnVerzegeldOpslaan->setEnabled(false);
        btnVerwijderen->setEnabled(false);
        btnDecomprimeren->setEnabled(false);
        frame_.ReleaseSpare();
        frame_.Clear();
        compressor_.Reset();
        clearList();
        sealKey_.reset(); // a new archive is not sealed until it is saved sealed
        Saved = false;
    });
}

void TfrmCompressie::btnOpenenClick()
{
    runBusyCommand([this] {
        if (!mayDropEntries(kOpenOtherEnding)) {
            return;
        }
        FileRequest request;
        request.kind = FileRequest::Kind::OpenOne;
        request.title = QStringLiteral("Openen");
        request.fileName = QStringLiteral("*.X");
        request.filter = QStringLiteral("*.X|*.X");
        // Sealed archives open through the same command (recognised by their content).
        request.moreFilters = QStringList{QStringLiteral("Verzegelde archieven|*.tqs"),
                                          QStringLiteral("Alle bestanden|*")};
        const QStringList chosen = runFileDialog(this, request);
        if (!chosen.isEmpty()) {
            loadArchive(chosen.first(), true);
        }
    });
}

void TfrmCompressie::ReadFile(const QString& path)
{
    runBusyCommand([this, &path] {
        // A file handed over by a second start may come while entries wait to
        // be saved.
        if (mayDropEntries(kOpenOtherEnding)) {
            loadArchive(path, false);
        }
    });
}

void TfrmCompressie::loadArchive(const QString& path, bool withProgress)
{
    // The archive is read first: a file that cannot be opened (or a sealed one
    // whose passphrase is not given) leaves the current archive as it is.
    if (sealed_archive::IsSealed(toUtf8(path))) {
        if (!loadSealedArchive(path)) {
            return;
        }
    } else {
        frame_.LoadFromFile(toUtf8(path));
        sealKey_.reset();
    }
    setCaptionFor(path);
    compressor_.Reset();
    rebuildList(withProgress);
    Saved = true;
}

void TfrmCompressie::btnOpslaanClick()
{
    runBusyCommand([this] {
        FileRequest request;
        request.kind = FileRequest::Kind::Save;
        request.title = QStringLiteral("Opslaan");
        request.fileName = QStringLiteral("*.X");
        request.filter = QStringLiteral("*.X|*.X");
        request.defaultSuffix = QStringLiteral("X");
        request.confirmOverwrite = true;
        if (sealKey_) {
            // A sealed archive stays sealed, with the key it was opened or saved with.
            request.fileName = QStringLiteral("*.tqs");
            request.filter = QStringLiteral("Verzegelde archieven|*.tqs");
            request.defaultSuffix = QStringLiteral("tqs");
        }
        const QStringList chosen = runFileDialog(this, request);
        if (!chosen.isEmpty()) {
            if (sealKey_) {
                if (!saveSealedArchive(chosen.first(), *sealKey_)) {
                    return;
                }
            } else {
                frame_.SaveToFile(toUtf8(chosen.first()));
            }
            setCaptionFor(chosen.first());
            Saved = true;
        }
    });
}

void TfrmCompressie::btnVerzegeldOpslaanClick()
{
    runBusyCommand([this] { saveSealedCommand(); });
}

void TfrmCompressie::btnToevoegenClick()
{
    runBusyCommand([this] {
        // The time limit applies to every file of this command and stays as set
        // for the next Add folder.
        const Settings settings = currentSettings();
        compressor_.Bytes.TimeLimitOn = settings.timeLimitOn;
        FileRequest request;
        request.kind = FileRequest::Kind::OpenMany;
        request.title = QStringLiteral("Toevoegen");
        request.fileName = QStringLiteral("*.*");
        request.filter = QStringLiteral("*.*|*.*");
        StopRequested = false;
        const QStringList chosen = runFileDialog(this, request);
        if (!chosen.isEmpty()) {
            std::vector<std::string> paths;
            for (const QString& path : chosen) {
                paths.push_back(toUtf8(QDir::toNativeSeparators(path)));
            }
            const std::vector<FileToAdd> files = filesToAdd(paths);
            requireRoomForAll(frame_, files);
            addFiles(files, false);
        }
        // Final step, also after a cancelled dialog.
        for (int i = 0; i < TreeView->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = TreeView->topLevelItem(i);
            item->setIcon(0, entryIcon(FileIconIndex(nodeName(item))));
        }
        Progress = 0;
        ProgressVisible = false;
        StatusClean->start();
        setPanel(0, QString());
        StatusBar->update();
        StopRequested = false;
        TreeView->clearSelection();
    });
}

void TfrmCompressie::btnAddFolderClick()
{
    runBusyCommand([this] {
        StopRequested = false;
        const QString folder = chooseFolder(QStringLiteral("Map selecteren"));
        if (!folder.isEmpty()) {
            const std::vector<FileToAdd> files = folderFilesToAdd(toUtf8(folder), &yield_.hook());
            requireRoomForAll(frame_, files);
            addFiles(files, true);
        }
        for (int i = 0; i < TreeView->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = TreeView->topLevelItem(i);
            item->setIcon(0, entryIcon(FileIconIndex(nodeName(item))));
        }
        Progress = 0;
        ProgressVisible = false;
        StatusClean->start();
        setPanel(0, QString());
        StatusBar->update();
        StopRequested = false;
        TreeView->clearSelection();
    });
}

void TfrmCompressie::addFiles(const std::vector<FileToAdd>& files, bool folderMode)
{
    Saved = false;
    ProgressVisible = true;
    Progress = 0;
    drawStatusbar();

    const std::size_t count = files.size();
    fileShare_ = addShare(count);
    ArchiveProgress progress;
    progress.status = [this](const std::string& text) { setPanel(0, QString::fromStdString(text)); };
    progress.step = [this](std::size_t index, std::size_t, int step) { stepReached(index, step); };

    // The time limit as the command found it (Add files has just set it).
    const bool timeLimitOn = compressor_.Bytes.TimeLimitOn;
    const Settings settings = currentSettings();

    std::vector<AddResult> results;
    for (std::size_t i = 0; i < count && !StopRequested; ++i) {
        // Let a Stop click arrive before the next file starts.
        yield_.pumpNow();
        if (StopRequested) {
            break;
        }
        AddOptions options;
        options.keys = currentKeys();
        options.skip = currentSettings().skip;
        if (folderMode) {
            options.applyTimeLimit = false;
            options.tableStatusForEveryFile = true;
        } else {
            options.applyTimeLimit = true;
            options.timeLimitOn = timeLimitOn;
            options.timeLimitMs = settings.timeLimitMs;
        }
        const AddResult result = addFileToArchive(frame_, compressor_, files[i], options, &progress, i, count);
        results.push_back(result);
        addNode(result.entryName);
        setPanel(0, QString());
        setPanel(1, shown(folderMode ? lastComponent(result.entryName) : result.entryName));
        setPanel(2, percentText(result.ratio));
        updateStatusBar();
    }
    Saved = false;
    setPanel(0, QString());
    setPanel(1, QStringLiteral("Totaal"));
    setPanel(2, percentText(meanRatio(results, count)));
}

void TfrmCompressie::btnDecomprimerenClick()
{
    QStringList refused;
    runBusyCommand([this, &refused] {
        const std::vector<QTreeWidgetItem*> selected = selectedInOrder();
        const bool single = selected.size() == 1;
        const QString target = chooseFolder(single ? QStringLiteral("Plaatsen in map...") : QString());
        if (!target.isEmpty()) {
            std::vector<std::int32_t> numbers;
            if (!selected.empty()) {
                // Selected nodes act on the first entry of their name.
                for (QTreeWidgetItem* item : selected) {
                    const std::int32_t n = frame_.IndexOfName(nodeName(item));
                    if (n != 0) {
                        numbers.push_back(n);
                    }
                }
            } else {
                // Every entry once, in list order. Nodes of equal names stand for
                // their entries in entry order, so no entry is passed over.
                for (const std::int32_t n : entriesForNames(frame_, nodeNames())) {
                    if (n != 0) {
                        numbers.push_back(n);
                    }
                }
            }
            const std::size_t count = numbers.size();
            fileShare_ = extractShare(count, single);
            Progress = 0;
            drawStatusbar();
            ArchiveProgress progress;
            progress.status = [this](const std::string& text) { setPanel(0, QString::fromStdString(text)); };
            progress.step = [this](std::size_t index, std::size_t, int step) { stepReached(index, step); };
            const std::string folder = toUtf8(target);
            // One set of answers for the whole command: "Ja, alle" and the hidden
            // files' answer hold until it ends; Cancel keeps what was extracted.
            ExtractChoices choices;
            choices.replace = [this](const std::string& path) {
                switch (prompts::askYesNoAllCancel(
                    this, QStringLiteral("Compressie"),
                    QStringLiteral("Het bestand ") + QString::fromStdString(path) +
                        QStringLiteral(" bestaat al.\nWilt u het bestaande bestand vervangen?"))) {
                case prompts::Answer::Yes:
                    return ReplaceAnswer::Yes;
                case prompts::Answer::YesToAll:
                    return ReplaceAnswer::YesToAll;
                case prompts::Answer::No:
                    return ReplaceAnswer::No;
                case prompts::Answer::Cancel:
                    break;
                }
                return ReplaceAnswer::Cancel;
            };
            choices.hidden = [this](const std::string& entryName) {
                return prompts::askYesNo(
                    this, QStringLiteral("Compressie"),
                    QStringLiteral("Het archief bevat verborgen bestanden (namen die met een punt beginnen),\n"
                                   "zoals ") +
                        shown(entryName) +
                        QStringLiteral(". Wilt u de verborgen bestanden ook decomprimeren?"));
            };
            for (std::size_t i = 0; i < count && !choices.cancelled; ++i) {
                const std::int32_t n = numbers[i];
                try {
                    // An entry whose name could lead outside the target is refused
                    // and named; the others are extracted.
                    safeExtractPath(folder, frame_.GetEntryName(n));
                } catch (const ArchiveError& e) {
                    refused.push_back(QString::fromUtf8(e.what()));
                    continue;
                }
                yield_.maybePump();
                extractEntryAt(frame_, compressor_, n, folder, currentKeys(), &progress, i, count, &choices);
                setPanel(0, QString());
                updateStatusBar();
            }
        }
        Progress = 0;
        ProgressVisible = false;
        StatusBar->update();
        TreeView->clearSelection();
    });
    if (!refused.isEmpty()) {
        constexpr int kShownMax = 20;
        QString text = refused.size() == 1 ? QStringLiteral("1 entry was not extracted:")
                                           : QString::number(refused.size()) +
                                                 QStringLiteral(" entries were not extracted:");
        for (int i = 0; i < refused.size() && i < kShownMax; ++i) {
            text += QLatin1Char('\n') + refused[i];
        }
        if (refused.size() > kShownMax) {
            text += QStringLiteral("\n... and ") + QString::number(refused.size() - kShownMax) +
                    QStringLiteral(" more.");
        }
        prompts::showError(this, QStringLiteral("Compressie"), text);
    }
}

void TfrmCompressie::btnVerwijderenClick()
{
    runBusyCommand([this] {
        const std::vector<QTreeWidgetItem*> selected = selectedInOrder();
        // Each selected node removes the first remaining entry of its name, as
        // deleting them one after the other would; the container then moves its
        // data only once.
        std::map<std::string, int> wanted;
        for (QTreeWidgetItem* item : selected) {
            ++wanted[upperKey(nodeName(item))];
        }
        std::vector<std::int32_t> numbers;
        for (std::int32_t n = 1; n <= frame_.EntryCount() && numbers.size() < selected.size(); ++n) {
            auto found = wanted.find(upperKey(frame_.Names()[static_cast<std::size_t>(n - 1)]));
            if (found != wanted.end() && found->second > 0) {
                --found->second;
                numbers.push_back(n);
            }
        }
        frame_.DeleteEntries(numbers);
        listUpdating_ = true;
        for (QTreeWidgetItem* item : selected) {
            selectionOrder_.erase(std::remove(selectionOrder_.begin(), selectionOrder_.end(), item),
                                  selectionOrder_.end());
            delete item;
            Saved = false;
        }
        listUpdating_ = false;
        selectionInfoPending_ = true;
        TreeView->clearSelection();
    });
}

void TfrmCompressie::btnDeSelectClick()
{
    if (!Idle) {
        return;
    }
    TreeView->clearSelection();
    TreeView->setCurrentItem(nullptr, 0, QItemSelectionModel::NoUpdate);
    setFocus();
}

void TfrmCompressie::btnStopClick()
{
    StopRequested = true;
    // Ends a running table build or sort at once; the file under way is still
    // completed with the table as built so far.
    compressor_.Bytes.Abort = true;
}

void TfrmCompressie::btnInstellingenClick()
{
    if (settings_ != nullptr) {
        settings_->show();
        settings_->raise();
    }
}

void TfrmCompressie::btnKeysClick()
{
    if (keyDialog_ != nullptr) {
        keyDialog_->show();
        keyDialog_->raise();
    }
}

// ---------------------------------------------------------------------------
// Selection information

void TfrmCompressie::onSelectionChanged()
{
    if (listUpdating_) {
        return;
    }
    if (!Idle) {
        selectionInfoPending_ = true;
        return;
    }
    TreeViewChange();
}

void TfrmCompressie::TreeViewChange()
{
    // The sizes are counted without letting events in: a click arriving in the
    // middle could start a command that changes the archive or the compressor's
    // buffers while they are being read.
    struct Quiet {
        TfrmCompressie& w;
        explicit Quiet(TfrmCompressie& window) : w(window) { w.compressor_.Yield.set(nullptr, nullptr); }
        ~Quiet() { w.yield_.attach(w.compressor_.Yield); }
    } quiet(*this);
    runGuarded(this, [this] {
        if (TreeView->topLevelItemCount() == 0) {
            return;
        }
        const std::vector<QTreeWidgetItem*> selected = selectedInOrder();
        if (selected.size() == 1) {
            const std::int32_t n = frame_.IndexOfName(nodeName(selected.front()));
            if (n == 0) {
                return;
            }
            const EntrySizes sizes = entrySizes(frame_, compressor_, n);
            switch (frame_.GetEntryKind(n)) {
            case kKindCompressed:
                setPanel(1, percentText(estimatePercent(sizes.payload, sizes.estimate)));
                break;
            case kKindSmallStored:
                setPanel(1, percentText(0));
                break;
            default:
                break; // a large stored entry leaves the percentage as it is
            }
            setPanel(0, SizeText(sizes.estimate));
            return;
        }
        std::int64_t payloads = 0;
        std::int64_t estimates = 0;
        const auto count = [&](std::int32_t n) {
            const EntrySizes sizes = entrySizes(frame_, compressor_, n);
            payloads += sizes.payload;
            estimates += sizes.estimate;
        };
        if (selected.empty()) {
            for (std::int32_t n = 1; n <= frame_.EntryCount(); ++n) {
                count(n);
            }
        } else {
            for (QTreeWidgetItem* item : selected) {
                const std::int32_t n = frame_.IndexOfName(nodeName(item));
                if (n != 0) {
                    count(n);
                }
            }
        }
        setPanel(1, percentText(estimatePercent(payloads, estimates)));
        setPanel(0, SizeText(estimates));
    });
}

QString TfrmCompressie::SizeText(std::int64_t count)
{
    if (count == 1) {
        return QStringLiteral("1 Byte");
    }
    if (count < 1024) {
        return QString::number(std::max<std::int64_t>(count, 0)) + QStringLiteral(" Bytes");
    }
    if (count < 1048576) {
        const std::int64_t k = count / 1024;
        return QString::number(k) + (k == 1 ? QStringLiteral(" KByte") : QStringLiteral(" KBytes"));
    }
    const std::int64_t m = count / 1048576;
    return QString::number(m) + (m == 1 ? QStringLiteral(" MByte") : QStringLiteral(" MBytes"));
}

// ---------------------------------------------------------------------------
// Close

void TfrmCompressie::closeEvent(QCloseEvent* event)
{
    const bool empty = TreeView->topLevelItemCount() == 0;
    if (empty) {
        compressor_.Bytes.ReleaseSpare();
        frame_.ReleaseSpare();
    }
    if (!empty && !Saved) {
        if (!prompts::askYesNo(this, QStringLiteral("Compressie"),
                               unsavedQuestion(QStringLiteral("zeker dat u wilt afsluiten")))) {
            event->ignore();
            return;
        }
        compressor_.Bytes.Abort = true;
        compressor_.Cancel = true;
        if (!Idle) {
            // A command under way starts no further file.
            StopRequested = true;
        }
    }
    // Closing only hides the window; it keeps its contents for the next showing.
    event->accept();
    emit closed();
}

} // namespace tq
