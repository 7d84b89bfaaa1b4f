// The options of pelo-batch as parsed into the command, without a run.
#include "cli/CommandLine.h"

#include "cli/RunEntries.h"
#include "cli/Shard.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pelo::cli {
namespace {

std::optional<BatchCommand> Parse(std::vector<std::string> words, int& exitCode) {
    words.insert(words.begin(), "pelo-batch");
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    ::testing::internal::CaptureStderr();
    auto command = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), exitCode);
    ::testing::internal::GetCapturedStderr();
    return command;
}

TEST(CommandLine, ResultOptionsReachTheSettings) {
    int exitCode = 0;
    const auto command =
        Parse({"--alpha-pass", "off", "--colour-pass", "off", "--hidden-colour", "clear",
               "--background", "#10A0ff", "--quality", "90", "--png-type", "rgba", "a", "b"},
              exitCode);
    ASSERT_TRUE(command);
    const ResultOptions& r = command->settings.result;
    EXPECT_EQ(r.alphaPass, AlphaPassMode::Off);
    EXPECT_FALSE(r.colourPass);
    EXPECT_EQ(r.hiddenColour, HiddenColour::Clear);
    EXPECT_EQ(r.background, 0x10A0FFu);
    EXPECT_EQ(r.encode.quality, 90);
    EXPECT_EQ(r.encode.pngType, PngType::Rgba);

    const auto plain = Parse({"a", "b"}, exitCode);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->settings.result.encode.quality, -1); // the encoder's own
    EXPECT_EQ(plain->settings.result.background, 0x808080u);
}

TEST(CommandLine, ExplicitOptionsOverrideThePresetInAnyOrder) {
    for (const auto& words : std::vector<std::vector<std::string>>{
             {"--preset", "painted", "-F", "7", "--hidden-colour", "keep", "a", "b"},
             {"-F", "7", "--hidden-colour", "keep", "--preset", "painted", "a", "b"}}) {
        int exitCode = 0;
        const auto command = Parse(words, exitCode);
        ASSERT_TRUE(command);
        const ConversionSettings& s = command->settings;
        EXPECT_EQ(s.detectThreshold, 7u);
        EXPECT_EQ(s.result.hiddenColour, HiddenColour::Keep);
        EXPECT_EQ(s.redLift, 1.0); // from the preset
    }
}

TEST(CommandLine, UnknownWordsAndBadNumbersAreUsageErrors) {
    for (const auto& words : std::vector<std::vector<std::string>>{{"--alpha-pass", "maybe"},
                                                                   {"--colour-pass", "yes"},
                                                                   {"--hidden-colour", "grey"},
                                                                   {"--preset", "oil"},
                                                                   {"--background", "80808"},
                                                                   {"--quality", "101"},
                                                                   {"--png-type", "rgb"},
                                                                   {"--shard", "0/3"},
                                                                   {"--shard", "4/3"},
                                                                   {"--shard", "1-3"}}) {
        std::vector<std::string> line = words;
        line.insert(line.end(), {"a", "b"});
        int exitCode = 0;
        EXPECT_FALSE(Parse(line, exitCode)) << words[0] << " " << words[1];
        EXPECT_EQ(exitCode, kExitUsage) << words[0] << " " << words[1];
    }
}

TEST(CommandLine, OutputExtensionIsWrittenAsTyped) {
    EXPECT_EQ(TypedOutputPattern("png"), "*.png");
    EXPECT_EQ(TypedOutputPattern("PNG"), "*.PNG");
    EXPECT_EQ(TypedOutputPattern("*.tga"), "*.tga");
    EXPECT_EQ(TypedOutputPattern(".Tga"), "*.TGA"); // mixed: the lists' spelling
    EXPECT_EQ(TypedOutputPattern("p-g"), "");
}

TEST(CommandLine, ShardsSplitByAStableHashAndKeepLinkedEntriesTogether) {
    EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);
    // b's output is c's input: both go where b goes.
    const std::vector<BatchEntry> entries = {
        {"in/a", "out/a"}, {"in/b", "in/c"}, {"in/c", "out/c"}};
    const std::vector<std::string> names = {"a", "b", "c"};
    for (unsigned count : {2u, 3u, 7u}) {
        const auto shards = ShardsOf(entries, names, count);
        EXPECT_EQ(shards[0], Fnv1a64("a") % count);
        EXPECT_EQ(shards[1], Fnv1a64("b") % count);
        EXPECT_EQ(shards[2], shards[1]);
    }
}

} // namespace
} // namespace pelo::cli
