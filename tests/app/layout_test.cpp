// The window's menus, tools and status bar, and the layout pass.
#include "tests/support/window_fixture.h"

#include "app/archive/compressie_window.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTest>

namespace tqtest {
namespace {

using MainWindowLayout = WindowTest;

struct Item {
    const char* name;
    const char* caption;
    QKeySequence shortcut;
};

void expectMenu(QMenu* menu, const std::vector<Item>& items)
{
    std::vector<QString> names;
    std::vector<QString> expectedNames;
    for (QAction* a : menu->actions()) {
        names.push_back(a->isSeparator() ? QStringLiteral("-") : a->objectName());
    }
    for (const Item& i : items) {
        expectedNames.push_back(QString::fromLatin1(i.name));
    }
    ASSERT_EQ(names, expectedNames) << menu->title().toStdString();
    int k = 0;
    for (QAction* a : menu->actions()) {
        const Item& i = items[k++];
        if (a->isSeparator()) {
            continue;
        }
        EXPECT_EQ(a->text(), QString::fromUtf8(i.caption)) << i.name;
        EXPECT_EQ(a->shortcut(), i.shortcut) << i.name;
    }
}

TEST_F(MainWindowLayout, MainMenuHasEveryItemCaptionShortcutAndSeparator)
{
    auto& w = create();
    const auto menus = w.menuBar()->actions();
    ASSERT_EQ(menus.size(), 5);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("&Edit"));
    EXPECT_EQ(menus[2]->text(), QStringLiteral("&Mail"));
    EXPECT_EQ(menus[3]->text(), QStringLiteral("&Options"));
    EXPECT_EQ(menus[4]->text(), QStringLiteral("&Help"));
    const auto ctrl = [](Qt::Key k) { return QKeySequence(Qt::CTRL | k); };
    expectMenu(w.Bestand1, {{"Leegmaken1", "&New", ctrl(Qt::Key_N)},
                            {"-", "", {}},
                            {"open1", "&Open", ctrl(Qt::Key_O)},
                            {"Opslaan1", "&Save as...", ctrl(Qt::Key_S)},
                            {"mnuVerzegeldOpslaan", "Save sealed...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
                            {"-", "", {}},
                            {"Afdrukken1", "&Print", ctrl(Qt::Key_P)},
                            {"-", "", {}},
                            {"Afsluiten1", "Close", ctrl(Qt::Key_Q)}});
    expectMenu(w.Bewerken1, {{"Ongedaanmaken1", "Undo", ctrl(Qt::Key_Z)},
                             {"-", "", {}},
                             {"Sleutels1", "Keys", ctrl(Qt::Key_K)},
                             {"-", "", {}},
                             {"Coderen1", "Encrypt", ctrl(Qt::Key_E)},
                             {"Decoderen1", "Decrypt", ctrl(Qt::Key_D)},
                             {"mnuTekstOntzegelen", "Unseal text", {}},
                             {"-", "", {}},
                             {"Knippen1", "&Cut", ctrl(Qt::Key_X)},
                             {"Kopieren1", "&Copy", ctrl(Qt::Key_C)},
                             {"Plakken1", "&Paste", ctrl(Qt::Key_V)},
                             {"-", "", {}},
                             {"Verwijderen1", "Delete", QKeySequence(Qt::Key_Delete)},
                             {"Allesselecteren1", "Select all", ctrl(Qt::Key_A)}});
    expectMenu(w.Mail1, {{"mnuOntvangen", "&Receive", ctrl(Qt::Key_R)}, {"Verzenden1", "&Send", ctrl(Qt::Key_M)}});
    expectMenu(w.Opties1, {{"Startgeminimalizeerd1", "Start minimized", {}},
                           {"Ladentijdensopstarten1", "&Load on windows start", {}}});
    EXPECT_TRUE(w.Startgeminimalizeerd1->isCheckable());
    EXPECT_TRUE(w.Ladentijdensopstarten1->isCheckable());
    expectMenu(w.Info1, {{"Help1", "&Help", QKeySequence(Qt::Key_F1)},
                         {"-", "", {}},
                         {"Info2", "&About", QKeySequence(Qt::CTRL | Qt::Key_F1)}});
}

TEST_F(MainWindowLayout, ContextAndTrayMenusHaveTheirItems)
{
    auto& w = create();
    expectMenu(w.MemoPopUp, {{"Ongedaanmaken2", "Undo", {}},
                             {"-", "", {}},
                             {"Coderen2", "&Encrypt", {}},
                             {"Decoderen2", "&Decrypt", {}},
                             {"-", "", {}},
                             {"Knippen2", "&Cut", {}},
                             {"Kopieren2", "&Copy", {}},
                             {"Plakken2", "&Paste", {}},
                             {"Verwijderen2", "&Delete", {}},
                             {"-", "", {}},
                             {"Allesselecteren2", "Select all", {}}});
    expectMenu(w.PopupMenu, {{"Compressieniveau2", "Compress", {}}, {"-", "", {}}, {"Afsluiten2", "&Close", {}}});
}

TEST_F(MainWindowLayout, WithoutATrayTheStatusBarOffersTheTrayMenu)
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        GTEST_SKIP() << "this desktop has a notification area";
    }
    auto& w = start();
    ASSERT_EQ(w.StatusBar->contextMenuPolicy(), Qt::CustomContextMenu);
    bool shown = false;
    QTimer::singleShot(0, &w, [&] {
        shown = w.PopupMenu->isVisible();
        w.PopupMenu->close();
    });
    emit w.StatusBar->customContextMenuRequested(QPoint(5, 5));
    QTest::qWait(20);
    EXPECT_TRUE(shown);
    w.Compressieniveau2->trigger();
    EXPECT_TRUE(program().frmCompressie().isVisible());
}

