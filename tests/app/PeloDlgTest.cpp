#include "app/PeloDlg.h"

#include "AppTestSupport.h"
#include "app/AboutDlg.h"
#include "app/DetailSetDlg.h"
#include "app/PeloApp.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using pelo::CPeloApp;
using pelo::CPeloDlg;
using pelo::test::ReadFileText;

template <class W> W* Child(QWidget* parent, const char* id) {
    W* w = parent->findChild<W*>(id);
    EXPECT_NE(w, nullptr) << id;
    return w;
}
QLineEdit* Edit(QWidget* p, const char* id) {
    return Child<QLineEdit>(p, id);
}
QPushButton* Button(QWidget* p, const char* id) {
    return Child<QPushButton>(p, id);
}
QComboBox* Combo(QWidget* p, const char* id) {
    return Child<QComboBox>(p, id);
}
QCheckBox* Check(QWidget* p, const char* id) {
    return Child<QCheckBox>(p, id);
}

class PeloDlgTest : public ::testing::Test {
protected:
    std::string ProfilePath() const { return dir.file("pelo.INI"); }

    pelo::test::TempDir dir;
};

TEST_F(PeloDlgTest, FirstStartDefaults) {
    CPeloApp app(ProfilePath());
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.windowTitle(), "Pelo -アンチエイリアジング-");
    EXPECT_EQ(Combo(&dlg, "1007")->currentIndex(), 0);
    EXPECT_EQ(Combo(&dlg, "1007")->currentText(), "*.BMP");
    EXPECT_EQ(Combo(&dlg, "1006")->currentIndex(), 0);
    EXPECT_EQ(Combo(&dlg, "1006")->currentText(), "*.BMP");
    EXPECT_EQ(Edit(&dlg, "1008")->text(), "./");
    EXPECT_EQ(Edit(&dlg, "1005")->text(), "./");
    EXPECT_EQ(Edit(&dlg, "1009")->text(), "4");
    EXPECT_FALSE(Check(&dlg, "1010")->isChecked());
    EXPECT_FALSE(Check(&dlg, "1011")->isChecked());
    const pelo::ConversionSettings& s = dlg.state().settings;
    EXPECT_EQ(s.gamma, 0.7);
    EXPECT_EQ(s.redLift, 1.2);
    EXPECT_EQ(s.redThreshold, 3u);
    EXPECT_EQ(s.purpleLift, 1.1);
    EXPECT_EQ(s.purpleThreshold, 3u);
    EXPECT_EQ(s.hueInfluence, 1.5);
    EXPECT_EQ(s.hueThreshold, 100u);
    EXPECT_EQ(Child<QProgressBar>(&dlg, "1000")->value(), 0);
    EXPECT_TRUE(Button(&dlg, "1")->isDefault());
    EXPECT_FALSE(dlg.windowIcon().isNull());
}

// A whole program start: the application runs its dialog, `interact` plays
// the user, and the settings are written as on quit.
void RunProgram(CPeloApp& app, std::function<void(CPeloDlg*)> interact,
                std::function<void(pelo::CDetailSetDlg*)> detail = {}) {
    pelo::test::ModalWatcher watcher;
    watcher.onDialog([&](QDialog* d) {
        if (auto* main = qobject_cast<CPeloDlg*>(d))
            interact(main);
        else if (auto* det = qobject_cast<pelo::CDetailSetDlg*>(d); det && detail)
            detail(det);
        else
            d->reject();
    });
    EXPECT_EQ(app.InitInstance(), 0);
}

