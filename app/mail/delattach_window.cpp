#include "app/mail/delattach_window.h"

#include "app/seams.h"
#include "app/guard.h"
#include "app/windowsetup.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

namespace tq {

QString askAttachmentFile(QWidget* parent)
{
    FileRequest request;
    request.kind = FileRequest::Kind::OpenOne;
    request.filter = QStringLiteral("*");
    return runSingleFileDialog(parent, request);
}

TfrmDelAttach::TfrmDelAttach(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TfrmDelAttach"));
    prepareWindow(this, QStringLiteral("Attachments"), QSize(249, 270), Frame::FixedDialog, true);

    auto* label = new QLabel(QStringLiteral("Files:"), this);
    label->setGeometry(8, 6, 233, 16);
    FileList = new QListWidget(this);
    FileList->setObjectName(QStringLiteral("FileList"));
    FileList->setToolTip(QStringLiteral("Huidige bijlagen"));
    FileList->setGeometry(8, 24, 233, 200);
    label->setBuddy(FileList);

    PopupMenu = new QMenu(this);
    Verwijderen1 = PopupMenu->addAction(QStringLiteral("&Verwijderen"));
    Verwijderen1->setObjectName(QStringLiteral("Verwijderen1"));
    FileList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FileList, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu->popup(FileList->viewport()->mapToGlobal(pos)); });
    connect(Verwijderen1, &QAction::triggered, this, guarded(this, [this] { btnVerwijderenClick(); }));

    btnToevoegen = new QPushButton(QStringLiteral("&Add file"), this);
    btnToevoegen->setObjectName(QStringLiteral("btnToevoegen"));
    btnToevoegen->setGeometry(8, 234, 75, 25);
    btnToevoegen->setDefault(true);
    btnVerwijderen = new QPushButton(QStringLiteral("&Remove"), this);
    btnVerwijderen->setObjectName(QStringLiteral("btnVerwijderen"));
    btnVerwijderen->setGeometry(87, 234, 75, 25);
    btnSluiten = new QPushButton(QStringLiteral("&Close"), this);
    btnSluiten->setObjectName(QStringLiteral("btnSluiten"));
    btnSluiten->setGeometry(166, 234, 75, 25);
    connect(btnToevoegen, &QPushButton::clicked, this, guarded(this, [this] { btnToevoegenClick(); }));
    connect(btnVerwijderen, &QPushButton::clicked, this, guarded(this, [this] { btnVerwijderenClick(); }));
    connect(btnSluiten, &QPushButton::clicked, this, [this] { close(); });

    Timer = new QTimer(this);
    Timer->setInterval(200);
    connect(Timer, &QTimer::timeout, this, guarded(this, [this] { TimerTimer(); }));
    // The timer runs while the window is shown (showEvent, hideEvent): a hidden
    // list has nothing to follow.
}

void TfrmDelAttach::refill()
{
    FileList->clear();
    if (attachments_ != nullptr) {
        for (const std::string& path : *attachments_) {
            FileList->addItem(QString::fromStdString(path));
        }
    }
    if (FileList->count() > 0) {
        FileList->setCurrentRow(0);
    }
    FileList->setFocus();
}

void TfrmDelAttach::FormActivate()
{
    refill();
}

void TfrmDelAttach::btnVerwijderenClick()
{
    const int row = FileList->currentRow();
    if (row < 0 || FileList->currentItem() == nullptr || !FileList->currentItem()->isSelected() ||
        attachments_ == nullptr || row >= static_cast<int>(attachments_->size())) {
        return;
    }
    btnVerwijderen->setEnabled(false);
    attachments_->erase(attachments_->begin() + row);
    refill();
    btnVerwijderen->setEnabled(FileList->count() > 0);
}

void TfrmDelAttach::btnToevoegenClick()
{
    btnToevoegen->setEnabled(false);
    const QString path = askAttachmentFile(this);
    if (!path.isEmpty() && attachments_ != nullptr) {
        attachments_->push_back(path.toStdString());
    }
    refill();
    btnToevoegen->setEnabled(true);
}

void TfrmDelAttach::TimerTimer()
{
    Verwijderen1->setEnabled(FileList->count() > 0);
    const QListWidgetItem* item = FileList->currentItem();
    btnVerwijderen->setEnabled(item != nullptr && item->isSelected());
}

void TfrmDelAttach::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
    runGuarded(this, [this] { TimerTimer(); });
    Timer->start();
}

void TfrmDelAttach::hideEvent(QHideEvent* event)
{
    Timer->stop();
    QWidget::hideEvent(event);
}

void TfrmDelAttach::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        runGuarded(this, [this] { FormActivate(); });
    }
}

void TfrmDelAttach::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && btnToevoegen->isEnabled()) {
        btnToevoegen->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tq
