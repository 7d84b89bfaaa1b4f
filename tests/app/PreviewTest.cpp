// The preview window: the picture before and after, as the run writes it,
// following the settings.
#include "AppTestSupport.h"
#include "app/PeloApp.h"
#include "app/PeloDlg.h"
#include "app/PreviewWnd.h"
#include "tests/support/TempDir.h"

#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// An opaque red and blue staircase in a transparent frame: colour edges
// and alpha edges.
QImage Staircase() {
    QImage image(20, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 2; y < 14; ++y)
        for (int x = 2; x < 18; ++x)
            image.setPixel(x, y, x < 4 + y ? qRgba(200, 40, 30, 255) : qRgba(30, 40, 200, 255));
    return image;
}

TEST(Preview, ShowsTheRunsResultAndFollowsTheThresholdAndTheSelection) {
    pelo::test::TempDir dir;
    const fs::path input = dir.path() / "in", output = dir.path() / "out";
    fs::create_directories(input);
    ASSERT_TRUE(Staircase().save(QString::fromStdString((input / "a.png").string())));
    ASSERT_TRUE(QImage(8, 8, QImage::Format_ARGB32)
                    .save(QString::fromStdString((input / "b.png").string())));
    pelo::test::WriteFormatProfile(dir.file("pelo.INI"), input.string(), output.string(), "*.PNG",
                                   "*.PNG");
    pelo::CPeloApp app(dir.file("pelo.INI"));
    pelo::CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    dlg.OnPreview();
    pelo::CPreviewWnd* preview = dlg.preview();
    ASSERT_NE(preview, nullptr);
    auto rendered = [&] {
        return pelo::test::ProcessEventsUntil(
            [&] { return !preview->computing() && !preview->canvas().after().isNull(); });
    };
    ASSERT_TRUE(rendered());
    EXPECT_EQ(preview->windowTitle(), "プレビュー - a.png");
    EXPECT_EQ(preview->canvas().before(), Staircase());
    EXPECT_TRUE(preview->statusText().startsWith("20 x 16")) << preview->statusText().toStdString();
    const QImage atFour = preview->canvas().after();
    EXPECT_NE(atFour, Staircase());

    // What the run writes is what the preview showed, and the disk is
    // untouched by the preview itself.
    EXPECT_FALSE(fs::exists(output));
    pelo::test::ModalWatcher watcher;
    dlg.BatchRun();
    EXPECT_EQ(QImage(QString::fromStdString((output / "a.PNG").string()))
                  .convertToFormat(QImage::Format_ARGB32),
              atFour);

    // The threshold set in the preview reaches the dialog and a new picture.
    preview->findChild<QSpinBox*>("threshold")->setValue(255);
    EXPECT_EQ(dlg.findChild<QLineEdit*>("1009")->text(), "255");
    ASSERT_TRUE(pelo::test::ProcessEventsUntil(
        [&] { return !preview->computing() && preview->canvas().after() != atFour; }));

    dlg.findChild<QListWidget*>("1001")->setCurrentRow(1);
    EXPECT_EQ(preview->windowTitle(), "プレビュー - b.png");
    ASSERT_TRUE(rendered());
    EXPECT_EQ(preview->canvas().before().size(), QSize(8, 8));
}

} // namespace