TEST_F(PeloDlgTest, QuitWritesTheProfileAndTheNextStartReadsIt) {
    CPeloApp app(ProfilePath());
    RunProgram(app, [](CPeloDlg* dlg) {
        Edit(dlg, "1008")->setText("/data/in put");
        Edit(dlg, "1005")->setText("out");
        Edit(dlg, "1009")->setText("300");
        Check(dlg, "1010")->setChecked(true);
        Combo(dlg, "1006")->setCurrentIndex(2);
        Combo(dlg, "1007")->setCurrentIndex(1);
        Button(dlg, "2")->click();
    });
    const std::string ini = ReadFileText(ProfilePath());
    // The original keys first, exactly; the result options and the window
    // placement in sections of their own after them.
    const std::string original = "[OUTPUT]\nTYPE=2\nFOLDER=out\n"
                                 "[INPUT]\nTYPE=1\nFOLDER=/data/in put\nWHITE=1\nDIRSEARCH=0\n"
                                 "[SETTING]\nF=300\nGAMMA=0.700000\nRUP=1.200000\nRZONE=3\n"
                                 "PUP=1.100000\nPZONE=3\nHUP=1.500000\nHZONE=100\n";
    EXPECT_EQ(ini.substr(0, original.size()), original);
    EXPECT_EQ(ini.substr(original.size(), 9), "[RESULT]\n");
    EXPECT_NE(ini.find("\n[WINDOW]\nLEFT="), std::string::npos);

    RunProgram(app, [](CPeloDlg* dlg) {
        EXPECT_EQ(Edit(dlg, "1008")->text(), "/data/in put");
        EXPECT_EQ(Edit(dlg, "1005")->text(), "out");
        EXPECT_EQ(Edit(dlg, "1009")->text(), "300");
        EXPECT_TRUE(Check(dlg, "1010")->isChecked());
        EXPECT_EQ(Combo(dlg, "1006")->currentIndex(), 2);
        EXPECT_EQ(Combo(dlg, "1007")->currentIndex(), 1);
        EXPECT_EQ(dlg->state().settings.gamma, 0.7);
        Button(dlg, "2")->click();
    });
    // Nothing changed, so the second quit writes the same file.
    EXPECT_EQ(ReadFileText(ProfilePath()), ini);
}

TEST_F(PeloDlgTest, WindowSizeAndPlaceAreKeptAndTheListGrows) {
    CPeloApp app(ProfilePath());
    QSize listAtStart, listGrown;
    RunProgram(app, [&](CPeloDlg* dlg) {
        listAtStart = Child<QListWidget>(dlg, "1001")->size();
        EXPECT_EQ(dlg->size(), dlg->minimumSize());
        dlg->resize(dlg->size() + QSize(150, 200));
        dlg->move(40, 30);
        listGrown = Child<QListWidget>(dlg, "1001")->size();
        Button(dlg, "2")->click();
    });
    EXPECT_EQ(listGrown, listAtStart + QSize(150, 200));
    RunProgram(app, [&](CPeloDlg* dlg) {
        EXPECT_EQ(dlg->size(), dlg->minimumSize() + QSize(150, 200));
        EXPECT_EQ(dlg->pos(), QPoint(40, 30));
        EXPECT_EQ(Child<QListWidget>(dlg, "1001")->size(), listGrown);
        Button(dlg, "2")->click();
    });
}

TEST_F(PeloDlgTest, ThresholdZeroAndThreeHundredAreKept) {
    for (const char* value : {"0", "300"}) {
        CPeloApp app(ProfilePath());
        RunProgram(app, [value](CPeloDlg* dlg) {
            Edit(dlg, "1009")->setText(value);
            Button(dlg, "2")->click();
        });
        EXPECT_NE(ReadFileText(ProfilePath()).find(std::string("\nF=") + value + "\n"),
                  std::string::npos);
        RunProgram(app, [value](CPeloDlg* dlg) {
            EXPECT_EQ(Edit(dlg, "1009")->text(), value);
            EXPECT_EQ(dlg->state().settings.detectThreshold, std::stoul(value));
            Button(dlg, "2")->click();
        });
    }
}

TEST_F(PeloDlgTest, RestoreDefaultsOkThenQuitStoresTheDetailDefaults) {
    CPeloApp app(ProfilePath());
    RunProgram(
        app,
        [](CPeloDlg* dlg) {
            Button(dlg, "4")->click(); // the detail dialog, answered below
            Button(dlg, "2")->click();
        },
        [](pelo::CDetailSetDlg* detail) {
            EXPECT_EQ(detail->windowTitle(), "Dialog");
            detail->findChild<QPushButton*>("3")->click();
            detail->findChild<QPushButton*>("1")->click();
        });
    const std::string ini = ReadFileText(ProfilePath());
    for (const char* line : {"\nRZONE=2\n", "\nPZONE=2\n", "\nHUP=1.000000\n", "\nGAMMA=0.700000\n",
                             "\nRUP=1.200000\n", "\nPUP=1.100000\n", "\nHZONE=100\n"})
        EXPECT_NE(ini.find(line), std::string::npos) << line;
}