TEST_F(MainWindowLayout, ToolsCarryTheirHints)
{
    auto& w = create();
    const std::vector<std::pair<QWidget*, const char*>> hints = {
        {w.imgBtnLeegmaken, "New"},           {w.imgBtnLeegmakenBW, "New"},
        {w.imgOpenen, "Open"},                {w.imgOpslaan, "Save as..."},
        {w.imgBtnStop, "Abort"},              {w.imgBtnCoderen, "Encrypt (CTRL + E)"},
        {w.imgButtonDecoderen, "Decrypt (CTRL + D)"}, {w.txtZoekWoord, "Search (F3)"},
        {w.imgBtnZoeken, "Search (F3)"},     {w.imgCodeOpenen, "Open keys"},
        {w.imgCodeOpslaan, "Save keys"},      {w.CodeKey1, "Key 1"},
        {w.codeKey2, "Key 2"},                {w.codeKey3, "Key 3"},
        {w.CodeKey4, "Key 4"},
    };
    for (const auto& [widget, hint] : hints) {
        EXPECT_EQ(widget->toolTip(), QString::fromLatin1(hint)) << widget->objectName().toStdString();
    }
    EXPECT_EQ(w.txtZoekWoord->text(), QStringLiteral("Search"));
    EXPECT_EQ(w.txtZoekWoord->width(), 121);
    EXPECT_EQ(w.lblSleutel->text(), QStringLiteral("Keys:"));
    EXPECT_EQ(w.CodeKey1->echoMode(), QLineEdit::Password);
    const std::vector<std::pair<QSpinBox*, std::pair<int, int>>> ranges = {
        {w.Scale1, {5, 127}}, {w.scale2, {7, 31}}, {w.Scale3, {10, 254}}, {w.Scale4, {1, 1000}}};
    for (const auto& [upDown, range] : ranges) {
        EXPECT_EQ(upDown->minimum(), range.first);
        EXPECT_EQ(upDown->maximum(), range.second);
        EXPECT_FALSE(upDown->wrapping());
    }
}

TEST_F(MainWindowLayout, GreyTwinsAreGreyCopiesInTheSamePlace)
{
    auto& w = create();
    const std::vector<std::pair<tq::TImage*, tq::TImage*>> pairs = {
        {w.imgBtnLeegmaken, w.imgBtnLeegmakenBW}, {w.imgOpenen, w.imgOpenenBW},
        {w.imgOpslaan, w.imgOpslaanBw},           {w.imgBtnStop, w.imgBtnStopBW},
        {w.imgBtnZoeken, w.imgBtnZoekenBW},       {w.imgCodeOpenen, w.imgCodeOpenenBW},
        {w.imgCodeOpslaan, w.imgCodeOpslaanBW},
    };
    for (const auto& [colour, grey] : pairs) {
        SCOPED_TRACE(colour->objectName().toStdString());
        EXPECT_EQ(colour->geometry(), grey->geometry());
        const QImage c = colour->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage g = grey->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(c.size(), g.size());
        bool colourful = false;
        for (int y = 0; y < c.height(); ++y) {
            for (int x = 0; x < c.width(); ++x) {
                const QRgb cp = c.pixel(x, y);
                const QRgb gp = g.pixel(x, y);
                EXPECT_EQ(qAlpha(cp), qAlpha(gp));
                if (qAlpha(gp) > 0) {
                    ASSERT_EQ(qRed(gp), qGreen(gp));
                    ASSERT_EQ(qGreen(gp), qBlue(gp));
                }
                colourful = colourful || (qAlpha(cp) > 0 && (qRed(cp) != qGreen(cp) || qGreen(cp) != qBlue(cp)));
            }
        }
        EXPECT_TRUE(colourful);
    }
}

