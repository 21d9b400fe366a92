// The archive window: lists, builds, saves and unpacks .X frame files.
//
// Created once at start-up, hidden; shown by the tray menu's "Compress" item or
// at start-up for a .X file given on the command line. Closing it only hides it.
// The entry list and the archive commands are added with the archive feature.
#pragma once

#include <QString>
#include <QWidget>

namespace tq {

class TfrmCompressie : public QWidget {
    Q_OBJECT
public:
    explicit TfrmCompressie(QWidget* owner = nullptr);

    // Opens the archive at `path` without a dialog; the caption becomes
    // "Compressie - " and the file's name.
    void ReadFile(const QString& path);

signals:
    // The user closed (hid) the window.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace tq