TEST_F(PeloDlgTest, DetailCancelDiscardsTheDialogsChanges) {
    CPeloApp app(ProfilePath());
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    pelo::test::ModalWatcher watcher;
    watcher.onDialog([](QDialog* d) {
        d->findChild<QPushButton*>("3")->click();
        d->findChild<QLineEdit*>("1000")->setText("0.25");
        d->findChild<QPushButton*>("2")->click();
    });
    dlg.OnDetailSettings();
    const pelo::ConversionSettings& s = dlg.state().settings;
    EXPECT_EQ(s.gamma, 0.7);
    EXPECT_EQ(s.redThreshold, 3u);
    EXPECT_EQ(s.purpleThreshold, 3u);
    EXPECT_EQ(s.hueInfluence, 1.5);
}

TEST_F(PeloDlgTest, CloseBoxAndEscapeSaveLikeQuit) {
    std::string quitIni;
    {
        CPeloApp app(ProfilePath());
        RunProgram(app, [](CPeloDlg* dlg) {
            Edit(dlg, "1009")->setText("9");
            Button(dlg, "2")->click();
        });
        quitIni = ReadFileText(ProfilePath());
        std::remove(ProfilePath().c_str());
    }
    ASSERT_NE(quitIni.find("\nF=9\n"), std::string::npos);

    CPeloApp app(ProfilePath());
    RunProgram(app, [](CPeloDlg* dlg) {
        Edit(dlg, "1009")->setText("9");
        dlg->close();
    });
    EXPECT_EQ(ReadFileText(ProfilePath()), quitIni);
    std::remove(ProfilePath().c_str());

    RunProgram(app, [](CPeloDlg* dlg) {
        Edit(dlg, "1009")->setText("9");
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(dlg, &escape);
    });
    EXPECT_EQ(ReadFileText(ProfilePath()), quitIni);
}

TEST_F(PeloDlgTest, StoredIndexBeyondTheListLeavesNoSelection) {
    { std::ofstream(ProfilePath()) << "[INPUT]\nTYPE=999\n[OUTPUT]\nTYPE=-3\n"; }
    CPeloApp app(ProfilePath());
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    EXPECT_EQ(Combo(&dlg, "1007")->currentIndex(), -1);
    EXPECT_EQ(Combo(&dlg, "1006")->currentIndex(), -1);
    EXPECT_EQ(Child<QListWidget>(&dlg, "1001")->count(), 0);
    dlg.reject();
    EXPECT_EQ(dlg.result(), 2);
    const std::string ini = ReadFileText(ProfilePath());
    EXPECT_EQ(ini, "[INPUT]\nTYPE=-1\n[OUTPUT]\nTYPE=-1\n");
}

TEST_F(PeloDlgTest, CodecThatCannotStartIsReportedAndLeavesFourEntries) {
    CPeloApp app(ProfilePath());
    CPeloDlg dlg(app, pelo::test::FailedCodec);
    pelo::test::ModalWatcher watcher;
    dlg.OnInitDialog();
    ASSERT_EQ(watcher.messages(), QStringList{"cannot use GDI+ runtime"});
    QComboBox* in = Combo(&dlg, "1007");
    QComboBox* out = Combo(&dlg, "1006");
    ASSERT_EQ(in->count(), 2);
    ASSERT_EQ(out->count(), 2);
    EXPECT_EQ(in->itemText(0), "*.ERI");
    EXPECT_EQ(in->itemText(1), "*.PSD");
    EXPECT_EQ(out->itemText(0), "*.PSD");
    EXPECT_EQ(out->itemText(1), "*.TGA");
}