TEST_F(MainWindowLayout, KeyFieldAndUpDownStayCoupled)
{
    auto& w = create();
    w.Scale3->setValue(200);
    EXPECT_EQ(w.codeKey3->text(), QStringLiteral("200"));
    w.Scale3->stepBy(1000); // no wrap-around: stops at the top
    EXPECT_EQ(w.codeKey3->text(), QStringLiteral("254"));
    w.codeKey3->clear();
    QTest::keyClicks(w.codeKey3, "17");
    EXPECT_EQ(w.Scale3->value(), 17);
    QTest::keyClicks(w.codeKey3, "x"); // not a number: the up-down keeps its value
    EXPECT_EQ(w.Scale3->value(), 17);
}

TEST_F(MainWindowLayout, StatusBarHasSixPanelsOfTheirWidths)
{
    auto& w = create();
    const int widths[] = {110, 144, 80, 80, 300, 50};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(w.StatusBar->panelWidth(i), widths[i]);
    }
    EXPECT_GE(w.StatusBar->panelWidth(5), 50);
    EXPECT_EQ(w.StatusBar->height(), 19);
    EXPECT_EQ(w.panel(5), QString());
}

struct Visibility {
    bool search;
    bool keys;
};

Visibility visibilityAt(tq::TfrmMemo& w, int width)
{
    w.resize(width, 400);
    QApplication::processEvents();
    EXPECT_EQ(w.width(), width);
    Visibility v;
    v.search = w.txtZoekWoord->isVisible();
    v.keys = w.CodeKey1->isVisible();
    // The parts of each group show and hide together.
    EXPECT_EQ(w.Bevel2->isVisible(), v.search);
    EXPECT_EQ(w.imgBtnZoeken->isVisible() || w.imgBtnZoekenBW->isVisible(), v.search && v.keys);
    for (QWidget* k : std::initializer_list<QWidget*>{w.lblSleutel, w.codeKey2, w.codeKey3, w.CodeKey4, w.Scale1,
                                                      w.scale2, w.Scale3, w.Scale4}) {
        EXPECT_EQ(k->isVisible(), v.keys) << k->objectName().toStdString() << " at " << width;
    }
    if (!v.keys) {
        EXPECT_FALSE(w.imgCodeOpenen->isVisible() || w.imgCodeOpenenBW->isVisible());
        EXPECT_FALSE(w.imgCodeOpslaan->isVisible() || w.imgCodeOpslaanBW->isVisible());
    }
    return v;
}

TEST_F(MainWindowLayout, WidthRulesAt515And516And674And675)
{
    auto& w = start();
    const auto at515 = visibilityAt(w, 515);
    EXPECT_FALSE(at515.search);
    EXPECT_FALSE(at515.keys);
    const auto at516 = visibilityAt(w, 516);
    EXPECT_FALSE(at516.search);
    EXPECT_TRUE(at516.keys);
    const auto at674 = visibilityAt(w, 674);
    EXPECT_FALSE(at674.search);
    EXPECT_TRUE(at674.keys);
    const auto at675 = visibilityAt(w, 675);
    EXPECT_TRUE(at675.search);
    EXPECT_TRUE(at675.keys);
    EXPECT_TRUE(w.imgBtnZoeken->isVisible());
    // The right-anchored group keeps its distance to the right edge.
    const int gap675 = 675 - w.CodeKey4->geometry().right();
    visibilityAt(w, 900);
    EXPECT_EQ(900 - w.CodeKey4->geometry().right(), gap675);
    EXPECT_EQ(w.txtZoekWoord->x(), 200);
}

TEST_F(MainWindowLayout, CaretTimerKeepsTheMinimumSize)
{
    auto& w = start();
    w.setMinimumSize(1, 1);
    w.resize(150, 100);
    w.CursorTimerTimer();
    EXPECT_EQ(w.size(), QSize(210, 180));
    w.resize(211, 181);
    w.CursorTimerTimer();
    EXPECT_EQ(w.size(), QSize(211, 181));
}

} // namespace
} // namespace tqtest
