// The tray icon on a real tray host: xfce4-panel (StatusNotifierItem over the
// session bus, as KDE, Xfce, Cinnamon and GNOME's AppIndicator) or trayer (the
// XEmbed tray). The program runs as its own process, started minimized; what it
// shows is read from the X server and the bus, and clicks come through the host
// (the item's Activate call, a real double click with xdotool).
//
// Run as: tq_desktop_tray_tests sni|xembed
#include "tests/desktop/session.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <csignal>
#include <cstdio>
#include <memory>

namespace tqtest {
namespace {

QString g_host;
TraySession* g_session = nullptr;

QStringList words(const QByteArray& text)
{
    return QString::fromLocal8Bit(text).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

QByteArray dbus(const QStringList& args)
{
    QStringList all{QStringLiteral("--session"), QStringLiteral("--print-reply")};
    all << args;
    return g_session->tool(QStringLiteral("dbus-send"), all);
}

// The program's running copy: started with the session's environment, ended
// by its PID.
class Program {
public:
    explicit Program(const QStringList& args = {})
    {
        // A runtime folder of its own: whatever else runs for this user (another
        // copy of the program in another session) stays apart from it.
        QProcessEnvironment env = g_session->env();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(TQ_PROGRAM_PATH), args);
        process_.waitForStarted(10000);
    }
    ~Program()
    {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(2000);
            }
        }
    }
    qint64 pid() const { return process_.processId(); }
    bool running() const { return process_.state() == QProcess::Running; }

    // The X windows the program mapped (viewable), with their sizes.
    struct Window {
        QString id;
        int width = 0;
        int height = 0;
        int x = 0;
        int y = 0;
    };
    std::vector<Window> viewableWindows() const
    {
        std::vector<Window> out;
        for (const QString& id : words(g_session->tool(QStringLiteral("xdotool"),
                                                       {QStringLiteral("search"), QStringLiteral("--pid"),
                                                        QString::number(pid())}))) {
            const QString info = QString::fromLocal8Bit(g_session->tool(QStringLiteral("xwininfo"),
                                                                        {QStringLiteral("-id"), id}));
            if (!info.contains(QStringLiteral("IsViewable"))) {
                continue;
            }
            auto field = [&](const char* name) {
                const QRegularExpression re(QString::fromLatin1(name) + QStringLiteral(":\\s+(-?\\d+)"));
                return re.match(info).captured(1).toInt();
            };
            out.push_back({id, field("Width"), field("Height"), field("Absolute upper-left X"),
                           field("Absolute upper-left Y")});
        }
        return out;
    }
    // The main window is mapped (the only big window of the program).
    bool mainWindowShown() const
    {
        for (const Window& w : viewableWindows()) {
            if (w.width > 200 && w.height > 150) {
                return true;
            }
        }
        return false;
    }
    // The item the program registered with the StatusNotifierWatcher (empty: none).
    QString statusNotifierItem() const
    {
        const QByteArray reply = dbus({QStringLiteral("--dest=org.kde.StatusNotifierWatcher"),
                                       QStringLiteral("/StatusNotifierWatcher"),
                                       QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                                       QStringLiteral("string:org.kde.StatusNotifierWatcher"),
                                       QStringLiteral("string:RegisteredStatusNotifierItems")});
        const QRegularExpression item(QStringLiteral("string \"([^\"/]+)(/[^\"]*)?\""));
        for (auto it = item.globalMatch(QString::fromLocal8Bit(reply)); it.hasNext();) {
            const auto m = it.next();
            const QByteArray owner = dbus({QStringLiteral("--dest=org.freedesktop.DBus"),
                                           QStringLiteral("/org/freedesktop/DBus"),
                                           QStringLiteral("org.freedesktop.DBus.GetConnectionUnixProcessID"),
                                           QStringLiteral("string:") + m.captured(1)});
            if (words(owner).contains(QString::number(pid()))) {
                return m.captured(1);
            }
        }
        return {};
    }
    // The XEmbed icon: a small mapped window of the program inside the tray.
    std::optional<Window> embeddedIcon() const
    {
        for (const Window& w : viewableWindows()) {
            if (w.width <= 64 && w.height <= 64 && w.y < 32) {
                return w;
            }
        }
        return std::nullopt;
    }
    // The main window is minimized with its taskbar entry (managed, Iconic).
    bool minimizedWithTaskbarEntry() const
    {
        for (const QString& id : words(g_session->tool(QStringLiteral("xdotool"),
                                                       {QStringLiteral("search"), QStringLiteral("--pid"),
                                                        QString::number(pid()), QStringLiteral("--name"),
                                                        QStringLiteral("^Tarnquill$")}))) {
            if (g_session->tool(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("WM_STATE")})
                    .contains("Iconic")) {
                return true;
            }
        }
        return false;
    }
    // The icon in the tray: an item on the bus or an embedded window (a program
    // started while no watcher was there docks as XEmbed, which the panel hosts too).
    bool iconShown() const
    {
        return embeddedIcon().has_value() || (g_host == QLatin1String("sni") && !statusNotifierItem().isEmpty());
    }

