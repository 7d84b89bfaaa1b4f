// The file list and the batch run of the main dialog.
#include "AppTestSupport.h"
#include "app/PeloApp.h"
#include "app/PeloDlg.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace {

namespace fs = std::filesystem;
using pelo::CPeloApp;
using pelo::CPeloDlg;

void Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

QStringList ListTexts(CPeloDlg& dlg) {
    QStringList texts;
    auto* list = dlg.findChild<QListWidget*>("1001");
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

int IndexOf(QComboBox* combo, const char* text) {
    return combo->findText(text);
}

class DialogRun : public ::testing::Test {
protected:
    void SetUp() override {
        profile = dir.file("pelo.INI");
        input = dir.path() / "in";
        output = dir.path() / "out";
        fs::create_directories(input);
    }

    // Writes a profile that selects the input and output formats by name.
    void Profile(const char* inPattern, const char* outPattern, bool recursive = false) {
        const pelo::FormatLists lists = pelo::BuildFormatLists(pelo::test::UsualCodec());
        auto index = [](const std::vector<std::string>& l, const char* p) {
            return std::find(l.begin(), l.end(), p) - l.begin();
        };
        std::ofstream(profile) << "[INPUT]\nTYPE=" << index(lists.input, inPattern)
                               << "\nFOLDER=" << input.string()
                               << "\nDIRSEARCH=" << (recursive ? 1 : 0)
                               << "\n[OUTPUT]\nTYPE=" << index(lists.output, outPattern)
                               << "\nFOLDER=" << output.string() << "\n";
    }

    pelo::test::TempDir dir;
    std::string profile;
    fs::path input, output;
};

TEST_F(DialogRun, NonRecursiveListingShowsMatchingFilesAndFoldersInBrackets) {
    for (const char* f : {"a.eri", "b.ERI", "c.txt", "x.ERI.bak", "sub/d.Eri"})
        Touch(input / f);
    fs::create_directories(input / "old.ERI");
    Profile("*.ERI", "*.TGA");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    EXPECT_EQ(ListTexts(dlg), (QStringList{"[old.ERI]", "a.eri", "b.ERI"}));
}

TEST_F(DialogRun, RecursiveListingWalksSubFoldersAndComparesWholeExtensions) {
    for (const char* f : {"a.eri", "b.ERI", "c.txt", "x.ERI.bak", "sub/d.Eri", "sub/deep/e.eri"})
        Touch(input / f);
    fs::create_directories(input / "old.ERI");
    Profile("*.ERI", "*.TGA", true);
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    EXPECT_EQ(ListTexts(dlg), (QStringList{"a.eri", "b.ERI", "sub/d.Eri", "sub/deep/e.eri"}));

    // Four-letter extensions are compared whole: b.jpeg for "*.JPEG", not a.jpg.
    Touch(input / "p.jpeg");
    Touch(input / "q.jpg");
    auto* types = dlg.findChild<QComboBox*>("1007");
    types->setCurrentIndex(IndexOf(types, "*.JPEG"));
    emit types->activated(types->currentIndex());
    EXPECT_EQ(ListTexts(dlg), QStringList{"p.jpeg"});
}

TEST_F(DialogRun, ListIsRefilledOnlyAtItsThreeMoments) {
    Touch(input / "a.png");
    const fs::path other = dir.path() / "other";
    Touch(other / "b.png");
    Touch(other / "sub/c.png");
    Profile("*.PNG", "*.TGA");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    EXPECT_EQ(ListTexts(dlg), QStringList{"a.png"});

    // Typing a folder or ticking the recursion box changes nothing yet.
    dlg.findChild<QLineEdit*>("1008")->setText(QString::fromStdString(other.string()));
    dlg.findChild<QCheckBox*>("1011")->setChecked(true);
    EXPECT_EQ(ListTexts(dlg), QStringList{"a.png"});

    // A format change refills, from the folder member (the typed text is
    // replaced) with the recursion box as it stands.
    auto* types = dlg.findChild<QComboBox*>("1007");
    emit types->activated(types->currentIndex());
    EXPECT_EQ(ListTexts(dlg), QStringList{"a.png"});
    EXPECT_EQ(dlg.findChild<QLineEdit*>("1008")->text().toStdString(), input.string());

    // Picking a folder in the browser refills from it.
    QString title;
    std::string initial;
    dlg.setFolderChooser(
        [&](QWidget*, std::string& folder, const QString& t, const std::string& i) {
            title = t;
            initial = i;
            folder = other.string();
            return true;
        });
    dlg.findChild<QPushButton*>("1002")->click();
    EXPECT_EQ(title, "画像ﾌｧｲﾙ入力元ﾌｫﾙﾀﾞｰを指定して下さい");
    EXPECT_EQ(initial, input.string());
    EXPECT_EQ(ListTexts(dlg), (QStringList{"b.png", "sub/c.png"}));

    // A cancelled browser changes nothing.
    dlg.setFolderChooser(
        [](QWidget*, std::string&, const QString&, const std::string&) { return false; });
    dlg.findChild<QPushButton*>("1002")->click();
    EXPECT_EQ(dlg.state().inputFolder, other.string());
}

TEST_F(DialogRun, OutputBrowserStartsAtTheOutputFolderElseTheInputFolder) {
    Profile("*.PNG", "*.TGA");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    std::vector<std::string> initials;
    QString title;
    dlg.setFolderChooser(
        [&](QWidget*, std::string& folder, const QString& t, const std::string& i) {
            title = t;
            initials.push_back(i);
            folder = "/picked";
            return true;
        });
    dlg.findChild<QPushButton*>("1004")->click();
    EXPECT_EQ(title, "画像ﾌｧｲﾙ出力先ﾌｫﾙﾀﾞｰを指定して下さい");
    EXPECT_EQ(dlg.findChild<QLineEdit*>("1005")->text(), "/picked");
    dlg.state().outputFolder.clear();
    dlg.findChild<QPushButton*>("1004")->click();
    ASSERT_EQ(initials.size(), 2u);
    EXPECT_EQ(initials[0], output.string());
    EXPECT_EQ(initials[1], input.string());
}

QImage Sprite() {
    QImage image(16, 12, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 2; y < 10; ++y)
        for (int x = 3; x < 3 + y; ++x)
            image.setPixel(x, y, qRgba(200, 40, 30, 255));
    return image;
}

TEST_F(DialogRun, RunWritesEveryListedFileAndEndsFull) {
    ASSERT_TRUE(Sprite().save(QString::fromStdString((input / "one.png").string())));
    fs::create_directories(input / "sub");
    ASSERT_TRUE(Sprite().save(QString::fromStdString((input / "sub/two.PNG").string())));
    Profile("*.PNG", "*.TGA", true);
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    ASSERT_EQ(ListTexts(dlg), (QStringList{"one.png", "sub/two.PNG"}));

    auto* progress = dlg.findChild<QProgressBar*>("1000");
    int valueAtEnd = -1, maximumAtEnd = -1;
    pelo::test::ModalWatcher watcher;
    watcher.onMessage([&](const QString&) {
        valueAtEnd = progress->value();
        maximumAtEnd = progress->maximum();
    });
    dlg.findChild<QPushButton*>("1")->click();

    EXPECT_EQ(watcher.messages(), QStringList{"完了"});
    EXPECT_EQ(maximumAtEnd, 2);
    EXPECT_EQ(valueAtEnd, 2);
    EXPECT_EQ(progress->value(), 0);
    EXPECT_EQ(dlg.result(), 0); // Run never ends the dialog
    std::vector<std::uint8_t> rgba;
    ASSERT_TRUE(pelo::test::ReadWithImageMagick((output / "one.TGA").string(), 16, 12, rgba));
    EXPECT_TRUE(fs::exists(output / "sub/two.TGA"));
    // An opaque pixel inside the shape stays as drawn.
    const std::size_t at = (5u * 16u + 4u) * 4u;
    EXPECT_EQ(rgba[at + 3], 255);
}

TEST_F(DialogRun, EmptyListGivesAnImmediateDone) {
    Profile("*.PNG", "*.TGA");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    pelo::test::ModalWatcher watcher;
    dlg.BatchRun();
    EXPECT_EQ(watcher.messages(), QStringList{"完了"});
}

struct Call {
    bool layered;
    std::string in, out;
};

TEST_F(DialogRun, EntriesGoToTheLayeredPathOnlyForPsdPairs) {
    for (const char* f : {"a.PSD", "b.psd"})
        Touch(input / f);
    Profile("*.PSD", "*.PSD");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    std::vector<Call> calls;
    dlg.setEntryRunner([&](bool layered, const std::string& in, const std::string& out) {
        calls.push_back({layered, in, out});
    });
    pelo::test::ModalWatcher watcher;
    dlg.BatchRun();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].layered);
    EXPECT_EQ(calls[0].in, (input / "a.PSD").string());
    EXPECT_EQ(calls[0].out, (output / "a.PSD").string());
    EXPECT_TRUE(calls[1].layered);

    // PSD to TGA takes the general pipeline; the name keeps its case, the
    // extension takes the pattern's.
    auto* out = dlg.findChild<QComboBox*>("1006");
    out->setCurrentIndex(IndexOf(out, "*.TGA"));
    calls.clear();
    dlg.BatchRun();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_FALSE(calls[0].layered);
    EXPECT_EQ(calls[1].out, (output / "b.TGA").string());
}

