#include "app/DetailSetDlg.h"

#include "AppTestSupport.h"
#include "app/DataExchange.h"
#include "pipeline/ResultChoices.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using pelo::CDetailSetDlg;

QLineEdit* Edit(QWidget* dialog, const char* id) {
    return dialog->findChild<QLineEdit*>(id);
}
QPushButton* Button(QWidget* dialog, const char* id) {
    return dialog->findChild<QPushButton*>(id);
}

TEST(DialogNumbers, FifteenSignificantDigits) {
    EXPECT_EQ(pelo::FormatDialogDouble(0.7), "0.7");
    EXPECT_EQ(pelo::FormatDialogDouble(0.1 + 0.2), "0.3");
    EXPECT_EQ(pelo::FormatDialogDouble(1.0), "1");
    EXPECT_EQ(pelo::FormatDialogDouble(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(pelo::FormatDialogDouble(1e-20), "1e-20");
}

TEST(DialogNumbers, ParsingAcceptsNumbersWithBlanksOnly) {
    double d = -1;
    EXPECT_TRUE(pelo::ParseDialogDouble(" 2.5 ", d));
    EXPECT_EQ(d, 2.5);
    EXPECT_TRUE(pelo::ParseDialogDouble("-1e2", d));
    EXPECT_EQ(d, -100.0);
    for (const char* bad : {"", " ", "abc", "1.5x", "1 2"}) {
        d = 7;
        EXPECT_FALSE(pelo::ParseDialogDouble(bad, d)) << bad;
        EXPECT_EQ(d, 7) << bad;
    }
    std::uint32_t u = 9;
    EXPECT_TRUE(pelo::ParseDialogUnsigned(" 300 ", u));
    EXPECT_EQ(u, 300u);
    EXPECT_TRUE(pelo::ParseDialogUnsigned("4294967295", u));
    EXPECT_EQ(u, 4294967295u);
    for (const char* bad : {"", "-1", "4294967296", "12a", "a12", "1.5"}) {
        u = 9;
        EXPECT_FALSE(pelo::ParseDialogUnsigned(bad, u)) << bad;
        EXPECT_EQ(u, 9u) << bad;
    }
}

TEST(CDetailSetDlg, ShowsTheCopiedValuesInTransferOrder) {
    CDetailSetDlg dialog;
    pelo::ConversionSettings s;
    s.gamma = 0.25;
    s.redLift = 1.75;
    s.redThreshold = 7;
    s.purpleLift = 0.5;
    s.purpleThreshold = 8;
    s.hueInfluence = 2.0;
    s.hueThreshold = 90;
    dialog.CopyFrom(s);
    dialog.OnInitDialog();
    EXPECT_EQ(Edit(&dialog, "1000")->text(), "0.25");
    EXPECT_EQ(Edit(&dialog, "1001")->text(), "1.75");
    EXPECT_EQ(Edit(&dialog, "1002")->text(), "7");
    EXPECT_EQ(Edit(&dialog, "1005")->text(), "0.5");
    EXPECT_EQ(Edit(&dialog, "1006")->text(), "8");
    EXPECT_EQ(Edit(&dialog, "1003")->text(), "2");
    EXPECT_EQ(Edit(&dialog, "1004")->text(), "90");
}

TEST(CDetailSetDlg, RestoreDefaultsThenOk) {
    pelo::test::ModalWatcher watcher;
    CDetailSetDlg dialog;
    dialog.CopyFrom(pelo::ConversionSettings{});
    QTimer::singleShot(0, &dialog, [&] {
        Button(&dialog, "3")->click();
        Button(&dialog, "1")->click();
    });
    ASSERT_EQ(dialog.DoModal(), 1);
    pelo::ConversionSettings s;
    s.gamma = s.redLift = s.purpleLift = s.hueInfluence = -1;
    dialog.CopyTo(s);
    EXPECT_EQ(s.gamma, 0.7);
    EXPECT_EQ(s.redLift, 1.2);
    EXPECT_EQ(s.redThreshold, 2u);
    EXPECT_EQ(s.purpleLift, 1.1);
    EXPECT_EQ(s.purpleThreshold, 2u);
    EXPECT_EQ(s.hueInfluence, 1.0);
    EXPECT_EQ(s.hueThreshold, 100u);
    EXPECT_EQ(Edit(&dialog, "1003")->text(), "1");
    EXPECT_TRUE(watcher.messages().isEmpty());
}

TEST(CDetailSetDlg, PresetSetsTheFieldsAndOkHandsBackTheResultOptions) {
    CDetailSetDlg dialog;
    const pelo::ConversionSettings start;
    dialog.CopyFrom(start);
    dialog.CopyResultFrom(start);
    QTimer::singleShot(0, &dialog, [&] {
        dialog.findChild<QComboBox*>("preset")->setCurrentIndex(1); // pixel art
        Button(&dialog, "applyPreset")->click();
        dialog.findChild<QSpinBox*>("quality")->setValue(90);
        dialog.findChild<QComboBox*>("pngType")->setCurrentIndex(1);
        Button(&dialog, "1")->click();
    });
    ASSERT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(Edit(&dialog, "1001")->text(), "1");
    pelo::ConversionSettings s;
    dialog.CopyTo(s);
    dialog.CopyResultTo(s);
    pelo::ConversionSettings expected;
    pelo::ApplyPreset(pelo::Preset::PixelArt, expected);
    EXPECT_EQ(s.detectThreshold, expected.detectThreshold);
    EXPECT_EQ(s.redLift, expected.redLift);
    EXPECT_EQ(s.purpleLift, expected.purpleLift);
    EXPECT_EQ(s.result.hiddenColour, pelo::HiddenColour::Clear);
    EXPECT_EQ(s.result.encode.quality, 90);
    EXPECT_EQ(s.result.encode.pngType, pelo::PngType::Rgba);
    EXPECT_EQ(s.result.background, start.result.background);
}

TEST(CDetailSetDlg, OutOfRangeValuesAreAccepted) {
    CDetailSetDlg dialog;
    dialog.CopyFrom(pelo::ConversionSettings{});
    QTimer::singleShot(0, &dialog, [&] {
        Edit(&dialog, "1000")->setText("2.5");
        Edit(&dialog, "1004")->setText("70000");
        Button(&dialog, "1")->click();
    });
    ASSERT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(dialog.values.gamma, 2.5);
    EXPECT_EQ(dialog.values.hueThreshold, 70000u);
}

TEST(CDetailSetDlg, LettersInANumberFieldKeepTheDialogOpen) {
    pelo::test::ModalWatcher watcher;
    CDetailSetDlg dialog;
    pelo::ConversionSettings start;
    dialog.CopyFrom(start);
    bool stillOpen = false;
    QWidget* focusAfter = nullptr;
    double purpleAfter = 0;
    QTimer::singleShot(0, &dialog, [&] {
        Edit(&dialog, "1000")->setText("0.5"); // before the bad field: taken
        Edit(&dialog, "1002")->setText("abc"); // the bad field
        Edit(&dialog, "1005")->setText("9.5"); // after it: not reached
        Button(&dialog, "1")->click();
        stillOpen = dialog.isVisible();
        focusAfter = dialog.focusWidget();
        purpleAfter = dialog.values.purpleLift;
        Button(&dialog, "2")->click();
    });
    EXPECT_EQ(dialog.DoModal(), 2);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(focusAfter, Edit(&dialog, "1002"));
    EXPECT_EQ(dialog.values.gamma, 0.5);
    EXPECT_EQ(purpleAfter, start.purpleLift);
    ASSERT_EQ(watcher.messages().size(), 1);
    EXPECT_EQ(watcher.messages().front(), "正の整数を入力してください。");
}

TEST(CDetailSetDlg, EscapeAndCloseBoxEndWithCancel) {
    CDetailSetDlg dialog;
    dialog.CopyFrom(pelo::ConversionSettings{});
    QTimer::singleShot(0, &dialog, [&] { dialog.close(); });
    EXPECT_EQ(dialog.DoModal(), 2);
    QTimer::singleShot(0, &dialog, [&] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(&dialog, &escape);
    });
    EXPECT_EQ(dialog.DoModal(), 2);
}

} // namespace
