// A real desktop session for the desktop tests: tray-session.sh (Xvfb, a private
// session bus, openbox and a real tray host) or a headless weston, started once
// per test program and stopped by PID at its end, and the tools that look at it.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

namespace tqtest {

// Runs a tool to its end; its standard output (errors merged when asked).
inline QByteArray run(const QProcessEnvironment& env, const QString& program, const QStringList& args,
                      bool mergeErrors = false, int* exitCode = nullptr)
{
    QProcess p;
    p.setProcessEnvironment(env);
    if (mergeErrors) {
        p.setProcessChannelMode(QProcess::MergedChannels);
    }
    p.start(program, args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(2000);
    }
    if (exitCode != nullptr) {
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    return p.readAllStandardOutput();
}

// Polls `done` every 20 ms until it holds or `ms` have passed.
inline bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) {
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

// The tray session of one host ("sni" or "xembed"), with the environment its
// programs run in (DISPLAY, the private bus, HOME and the XDG folders).
class TraySession {
public:
    explicit TraySession(const QString& host)
    {
        script_ = QStringLiteral(TQ_TEST_DATA_DIR "/tray-session.sh");
        int code = 0;
        const QByteArray out = run(QProcessEnvironment::systemEnvironment(), QStringLiteral("bash"),
                                   {script_, QStringLiteral("start"), dir_.path(), host}, true, &code);
        if (code != 0) {
            error_ = QString::fromLocal8Bit(out);
            return;
        }
        env_ = QProcessEnvironment::systemEnvironment();
        env_.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env_.remove(QStringLiteral("WAYLAND_DISPLAY"));
        QFile f(dir_.filePath(QStringLiteral("env")));
        f.open(QIODevice::ReadOnly);
        for (const QByteArray& line : f.readAll().split('\n')) {
            for (const QByteArray& word : line.mid(7).split(' ')) { // after "export "
                const int eq = word.indexOf('=');
                if (line.startsWith("export ") && eq > 0) {
                    env_.insert(QString::fromLocal8Bit(word.left(eq)), QString::fromLocal8Bit(word.mid(eq + 1)));
                }
            }
        }
    }
    ~TraySession()
    {
        run(QProcessEnvironment::systemEnvironment(), QStringLiteral("bash"),
            {script_, QStringLiteral("stop"), dir_.path()});
    }
    TraySession(const TraySession&) = delete;
    TraySession& operator=(const TraySession&) = delete;

    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    const QProcessEnvironment& env() const { return env_; }
    QString home() const { return env_.value(QStringLiteral("HOME")); }
    QString configHome() const { return env_.value(QStringLiteral("XDG_CONFIG_HOME")); }

    QByteArray tool(const QString& program, const QStringList& args) const { return run(env_, program, args); }

    // Stops the tray host (the panel or trayer), as when it crashes or restarts.
    void stopHost()
    {
        QFile f(dir_.filePath(QStringLiteral("pids")));
        f.open(QIODevice::ReadOnly);
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 2 && (parts[1] == "xfce4-panel" || parts[1] == "trayer")) {
                host_ = QString::fromLatin1(parts[1]);
                const QString pid = QString::fromLatin1(parts[0]);
                run(env_, QStringLiteral("kill"), {pid});
                waitUntil([&] { return run(env_, QStringLiteral("ps"), {QStringLiteral("-o"), QStringLiteral("stat="),
                                                                         QStringLiteral("-p"), pid})
                                           .trimmed()
                                           .isEmpty(); },
                          5000);
            }
        }
    }
    // Starts the host stopped by stopHost() again; the session's stop ends it.
    void startHost()
    {
        const QStringList args = host_ == QLatin1String("trayer")
                                     ? QStringList{QStringLiteral("--edge"), QStringLiteral("top"),
                                                   QStringLiteral("--align"), QStringLiteral("right"),
                                                   QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                                                   QStringLiteral("--width"), QStringLiteral("120"),
                                                   QStringLiteral("--height"), QStringLiteral("32"),
                                                   QStringLiteral("--transparent"), QStringLiteral("false")}
                                     : QStringList{QStringLiteral("--disable-wm-check")};
        QProcess p;
        p.setProcessEnvironment(env_);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.setProgram(host_);
        p.setArguments(args);
        qint64 pid = 0;
        if (p.startDetached(&pid)) {
            QFile f(dir_.filePath(QStringLiteral("pids")));
            f.open(QIODevice::Append);
            f.write(QByteArray::number(pid) + ' ' + host_.toLatin1() + '\n');
        }
    }

    // A screenshot of the whole screen (for looking at by hand).
    void screenshot(const QString& path) const
    {
        tool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path});
    }

private:
    QTemporaryDir dir_;
    QString script_;
    QString error_;
    QString host_;
    QProcessEnvironment env_;
};

} // namespace tqtest