TEST_F(DialogRun, ReplacingInputsNeedsAYesAndFailuresAreListedAfterDone) {
    output = input;
    Touch(input / "bad.BMP");
    Profile("*.BMP", "*.BMP");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    pelo::test::ModalWatcher watcher;
    dlg.BatchRun(); // the box is closed: No
    ASSERT_EQ(watcher.messages().size(), 1);
    EXPECT_TRUE(watcher.messages()[0].contains("1 個の入力ファイル"))
        << watcher.messages()[0].toStdString();
    EXPECT_EQ(std::ifstream(input / "bad.BMP").get(), 'x');

    watcher.onMessage([](const QString&) {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            if (auto* yes = box->button(QMessageBox::Yes)) yes->click();
    });
    dlg.BatchRun();
    ASSERT_EQ(watcher.messages().size(), 4);
    EXPECT_EQ(watcher.messages()[2], "完了");
    EXPECT_TRUE(watcher.messages()[3].contains("bad.BMP: ")) << watcher.messages()[3].toStdString();
}

TEST_F(DialogRun, AnExceptionIsReportedAndSkipsTheRest) {
    for (const char* f : {"1.png", "2.png", "3.png", "4.png", "5.png"})
        Touch(input / f);
    Profile("*.PNG", "*.TGA");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    std::vector<std::string> seen;
    dlg.setEntryRunner([&](bool, const std::string& in, const std::string&) {
        seen.push_back(fs::path(in).filename().string());
        if (seen.size() == 3) throw std::invalid_argument("bad text");
    });
    auto* progress = dlg.findChild<QProgressBar*>("1000");
    std::vector<int> values;
    pelo::test::ModalWatcher watcher;
    watcher.onMessage([&](const QString&) { values.push_back(progress->value()); });
    dlg.BatchRun();
    EXPECT_EQ(seen, (std::vector<std::string>{"1.png", "2.png", "3.png"}));
    EXPECT_EQ(watcher.messages(), (QStringList{"bad text", "完了"}));
    // The error shows while the third entry is open; "完了" over a full bar.
    EXPECT_EQ(values, (std::vector<int>{2, 5}));
}

