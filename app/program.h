// The program: creates its eleven windows once, in a fixed order, the main
// window first, and starts the main window. Windows are shown and hidden, never
// re-created, and live until the program ends.
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace tq {

class TfrmMemo;
class TfrmSleutel;
class TMail;
class TmailOntvangen;
class TfrmDelAttach;
class TfrmHelp;
class Tinfo;
class TNiveau;
class TfrmCompressie;
class TPathDialog;
class TfrmCompressKey;

// The application object: catches what escapes any event handler, so that no
// exception unwinds through Qt's event loop.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

class TProgram {
public:
    // `arguments`: the command-line arguments without the program name.
    explicit TProgram(const QStringList& arguments);
    ~TProgram();
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    // Shows the main window (normally, minimized, or not at all for a .X
    // argument) and runs its FormShow.
    void start();

    TfrmMemo& frmMemo() { return *frmMemo_; }
    TfrmSleutel& frmSleutel() { return *frmSleutel_; }
    TMail& mail() { return *mail_; }
    TmailOntvangen& mailOntvangen() { return *mailOntvangen_; }
    TfrmDelAttach& frmDelAttach() { return *frmDelAttach_; }
    TfrmHelp& frmHelp() { return *frmHelp_; }
    Tinfo& info() { return *info_; }
    TNiveau& niveau() { return *niveau_; }
    TfrmCompressie& frmCompressie() { return *frmCompressie_; }
    TPathDialog& pathDialog() { return *pathDialog_; }
    TfrmCompressKey& frmCompressKey() { return *frmCompressKey_; }

    // The eleven windows in creation order.
    std::vector<QWidget*> windows() const;

private:
    std::unique_ptr<TfrmMemo> frmMemo_;
    std::unique_ptr<TfrmSleutel> frmSleutel_;
    std::unique_ptr<TMail> mail_;
    std::unique_ptr<TmailOntvangen> mailOntvangen_;
    std::unique_ptr<TfrmDelAttach> frmDelAttach_;
    std::unique_ptr<TfrmHelp> frmHelp_;
    std::unique_ptr<Tinfo> info_;
    std::unique_ptr<TNiveau> niveau_;
    std::unique_ptr<TfrmCompressie> frmCompressie_;
    std::unique_ptr<TPathDialog> pathDialog_;
    std::unique_ptr<TfrmCompressKey> frmCompressKey_;
};

} // namespace tq
