// The compression settings window: defaults, the enabling rule and the value rules.
#include "tests/encryption/encryption_fixture.h"

#include "app/keys/niveau_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

namespace tqtest {
namespace {

class SettingsWindow : public EncryptionTest {};

TEST_F(SettingsWindow, FreshStartShowsTheDefaults)
{
    create();
    tq::TNiveau& n = program().niveau();
    EXPECT_EQ(n.windowTitle(), QStringLiteral("Compressie instellingen"));
    EXPECT_TRUE(n.chkMaxTime->isChecked());
    EXPECT_EQ(n.chkMaxTime->text(), QStringLiteral("Maximum tijd inschakelen"));
    EXPECT_EQ(n.UpDownMaxMSec->value(), 255);
    EXPECT_EQ(n.edtMaxMSec->text(), QStringLiteral("255"));
    EXPECT_EQ(n.UpDownSkipBytes->value(), 2);
    EXPECT_EQ(n.edtSkipBytes->text(), QStringLiteral("2"));
    EXPECT_TRUE(n.chkUseCompression->isChecked());
    EXPECT_EQ(n.chkUseCompression->text(), QStringLiteral("Compressie gebruiken na encryptie"));
    EXPECT_EQ(n.lblMaxMSec->text(), QStringLiteral("Maximum aantal Msec voor het sorteren per 2 bytes:"));
    EXPECT_EQ(n.lblSkipBytes->text(), QStringLiteral("Aantal bytes overslaan bij het maken van tabel:"));
    EXPECT_EQ(n.UpDownMaxMSec->minimum(), 1);
    EXPECT_EQ(n.UpDownSkipBytes->maximum(), 32000);
}

TEST_F(SettingsWindow, UntickingDisablesTheMillisecondsAtOnceAndReopeningKeepsIt)
{
    create();
    tq::TNiveau& n = program().niveau();
    n.show();
    QApplication::processEvents();
    EXPECT_TRUE(n.edtMaxMSec->isEnabled());
    QTest::mouseClick(n.chkMaxTime, Qt::LeftButton);
    EXPECT_FALSE(n.chkMaxTime->isChecked());
    EXPECT_FALSE(n.edtMaxMSec->isEnabled());
    EXPECT_FALSE(n.UpDownMaxMSec->isEnabled());
    EXPECT_TRUE(n.edtSkipBytes->isEnabled());
    n.close();
    n.show();
    QApplication::processEvents();
    EXPECT_FALSE(n.chkMaxTime->isChecked());
    EXPECT_FALSE(n.edtMaxMSec->isEnabled());
    QTest::mouseClick(n.chkMaxTime, Qt::LeftButton);
    EXPECT_TRUE(n.UpDownMaxMSec->isEnabled());
}

TEST_F(SettingsWindow, SkipValueStepsByOneToItsTopAndBackWithoutWrapping)
{
    create();
    tq::TNiveau& n = program().niveau();
    int steps = 0;
    while (n.UpDownSkipBytes->value() < 32000) {
        const int before = n.UpDownSkipBytes->value();
        n.UpDownSkipBytes->stepBy(1);
        ASSERT_EQ(n.UpDownSkipBytes->value(), before + 1);
        ++steps;
    }
    EXPECT_EQ(steps, 31998);
    EXPECT_EQ(n.edtSkipBytes->text(), QStringLiteral("32000"));
    n.UpDownSkipBytes->stepBy(1);
    EXPECT_EQ(n.UpDownSkipBytes->value(), 32000);
    n.UpDownSkipBytes->stepBy(-1);
    EXPECT_EQ(n.UpDownSkipBytes->value(), 31999);
    n.UpDownSkipBytes->stepBy(-40000);
    EXPECT_EQ(n.UpDownSkipBytes->value(), 2);
}

TEST_F(SettingsWindow, TypedValuesAreBroughtIntoRange)
{
    create();
    tq::TNiveau& n = program().niveau();
    n.show();
    n.edtSkipBytes->setFocus();
    n.edtSkipBytes->selectAll();
    QTest::keyClicks(n.edtSkipBytes, "300");
    EXPECT_EQ(n.UpDownSkipBytes->value(), 300);
    n.edtMaxMSec->selectAll();
    QTest::keyClicks(n.edtMaxMSec, "999");
    EXPECT_EQ(n.UpDownMaxMSec->value(), 255);
    n.edtMaxMSec->selectAll();
    QTest::keyClicks(n.edtMaxMSec, "x");
    EXPECT_EQ(n.UpDownMaxMSec->value(), 255);
    // Leaving the field shows the value in use.
    emit n.edtMaxMSec->editingFinished();
    EXPECT_EQ(n.edtMaxMSec->text(), QStringLiteral("255"));
}

} // namespace
} // namespace tqtest
