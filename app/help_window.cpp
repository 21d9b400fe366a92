#include "app/help_window.h"

#include "app/info_window.h"
#include "app/toolimages.h"
#include "app/weblabel.h"
#include "app/windowsetup.h"
#include "platform/version.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>

namespace tq {
namespace {

constexpr int kRowHeight = 30;
constexpr int kImageColumn = 12;
constexpr int kTextColumn = 140;

// Two images side by side (the row of the two key-file tools).
QPixmap sideBySide(const QPixmap& left, const QPixmap& right)
{
    QPixmap both(left.width() + 4 + right.width(), std::max(left.height(), right.height()));
    both.fill(Qt::transparent);
    QPainter p(&both);
    p.drawPixmap(0, 0, left);
    p.drawPixmap(left.width() + 4, 0, right);
    return both;
}

QPlainTextEdit* readOnlyText(QWidget* parent, const QString& text)
{
    auto* box = new QPlainTextEdit(text, parent);
    box->setReadOnly(true);
    box->setFrameShape(QFrame::NoFrame);
    QPalette face = box->palette();
    face.setColor(QPalette::Base, parent->palette().color(QPalette::Button));
    box->setPalette(face);
    return box;
}

QFont arialBlack(int pixelHeight)
{
    QFont f(QStringLiteral("Arial Black"));
    f.setPixelSize(pixelHeight);
    f.setWeight(QFont::Black);
    return f;
}

} // namespace

TfrmHelp::TfrmHelp(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TfrmHelp"));
    prepareWindow(this, QStringLiteral("Help"), QSize(671, 426), Frame::FixedSingle, true);

    PageControlHelp = new QTabWidget(this);
    PageControlHelp->setObjectName(QStringLiteral("PageControlHelp"));
    PageControlHelp->setGeometry(0, 0, 671, 393);
    buildBasicHelp();
    buildContact();

    btnSluiten = new QPushButton(QStringLiteral("&Close"), this);
    btnSluiten->setObjectName(QStringLiteral("btnSluiten"));
    btnSluiten->setGeometry(671 - 8 - 75, 397, 75, 25);
    btnSluiten->setDefault(true);
    connect(btnSluiten, &QPushButton::clicked, this, &QWidget::close);
}

void TfrmHelp::buildBasicHelp()
{
    tabAlgemeen = new QWidget;
    tabAlgemeen->setObjectName(QStringLiteral("tabAlgemeen"));
    PageControlHelp->addTab(tabAlgemeen, QStringLiteral("Basic Help"));

    struct Row {
        QPixmap image;
        const char* text;
        bool ruleAfter;
    };
    const Row rows[] = {
        {toolPixmap(ToolArt::Save), "Save  file as encrypted file (.CRP)", false},
        {toolPixmap(ToolArt::Open), "Open encrypted file", false},
        {toolPixmap(ToolArt::Search), "Search for word in file", false},
        {toolPixmap(ToolArt::Abort), "Abort encrypting / decrypting", false},
        {toolPixmap(ToolArt::New), "Start new encryption file", true},
        {toolPixmap(ToolArt::Mail), "Send or receive e-mail using the Mail menu", false},
        {toolPixmap(ToolArt::Encrypt), "Encrypt file using keys", false},
        {toolPixmap(ToolArt::Decrypt), "Decrypt file using keys", true},
        {toolPixmap(ToolArt::KeyFields), "These fields contain the keys that are used for encrypting / decrypting",
         false},
        {sideBySide(toolPixmap(ToolArt::OpenKeys), toolPixmap(ToolArt::SaveKeys)),
         "Save or open the keys in a (.ky*) file", false},
    };
    int y = 10;
    int n = 1;
    for (const Row& row : rows) {
        auto* image = new TImage(row.image, tabAlgemeen);
        image->setObjectName(QStringLiteral("imgHelp%1").arg(n));
        image->move(kImageColumn, y + (kRowHeight - row.image.height()) / 2);
        auto* label = new QLabel(QString::fromLatin1(row.text), tabAlgemeen);
        label->setObjectName(QStringLiteral("lblHelp%1").arg(n));
        label->setGeometry(kTextColumn, y, 380, kRowHeight);
        label->setWordWrap(true);
        y += kRowHeight;
        if (row.ruleAfter) {
            auto* rule = new QFrame(tabAlgemeen);
            rule->setFrameShape(QFrame::HLine);
            rule->setFrameShadow(QFrame::Sunken);
            rule->setGeometry(kImageColumn, y + 3, 510, 2);
            y += 10;
        }
        ++n;
    }

    auto* product = new TImage(toolPixmap(ToolArt::Product), tabAlgemeen);
    product->setObjectName(QStringLiteral("imgProduct"));
    product->move(560, 10);
    auto* credits = readOnlyText(tabAlgemeen, QString::fromLatin1(kAuthorCredit) + QStringLiteral("\nDate: 15-01-2005"));
    credits->setObjectName(QStringLiteral("txtCredits"));
    credits->setGeometry(530, 300, 130, 56);
}

void TfrmHelp::buildContact()
{
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    PageControlHelp->addTab(TabSheet2, QStringLiteral("Contact"));

    auto* emblem = new TImage(toolPixmap(ToolArt::Emblem), TabSheet2);
    emblem->setObjectName(QStringLiteral("imgEmblem"));
    emblem->move(16, 16);
    auto* name = new QLabel(QStringLiteral("Tarnquill"), TabSheet2);
    name->setObjectName(QStringLiteral("lblProduct"));
    name->setFont(arialBlack(21));
    name->setGeometry(60, 16, 220, 33);
    lblVersie = new QLabel(TabSheet2);
    lblVersie->setObjectName(QStringLiteral("lblVersie"));
    lblVersie->setFont(arialBlack(11));
    lblVersie->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblVersie->setGeometry(60, 50, 220, 18);

    tabContact = readOnlyText(TabSheet2, QString::fromLatin1(kAuthorCredit) + QStringLiteral("\n\nWeb: http://") +
                                             QString::fromLatin1(kAuthorSite) +
                                             QStringLiteral("\n\nQuestions and remarks are welcome through the web "
                                                            "site."));
    tabContact->setObjectName(QStringLiteral("tabContact"));
    tabContact->setGeometry(60, 90, 560, 200);
}

void TfrmHelp::FormShow()
{
    lblVersie->setText(QStringLiteral("Version: ") + QString::fromLatin1(kVersionText));
    PageControlHelp->setCurrentWidget(tabAlgemeen);
}

void TfrmHelp::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
        FormShow();
    }
    QWidget::showEvent(event);
}

void TfrmHelp::keyPressEvent(QKeyEvent* event)
{
    const auto closeWindow = [this] { close(); };
    if (!dialogKey(event, closeWindow, closeWindow)) {
        QWidget::keyPressEvent(event);
    }
}

} // namespace tq
