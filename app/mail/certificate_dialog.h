// The question shown when a mail server's certificate fails verification: the
// server, what is wrong with the certificate and its SHA-256 fingerprint, with
// the choice to trust exactly this certificate for this server (Accepted) or
// to stop (Rejected, the default).
#pragma once

#include <QDialog>

namespace tq {

class TCertificateDialog : public QDialog {
    Q_OBJECT
public:
    TCertificateDialog(const QString& server, const QString& problem, const QString& fingerprint,
                       QWidget* parent = nullptr);
};

} // namespace tq
