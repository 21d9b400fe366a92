#include "app/mail/certificate_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tq {

TCertificateDialog::TCertificateDialog(const QString& server, const QString& problem,
                                       const QString& fingerprint, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("TCertificateDialog"));
    setWindowTitle(QStringLiteral("Untrusted certificate"));
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* text = new QLabel(this);
    text->setObjectName(QStringLiteral("lblProblem"));
    text->setWordWrap(true);
    text->setTextFormat(Qt::PlainText);
    text->setText(QStringLiteral("The certificate of the mail server %1 cannot be verified: %2.\n\n"
                                 "Someone may be listening in. Trust it only when you know that "
                                 "this is the server's own certificate (ask its administrator for "
                                 "the fingerprint).")
                      .arg(server, problem));
    top->addWidget(text, 1);
    layout->addLayout(top);

    auto* fpLabel = new QLabel(QStringLiteral("SHA-256 fingerprint:"), this);
    layout->addWidget(fpLabel);
    // 32 pairs: two lines of 16 read more easily than a wrapped run.
    QString shown = fingerprint;
    if (shown.size() == 95) {
        shown = shown.left(47) + QLatin1Char('\n') + shown.mid(48);
    }
    auto* fp = new QLabel(shown, this);
    fp->setObjectName(QStringLiteral("lblFingerprint"));
    fp->setTextInteractionFlags(Qt::TextSelectableByMouse);
    fp->setWordWrap(true);
    QFont mono = fp->font();
    mono.setFamily(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    fp->setFont(mono);
    layout->addWidget(fp);

    auto* buttons = new QDialogButtonBox(this);
    auto* trust = buttons->addButton(QStringLiteral("&Trust this certificate for %1").arg(server),
                                     QDialogButtonBox::AcceptRole);
    trust->setObjectName(QStringLiteral("btnTrust"));
    auto* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    // Trusting must be a deliberate choice, never the answer to Enter.
    trust->setAutoDefault(false);
    cancel->setDefault(true);
    cancel->setFocus();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(460);
}

} // namespace tq