private:
    QTemporaryDir runtime_;
    QProcess process_;
};

void setStartMinimized(bool on)
{
    const QString folder = g_session->configHome() + QStringLiteral("/Tarnquill");
    QDir().mkpath(folder);
    QFile f(folder + QStringLiteral("/tarnquill.ini"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(on ? "[General]\nstartMinimized=1\n" : "[General]\nstartMinimized=0\n");
}

class Tray : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(g_session, nullptr);
        ASSERT_TRUE(g_session->ok()) << g_session->error().toStdString();
        setStartMinimized(true);
    }
};

// The first start in a fresh home registers the file types and brings the
// desktop's databases up to date; the window must not wait for that. Prints the
// time from the start to the mapped main window of the first and a later start.
TEST_F(Tray, ANormalStartShowsTheWindowAtOnceAndNoIcon)
{
    setStartMinimized(false);
    qint64 times[2] = {0, 0};
    for (qint64& time : times) {
        QElapsedTimer clock;
        clock.start();
        Program program;
        ASSERT_TRUE(waitUntil([&] { return program.mainWindowShown(); }, 10000));
        time = clock.elapsed();
        QThread::msleep(300);
        EXPECT_FALSE(program.iconShown());
    }
    std::printf("time to the first window (%s): first start %lld ms, later start %lld ms\n",
                qPrintable(g_host), static_cast<long long>(times[0]), static_cast<long long>(times[1]));
}

