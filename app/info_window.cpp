#include "app/info_window.h"

#include "app/toolimages.h"
#include "app/weblabel.h"
#include "app/windowsetup.h"
#include "platform/version.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTextDocument>
#include <QTextOption>

namespace tq {

Tinfo::Tinfo(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("Tinfo"));
    prepareWindow(this, QStringLiteral("About"), QSize(297, 141), Frame::FixedSingle, true);

    Image1 = new TImage(toolPixmap(ToolArt::Emblem), this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(8, 8, 32, 33);
    Image2 = new TImage(toolPixmap(ToolArt::Product), this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(200, 0, 95, 80);

    infoBox = new QPlainTextEdit(this);
    infoBox->setObjectName(QStringLiteral("infoBox"));
    infoBox->setGeometry(40, 8, 161, 73);
    infoBox->setReadOnly(true);
    infoBox->setFrameShape(QFrame::NoFrame);
    infoBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    infoBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    infoBox->setFocusPolicy(Qt::NoFocus);
    infoBox->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));
    QPalette face = infoBox->palette();
    face.setColor(QPalette::Base, palette().color(QPalette::Button));
    infoBox->setPalette(face);

    WebLabel1 = new TWebLabel(this);
    WebLabel1->setObjectName(QStringLiteral("WebLabel1"));
    WebLabel1->Link = QString::fromLatin1(kAuthorSite);
    WebLabel1->setText(QString::fromLatin1(kAuthorSite));
    WebLabel1->adjustSize();
    WebLabel1->move(152, 120);
    // The design's place leaves the link cut at the right edge; keep it inside.
    if (WebLabel1->x() + WebLabel1->width() > width() - 4) {
        WebLabel1->move(width() - 4 - WebLabel1->width(), 120);
    }

    Button1 = new QPushButton(QStringLiteral("&Ok"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(4, 112, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QWidget::close);
}

void Tinfo::FormShow()
{
    infoBox->clear();
    infoBox->appendPlainText(QStringLiteral("Tarnquill"));
    infoBox->appendPlainText(QStringLiteral("Version ") + QString::fromLatin1(kVersionText));
    infoBox->appendPlainText(QString());
    infoBox->appendPlainText(QString::fromLatin1(kAuthorCredit));
    infoBox->appendPlainText(QStringLiteral("Date: 15-01-2005"));
}

void Tinfo::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
        FormShow();
        // Modal behaviour: the main window takes no input until this one closes.
        if (owner_ != nullptr) {
            owner_->setEnabled(false);
        }
        Button1->setFocus();
    }
    QWidget::showEvent(event);
}

void Tinfo::hideEvent(QHideEvent* event)
{
    if (!event->spontaneous() && owner_ != nullptr) {
        owner_->setEnabled(true);
    }
    QWidget::hideEvent(event);
}

void Tinfo::keyPressEvent(QKeyEvent* event)
{
    const auto closeWindow = [this] { close(); };
    if (!dialogKey(event, closeWindow, closeWindow)) {
        QWidget::keyPressEvent(event);
    }
}

} // namespace tq
