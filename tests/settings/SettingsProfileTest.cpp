#include "pipeline/SettingsProfile.h"

#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using pelo::ProfileFile;
using pelo::test::ReadFileText;

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(ProfileFile, MissingFileReadsAsDefaults) {
    pelo::test::TempDir dir;
    const ProfileFile profile(dir.file("absent.INI"));
    EXPECT_EQ(profile.GetInt("INPUT", "TYPE", 7), 7);
    EXPECT_EQ(profile.GetInt("INPUT", "TYPE", -3), -3);
    EXPECT_EQ(profile.GetString("INPUT", "FOLDER", "./"), "./");
}

TEST(ProfileFile, SectionsAndKeysMatchIgnoringCase) {
    pelo::test::TempDir dir;
    const std::string path = dir.file("p.INI");
    WriteText(path, "[Input]\nfolder = /data/in \n[setting]\nGamma=0.5\n");
    const ProfileFile profile(path);
    EXPECT_EQ(profile.GetString("INPUT", "FOLDER", "x"), "/data/in");
    EXPECT_EQ(profile.GetString("SETTING", "GAMMA", "x"), "0.5");
    // A key of another section is not found.
    EXPECT_EQ(profile.GetString("INPUT", "GAMMA", "none"), "none");
}

TEST(ProfileFile, ValuesLoseBlanksAndOnePairOfQuotes) {
    pelo::test::TempDir dir;
    const std::string path = dir.file("p.INI");
    WriteText(path, "[A]\nq=\"quoted text\"\ns='single'\nhalf=\"open\nempty=\n");
    const ProfileFile profile(path);
    EXPECT_EQ(profile.GetString("A", "q", ""), "quoted text");
    EXPECT_EQ(profile.GetString("A", "s", ""), "single");
    EXPECT_EQ(profile.GetString("A", "half", ""), "\"open");
    // A present but empty key gives its empty text, but the integer default.
    EXPECT_EQ(profile.GetString("A", "empty", "dflt"), "");
    EXPECT_EQ(profile.GetInt("A", "empty", 9), 9);
}

TEST(ProfileFile, IntegersReadTheLeadingDecimalNumber) {
    pelo::test::TempDir dir;
    const std::string path = dir.file("p.INI");
    WriteText(path, "[N]\na=300\nb=-1\nc=12abc\nd=abc\ne=+5\nf=4294967297\n");
    const ProfileFile profile(path);
    EXPECT_EQ(profile.GetInt("N", "a", 0), 300);
    EXPECT_EQ(profile.GetInt("N", "b", 0), -1);
    EXPECT_EQ(profile.GetInt("N", "c", 0), 12);
    EXPECT_EQ(profile.GetInt("N", "d", 77), 0);
    EXPECT_EQ(profile.GetInt("N", "e", 0), 5);
    // 2^32 + 1 wraps to 1.
    EXPECT_EQ(profile.GetInt("N", "f", 0), 1);
}

TEST(ProfileFile, WritesCreateSectionsAndKeysInOrder) {
    pelo::test::TempDir dir;
    const std::string path = dir.file("new.INI");
    ProfileFile profile(path);
    EXPECT_TRUE(profile.WriteInt("OUTPUT", "TYPE", 1));
    EXPECT_TRUE(profile.WriteInt("INPUT", "TYPE", -1));
    EXPECT_TRUE(profile.WriteString("OUTPUT", "FOLDER", "/out"));
    EXPECT_EQ(ReadFileText(path), "[OUTPUT]\nTYPE=1\nFOLDER=/out\n[INPUT]\nTYPE=-1\n");
    EXPECT_EQ(profile.GetInt("input", "type", 0), -1);
}

TEST(ProfileFile, WritingKeepsOtherLinesAndReplacesInPlace) {
    pelo::test::TempDir dir;
    const std::string path = dir.file("p.INI");
    WriteText(path, "; written by hand\r\n[Other]\r\nx=1\r\n\r\n[input]\r\nFolder=/old\r\n"
                    "note without equals\r\n\r\n[LAST]\r\ny=2\r\n");
    ProfileFile profile(path);
    EXPECT_TRUE(profile.WriteString("INPUT", "FOLDER", "/new"));
    EXPECT_TRUE(profile.WriteInt("INPUT", "WHITE", 1));
    // The stored spelling of section and key stays, line ends stay CRLF, the
    // new key joins its section before the blank line.
    EXPECT_EQ(ReadFileText(path),
              "; written by hand\r\n[Other]\r\nx=1\r\n\r\n[input]\r\nFolder=/new\r\n"
              "note without equals\r\nWHITE=1\r\n\r\n[LAST]\r\ny=2\r\n");
}

TEST(ProfileFile, CommentedKeyIsNotAKey) {
    pelo::test::TempDir dir;
    const std::string path = dir.file("p.INI");
    WriteText(path, "[S]\n;F=9\n");
    ProfileFile profile(path);
    EXPECT_EQ(profile.GetInt("S", ";F", 4), 4);
    EXPECT_EQ(profile.GetInt("S", "F", 4), 4);
    EXPECT_TRUE(profile.WriteInt("S", "F", 5));
    EXPECT_EQ(ReadFileText(path), "[S]\n;F=9\nF=5\n");
}

TEST(ProfileFile, FailedWritesLeaveTheFileAsItWas) {
    pelo::test::TempDir dir;
    const std::string path = dir.file("p.INI");
    WriteText(path, "[S]\nk=old\n");
    ProfileFile profile(path);
    // A line break would split the value into lines of its own.
    EXPECT_FALSE(profile.WriteString("S", "k", "a\nb=c"));
    EXPECT_EQ(ReadFileText(path), "[S]\nk=old\n");

    // A profile whose folder is a file cannot be written.
    WriteText(dir.file("plain"), "x");
    ProfileFile blocked(dir.file("plain") + "/p.INI");
    EXPECT_FALSE(blocked.WriteString("S", "k", "v"));

    // No temporary files are left behind.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2);
}

TEST(ProfileFile, MissingFolderIsCreatedOnWrite) {
    pelo::test::TempDir dir;
    const std::string path = dir.file("a/b/p.INI");
    ProfileFile profile(path);
    EXPECT_TRUE(profile.WriteInt("S", "k", 3));
    EXPECT_EQ(ReadFileText(path), "[S]\nk=3\n");
}

TEST(ProfilePath, FollowsXdgConfigHomeThenHome) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";

    setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    EXPECT_EQ(pelo::ProfilePathFor("pelo"), "/tmp/cfg/pelo.INI");
    // A relative XDG_CONFIG_HOME is not used.
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(pelo::ProfilePathFor("pelo"), "/home/someone/.config/pelo.INI");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(pelo::ProfilePathFor("pelo"), "/home/someone/.config/pelo.INI");

    EXPECT_EQ(pelo::ExecutableBaseName(), "settings_tests");

    if (oldXdg)
        setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
}

} // namespace
