// The language of the user interface: English under an English environment,
// the Japanese originals otherwise.
#include "AppTestSupport.h"
#include "app/DetailSetDlg.h"
#include "app/PeloApp.h"
#include "app/PeloDlg.h"
#include "app/Translation.h"
#include "tests/support/TempDir.h"

#include <QLineEdit>
#include <QPushButton>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

using pelo::UiLanguage;

// Sets or clears the locale variables for one scope.
class Environment {
public:
    Environment() {
        for (const char* name : kNames)
            if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
    }
    ~Environment() {
        Set(nullptr, nullptr);
        for (const auto& [name, value] : saved_)
            setenv(name, value.c_str(), 1);
        pelo::UseLanguage(UiLanguage::Japanese);
    }
    void Set(const char* language, const char* lang) {
        for (const char* name : kNames)
            unsetenv(name);
        if (language) setenv("LANGUAGE", language, 1);
        if (lang) setenv("LANG", lang, 1);
    }

private:
    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::pair<const char*, std::string>> saved_;
};

TEST(Language, EnglishUnderAnEnglishEnvironmentJapaneseOtherwise) {
    Environment env;
    const struct {
        const char* language;
        const char* lang;
        UiLanguage expected;
    } cases[] = {
        {nullptr, "en_US.UTF-8", UiLanguage::English},
        {"en", "ja_JP.UTF-8", UiLanguage::English},
        {"en_GB:ja", nullptr, UiLanguage::English},
        {nullptr, "ja_JP.UTF-8", UiLanguage::Japanese},
        {nullptr, "C", UiLanguage::Japanese},
        {"ja", "en_US.UTF-8", UiLanguage::Japanese},
        {nullptr, nullptr, UiLanguage::Japanese},
    };
    for (const auto& c : cases) {
        env.Set(c.language, c.lang);
        EXPECT_EQ(pelo::LanguageFromEnvironment(), c.expected)
            << (c.language ? c.language : "-") << " " << (c.lang ? c.lang : "-");
    }

    pelo::test::TempDir dir;
    pelo::CPeloApp app(dir.file("pelo.INI"));
    auto texts = [&] {
        pelo::CPeloDlg dlg(app, pelo::test::UsualCodec);
        pelo::CDetailSetDlg detail;
        return QStringList{dlg.windowTitle(), dlg.findChild<QPushButton*>("1")->text(),
                           detail.findChild<QLineEdit*>("1000")->toolTip()};
    };
    ASSERT_TRUE(pelo::UseLanguage(UiLanguage::English));
    const QStringList english = texts();
    EXPECT_EQ(english[0], "Pelo - Anti-aliasing");
    EXPECT_EQ(english[1], "Run");
    EXPECT_TRUE(english[2].contains("0-1")) << english[2].toStdString();

    ASSERT_TRUE(pelo::UseLanguage(UiLanguage::Japanese));
    const QStringList japanese = texts();
    EXPECT_EQ(japanese[0], "Pelo -アンチエイリアジング-");
    EXPECT_EQ(japanese[1], "実行");
    EXPECT_TRUE(japanese[2].contains("0〜1")) << japanese[2].toStdString();
}

} // namespace
