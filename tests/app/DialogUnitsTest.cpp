#include "app/DialogUnits.h"

#include "AppTestSupport.h"
#include "app/DetailSetDlg.h"

#include <QPushButton>
#include <gtest/gtest.h>

namespace {

TEST(DialogUnits, QuarterWidthAndEighthHeightRoundedHalfUp) {
    const pelo::DialogBaseUnits units{6, 13};
    // 7 * 6 / 4 = 10.5 -> 11; 9 * 13 / 8 = 14.625 -> 15; 76 * 13 / 8 = 123.5 -> 124.
    EXPECT_EQ(pelo::DialogRect(units, 7, 9, 176, 76), QRect(11, 15, 264, 124));
    EXPECT_EQ(pelo::DialogSize(units, 190, 229), QSize(285, 372));
}

TEST(DialogUnits, DetailDialogPlacesItsButtonsByTheTemplate) {
    pelo::CDetailSetDlg dialog;
    const pelo::DialogBaseUnits units = pelo::BaseUnitsFor(dialog.font());
    auto* ok = dialog.findChild<QPushButton*>("1");
    auto* restore = dialog.findChild<QPushButton*>("3");
    auto* cancel = dialog.findChild<QPushButton*>("2");
    ASSERT_TRUE(ok && restore && cancel);
    EXPECT_EQ(ok->geometry(), pelo::DialogRect(units, 7, 74, 50, 14));
    EXPECT_EQ(restore->geometry(), pelo::DialogRect(units, 69, 74, 50, 14));
    EXPECT_EQ(cancel->geometry(), pelo::DialogRect(units, 145, 74, 50, 14));
    // The template's 95 units, then the result section below the buttons.
    EXPECT_EQ(dialog.size(), pelo::DialogSize(units, 202, 95 + 80));
    EXPECT_TRUE(ok->isDefault());
}

} // namespace