TEST_F(Tray, StartMinimized30TimesEveryStartEndsWithTheIconAndNoWindow)
{
    int failures = 0;
    for (int i = 0; i < 30; ++i) {
        Program program;
        const bool appeared = waitUntil([&] { return program.iconShown(); }, 10000);
        // The lost starts took the icon away again within a second.
        QThread::msleep(600);
        const bool icon = program.iconShown();
        const bool window = program.mainWindowShown();
        if (!appeared || !icon || window || !program.running()) {
            ++failures;
            ADD_FAILURE() << "start " << i + 1 << ": icon appeared " << appeared << ", icon now " << icon
                          << ", window shown " << window;
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST_F(Tray, AClickThroughTheHostRestoresTheWindowAndTheMenuIsTheIcons)
{
    Program program;
    ASSERT_TRUE(waitUntil([&] { return program.iconShown(); }, 10000));
    QThread::msleep(300);
    const QString shots = QString::fromLocal8Bit(qgetenv("TQ_TRAY_SCREENSHOTS"));
    if (!shots.isEmpty()) {
        g_session->screenshot(shots + QStringLiteral("/") + g_host + QStringLiteral("-icon.png"));
    }
    if (g_host == QLatin1String("sni")) {
        // The menu the panel shows is the one the item exports over the bus.
        const QString item = program.statusNotifierItem();
        const QByteArray menuPath = dbus({QStringLiteral("--dest=") + item, QStringLiteral("/StatusNotifierItem"),
                                          QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                                          QStringLiteral("string:org.kde.StatusNotifierItem"),
                                          QStringLiteral("string:Menu")});
        const QString path = QRegularExpression(QStringLiteral("object path \"([^\"]+)\""))
                                 .match(QString::fromLocal8Bit(menuPath))
                                 .captured(1);
        ASSERT_FALSE(path.isEmpty()) << menuPath.constData();
        const QString layout = QString::fromLocal8Bit(
            dbus({QStringLiteral("--dest=") + item, path, QStringLiteral("com.canonical.dbusmenu.GetLayout"),
                  QStringLiteral("int32:0"), QStringLiteral("int32:-1"), QStringLiteral("array:string:")}));
        EXPECT_TRUE(layout.contains(QStringLiteral("\"Compress\""))) << layout.toStdString();
        EXPECT_TRUE(layout.contains(QStringLiteral("\"_Close\""))) << layout.toStdString(); // & as the bus writes it
        // A right click on the panel at the icon's place opens that menu.
        g_session->tool(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("1008"),
                                                    QStringLiteral("16"), QStringLiteral("click"), QStringLiteral("3")});
        QThread::msleep(700);
        if (!shots.isEmpty()) {
            g_session->screenshot(shots + QStringLiteral("/sni-menu.png"));
        }
        g_session->tool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
        QThread::msleep(200);
        // The host's click is the item's Activate.
        dbus({QStringLiteral("--dest=") + item, QStringLiteral("/StatusNotifierItem"),
              QStringLiteral("org.kde.StatusNotifierItem.Activate"), QStringLiteral("int32:1008"),
              QStringLiteral("int32:16")});
    } else {
        const auto icon = program.embeddedIcon();
        ASSERT_TRUE(icon.has_value());
        const QString x = QString::number(icon->x + icon->width / 2);
        const QString y = QString::number(icon->y + icon->height / 2);
        // A right click brings up the icon's menu: a popup window of the program.
        const std::size_t before = program.viewableWindows().size();
        g_session->tool(QStringLiteral("xdotool"),
                        {QStringLiteral("mousemove"), x, y, QStringLiteral("click"), QStringLiteral("3")});
        EXPECT_TRUE(waitUntil([&] { return program.viewableWindows().size() > before; }, 3000));
        if (!shots.isEmpty()) {
            g_session->screenshot(shots + QStringLiteral("/xembed-menu.png"));
        }
        g_session->tool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
        EXPECT_TRUE(waitUntil([&] { return program.viewableWindows().size() == before; }, 3000));
        g_session->tool(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), x, y, QStringLiteral("click"),
                                                    QStringLiteral("--repeat"), QStringLiteral("2"),
                                                    QStringLiteral("--delay"), QStringLiteral("80"),
                                                    QStringLiteral("1")});
    }
    EXPECT_TRUE(waitUntil([&] { return program.mainWindowShown(); }, 5000));
    EXPECT_TRUE(waitUntil([&] { return !program.iconShown(); }, 5000));
    if (!shots.isEmpty()) {
        g_session->screenshot(shots + QStringLiteral("/") + g_host + QStringLiteral("-restored.png"));
    }
}

TEST_F(Tray, TheIconFollowsTheTrayHostWhenItGoesAwayAndComesBack)
{
    {
        Program program;
        ASSERT_TRUE(waitUntil([&] { return program.iconShown(); }, 10000));
        g_session->stopHost();
        // Without a tray the window waits minimized, with its taskbar entry.
        EXPECT_TRUE(waitUntil([&] { return program.minimizedWithTaskbarEntry(); }, 5000));
        EXPECT_FALSE(program.iconShown());
        g_session->startHost();
        EXPECT_TRUE(waitUntil([&] { return program.iconShown(); }, 10000));
        EXPECT_TRUE(waitUntil([&] { return !program.minimizedWithTaskbarEntry(); }, 5000));
        EXPECT_FALSE(program.mainWindowShown());
    }
    // Started while there is no tray: minimized with its taskbar entry too.
    g_session->stopHost();
    Program late;
    EXPECT_TRUE(waitUntil([&] { return late.minimizedWithTaskbarEntry(); }, 5000));
    g_session->startHost();
    EXPECT_TRUE(waitUntil([&] { return late.iconShown(); }, 10000));
    EXPECT_TRUE(waitUntil([&] { return !late.minimizedWithTaskbarEntry(); }, 5000));
    EXPECT_FALSE(late.mainWindowShown());
}

} // namespace
} // namespace tqtest

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    tqtest::g_host = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("sni");
    auto session = std::make_unique<tqtest::TraySession>(tqtest::g_host);
    tqtest::g_session = session.get();
    const int result = RUN_ALL_TESTS();
    tqtest::g_session = nullptr;
    session.reset();
    return result;
}
