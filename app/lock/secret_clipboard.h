// The clipboard for text copied from a sealed memo.
//
// put() marks the data as secret for clipboard managers and history tools, so
// that they neither keep nor show it:
//   - "x-kde-passwordManagerHint" = "secret" (Klipper and the other managers
//     that follow KDE's convention), on every system;
//   - Windows: "ExcludeClipboardContentFromMonitorProcessing", and
//     "CanIncludeInClipboardHistory" and "CanUploadToCloudClipboard" as DWORD 0
//     (clipboard history and cloud clipboard), through Qt's Windows format names;
//   - macOS: "org.nspasteboard.ConcealedType" (the nspasteboard.org convention).
// It then puts the data on the clipboard and clears it `timeout` later (30 s),
// when the program ends, and when clearOwn() is called (locking) - each time
// only if the clipboard still holds exactly what put() placed there: this
// program must own it and the data must carry the random token put() added. A
// copy made since, by this program or by any other, is never cleared.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QMimeData;

namespace tq {

class SecretClipboard : public QObject {
    Q_OBJECT

public:
    static constexpr int kDefaultTimeoutMs = 30000;

    explicit SecretClipboard(QObject* parent = nullptr);
    // Clears the clipboard if it still holds this program's secret copy.
    ~SecretClipboard() override;

    // Marks `data` (taken over) as secret, puts it on the clipboard and starts
    // the clearing time-out.
    void put(QMimeData* data);
    // Clears the clipboard when it still holds what put() placed there; stops
    // the time-out either way.
    void clearOwn();
    // True while put()'s data waits for its time-out.
    bool waiting() const { return timer_.isActive(); }

    // The delay from put() to the clearing (tests shorten it).
    void setTimeout(int ms) { timeoutMs_ = ms; }

    // The mime types the secret marks use.
    static const char* const kKdeHint;      // "x-kde-passwordManagerHint"
    static const char* const kMacConcealed; // "org.nspasteboard.ConcealedType"

private:
    bool stillOurs() const;

    QTimer timer_;
    int timeoutMs_ = kDefaultTimeoutMs;
    QByteArray token_;
};

} // namespace tq