TEST_F(DialogRun, RunUsesTheFolderTextsAsTheyStandWhenPressed) {
    Touch(input / "a.png");
    Profile("*.PNG", "*.TGA");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    std::vector<Call> calls;
    dlg.setEntryRunner([&](bool layered, const std::string& in, const std::string& out) {
        calls.push_back({layered, in, out});
    });
    dlg.findChild<QLineEdit*>("1008")->setText("/elsewhere");
    dlg.findChild<QLineEdit*>("1005")->setText("/target");
    pelo::test::ModalWatcher watcher;
    dlg.BatchRun();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].in, "/elsewhere/a.png");
    EXPECT_EQ(calls[0].out, "/target/a.TGA");
}

} // namespace

namespace {

TEST_F(DialogRun, UnparsableThresholdIsReportedAndTheRunGoesOn) {
    Touch(input / "a.png");
    Profile("*.PNG", "*.TGA");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    int runs = 0;
    dlg.setEntryRunner([&](bool, const std::string&, const std::string&) { ++runs; });
    dlg.findChild<QLineEdit*>("1009")->setText("four");
    pelo::test::ModalWatcher watcher;
    dlg.BatchRun();
    EXPECT_EQ(watcher.messages(), (QStringList{"正の整数を入力してください。", "完了"}));
    EXPECT_EQ(runs, 1);
    // The member kept its value and the edit shows it again.
    EXPECT_EQ(dlg.state().settings.detectThreshold, 4u);
    EXPECT_EQ(dlg.findChild<QLineEdit*>("1009")->text(), "4");
}

TEST_F(DialogRun, PerFileMessagesAppearAsBoxesOverTheDialog) {
    Profile("*.PNG", "*.TGA");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    dlg.setEntryRunner([&](bool, const std::string&, const std::string&) {});
    pelo::test::ModalWatcher watcher;
    dlg.BatchRun();
    ASSERT_NE(dlg.session().sink, nullptr);
    dlg.session().sink->ShowMessage("Error: Can not open a file, x.psd code=3");
    EXPECT_EQ(watcher.messages(),
              (QStringList{"完了", "Error: Can not open a file, x.psd code=3"}));
}

} // namespace