TEST_F(PeloDlgTest, ThresholdThatDoesNotParseTakesTheFocusBack) {
    CPeloApp app(ProfilePath());
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    dlg.show();
    dlg.activateWindow();
    QApplication::setActiveWindow(&dlg);
    pelo::test::ModalWatcher watcher;
    QLineEdit* threshold = Edit(&dlg, "1009");
    threshold->setFocus(Qt::OtherFocusReason);
    threshold->setText("12x");
    Edit(&dlg, "1005")->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(watcher.messages(), QStringList{"正の整数を入力してください。"});
    EXPECT_EQ(dlg.focusWidget(), threshold);
    EXPECT_EQ(dlg.state().settings.detectThreshold, 4u);

    // Once the box is gone the dialog is active again with the edit focused.
    QApplication::setActiveWindow(&dlg);
    QCoreApplication::processEvents();
    EXPECT_TRUE(threshold->hasFocus());
    threshold->setText("17");
    Edit(&dlg, "1005")->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(dlg.state().settings.detectThreshold, 17u);
    EXPECT_EQ(watcher.messages().size(), 1);
    dlg.hide();
}

TEST_F(PeloDlgTest, ContextMenuOpensTheAboutBox) {
    CPeloApp app(ProfilePath());
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.contextMenuPolicy(), Qt::ActionsContextMenu);
    QAction* about = dlg.findChild<QAction*>("16");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), "ﾊﾞｰｼﾞｮﾝ情報(Pelo) (&A)...");
    QString title, version;
    pelo::test::ModalWatcher watcher;
    watcher.onDialog([&](QDialog* d) {
        title = d->windowTitle();
        for (QLabel* label : d->findChildren<QLabel*>())
            if (label->text().startsWith("Pelo")) version = label->text();
        d->findChild<QPushButton*>("1")->click();
    });
    about->trigger();
    EXPECT_EQ(title, "ﾊﾞｰｼﾞｮﾝ情報 Pelo");
    EXPECT_EQ(version, "Pelo Version 1.0");
}

TEST_F(PeloDlgTest, PreviewDoesNothing) {
    CPeloApp app(ProfilePath());
    CPeloDlg dlg(app, pelo::test::UsualCodec);
    dlg.OnInitDialog();
    pelo::test::ModalWatcher watcher;
    const pelo::PersistedState before = dlg.state();
    Button(&dlg, "3")->click();
    EXPECT_TRUE(watcher.messages().isEmpty());
    EXPECT_EQ(dlg.state().inputFolder, before.inputFolder);
    EXPECT_EQ(Child<QProgressBar>(&dlg, "1000")->value(), 0);
}

} // namespace

namespace {

TEST(CPeloApp, ProfileIsNamedAfterTheExecutableInTheConfigFolder) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(config, nullptr);
    CPeloApp app;
    EXPECT_EQ(app.profile().path(), std::string(config) + "/app_tests.INI");
}

} // namespace

namespace {

TEST(CPeloApp, MissingPsdLibraryEndsBeforeAnyWindow) {
    pelo::test::TempDir dir;
    const std::string profile = dir.file("pelo.INI");
    CPeloApp app(profile, [] { return false; });
    bool dialogShown = false;
    pelo::test::ModalWatcher watcher;
    watcher.onDialog([&](QDialog* d) {
        dialogShown = true;
        d->reject();
    });
    EXPECT_EQ(app.InitInstance(), 1);
    EXPECT_EQ(watcher.messages(), QStringList{"Error: InitialLoadDll()"});
    EXPECT_FALSE(dialogShown);
    EXPECT_FALSE(std::ifstream(profile).good());
}

TEST(CPeloApp, LoadsThePsdLibraryBesideTheProgram) {
    pelo::test::TempDir dir;
    CPeloApp app(dir.file("pelo.INI"));
    pelo::test::ModalWatcher watcher;
    watcher.onDialog([](QDialog* d) { d->findChild<QPushButton*>("2")->click(); });
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_TRUE(watcher.messages().isEmpty());
    EXPECT_TRUE(std::ifstream(dir.file("pelo.INI")).good());
}

} // namespace