namespace {

TEST_F(DialogRun, StopEndsTheRunAfterTheFilesInProgressAndLeavesOnlyWholeOutputs) {
    const int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int count = 2 * jobs + 4;
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(Sprite().scaled(256, 192).save(
            QString::fromStdString((input / ("s" + std::to_string(i) + ".png")).string())));
    Profile("*.PNG", "*.PNG");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.findChild<QLabel*>("count")->text(), QString("変換対象 %1 個").arg(count));

    // The first finished file presses the button, which now reads "中止";
    // the other controls wait for the end.
    auto* run = dlg.findChild<QPushButton*>("1");
    QString runText;
    bool quitEnabled = true;
    QObject::connect(dlg.findChild<QProgressBar*>("1000"), &QProgressBar::valueChanged, &dlg,
                     [&](int value) {
                         if (value != 1) return;
                         runText = run->text();
                         quitEnabled = dlg.findChild<QPushButton*>("2")->isEnabled();
                         run->click();
                     });
    pelo::test::ModalWatcher watcher;
    run->click();

    EXPECT_EQ(runText, "中止");
    EXPECT_FALSE(quitEnabled);
    EXPECT_EQ(run->text(), "実行");
    int outputs = 0;
    for (const auto& file : fs::directory_iterator(output)) {
        EXPECT_EQ(file.path().extension(), ".PNG") << file.path();
        ++outputs;
    }
    EXPECT_GE(outputs, 1);
    EXPECT_LE(outputs, jobs);
    ASSERT_EQ(watcher.messages().size(), 2);
    EXPECT_EQ(watcher.messages()[0], "完了");
    EXPECT_EQ(watcher.messages()[1],
              QString("中止しました。%1 個のファイルを変換しました。").arg(outputs));
}

TEST_F(DialogRun, FailuresOfAParallelRunAreListedByName) {
    Touch(input / "broken.png");
    ASSERT_TRUE(Sprite().save(QString::fromStdString((input / "good.png").string())));
    Touch(input / "torn.png");
    Profile("*.PNG", "*.TGA");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    pelo::test::ModalWatcher watcher;
    dlg.BatchRun();
    ASSERT_EQ(watcher.messages().size(), 2);
    EXPECT_EQ(watcher.messages()[0], "完了");
    const QString list = watcher.messages()[1];
    EXPECT_TRUE(list.startsWith("2 個のファイルを変換できませんでした。")) << list.toStdString();
    EXPECT_TRUE(list.contains("\nbroken.png: ")) << list.toStdString();
    EXPECT_TRUE(list.contains("\ntorn.png: ")) << list.toStdString();
    EXPECT_FALSE(list.contains("good.png"));
    EXPECT_TRUE(fs::exists(output / "good.TGA"));
}

} // namespace

namespace {

TEST_F(DialogRun, AFolderDroppedOnAFolderFieldTakesItsPlace) {
    const fs::path other = dir.path() / "other";
    Touch(other / "b.png");
    Profile("*.PNG", "*.TGA");
    CPeloApp app(profile);
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    auto drop = [](QWidget* target, const fs::path& path) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path.string()))});
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDropEvent dropped(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &dropped);
        return enter.isAccepted() && dropped.isAccepted();
    };
    EXPECT_FALSE(drop(dlg.findChild<QLineEdit*>("1008"), other / "b.png")); // a file: refused
    EXPECT_TRUE(drop(dlg.findChild<QLineEdit*>("1008"), other));
    EXPECT_EQ(ListTexts(dlg), QStringList{"b.png"});
    EXPECT_TRUE(drop(dlg.findChild<QLineEdit*>("1005"), input));
    EXPECT_EQ(dlg.state().outputFolder, input.string());
    EXPECT_EQ(dlg.findChild<QLineEdit*>("1005")->text().toStdString(), input.string());
}

} // namespace
