// pelo-batch for other tools: the typed output extension, lists of files,
// shards, the JSON report and the dry run.
#include "base/TextCase.h"
#include "tests/cli/BatchProgram.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace pelo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::PeloBatch;
using test::Q;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using test::WriteSprite;

void WriteText(const std::string& path, const std::string& text) {
    WriteFileBytes(path, Bytes(text.begin(), text.end()));
}

struct ReportRow {
    std::string status, input, output, reason;
    long long milliseconds = 0, pixels = 0;
};

// Every line of a report parsed by Node's JSON parser: the file rows by
// input, and the summary object as Node writes it back.
struct ParsedReport {
    bool ok = false;
    std::map<std::string, ReportRow> rows;
    std::size_t lines = 0;
    std::string summary;
};

ParsedReport ParseReport(const TempDir& dir, const std::string& report) {
    const std::string rows = dir.file("rows.txt");
    const std::string script =
        "const fs=require('fs');let out='';"
        "for (const l of fs.readFileSync(process.argv[1],'utf8').split('\\n')) {"
        " if (!l) continue; const o=JSON.parse(l);"
        " if (o.summary) { out+='summary\\x1f'+JSON.stringify(o.summary)+'\\x1e'; continue; }"
        " out+=[o.status,o.input,o.output,o.reason,o.milliseconds,o.pixels].join('\\x1f')+'\\x1e'; "
        "}"
        "fs.writeFileSync(process.argv[2],out);";
    ParsedReport parsed;
    if (test::RunCommand("node -e \"" + script + "\" " + Q(report) + " " + Q(rows)) != 0)
        return parsed;
    const Bytes bytes = ReadFileBytes(rows);
    std::stringstream records(std::string(bytes.begin(), bytes.end()));
    for (std::string record; std::getline(records, record, '\x1e');) {
        std::vector<std::string> f;
        std::stringstream fields(record);
        for (std::string field; std::getline(fields, field, '\x1f');)
            f.push_back(field);
        f.resize(6);
        ++parsed.lines;
        if (f[0] == "summary") {
            parsed.summary = f[1];
            continue;
        }
        parsed.rows[f[1]] = {f[0], f[1], f[2], f[3], std::stoll(f[4]), std::stoll(f[5])};
    }
    parsed.ok = true;
    return parsed;
}

TEST(PeloBatchRuns, OutputExtensionIsWrittenAsTypedByTheSameWriter) {
    TempDir dir;
    WriteSprite(dir.file("in/a.png"), 3);
    for (const std::string lower : {"tga", "psd", "png"}) {
        const std::string upper = UpperAscii(lower);
        const std::string a = dir.file("lower-" + lower), b = dir.file("upper-" + lower);
        ASSERT_EQ(PeloBatch(dir, "--from png --to " + lower + " " + Q(dir.file("in")) + " " + Q(a))
                      .status,
                  0);
        ASSERT_EQ(PeloBatch(dir, "--from png --to " + upper + " " + Q(dir.file("in")) + " " + Q(b))
                      .status,
                  0);
        EXPECT_FALSE(fs::exists(a + "/a." + upper)) << lower;
        EXPECT_FALSE(fs::exists(b + "/a." + lower)) << lower;
        const Bytes written = ReadFileBytes(a + "/a." + lower),
                    typedUpper = ReadFileBytes(b + "/a." + upper);
        ASSERT_FALSE(written.empty()) << lower;
        if (lower == "psd") {
            // The layer is named after the file: same writer, same size.
            EXPECT_EQ(Bytes(written.begin(), written.begin() + 4), (Bytes{'8', 'B', 'P', 'S'}));
            EXPECT_EQ(written.size(), typedUpper.size());
        } else {
            EXPECT_EQ(written, typedUpper) << lower;
        }
    }
}

TEST(PeloBatchRuns, FilesFromConvertsTheListedEntriesOnly) {
    TempDir dir;
    for (const char* name : {"a.png", "sub/b.png", "c.png", "d.bmp"})
        WriteSprite(dir.file(std::string("in/") + name), 5);
    const std::string in = Q(dir.file("in"));
    WriteText(dir.file("list.txt"), "a.png\n\nsub/b.png\nd.bmp\n");
    auto run = PeloBatch(dir, "--files-from " + Q(dir.file("list.txt")) + " --from png --to PNG " +
                                  in + " " + Q(dir.file("out")));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "2 converted, 0 failed\n");
    EXPECT_TRUE(fs::exists(dir.file("out/a.PNG")));
    EXPECT_TRUE(fs::exists(dir.file("out/sub/b.PNG")));
    EXPECT_FALSE(fs::exists(dir.file("out/c.PNG")));
    EXPECT_FALSE(fs::exists(dir.file("out/d.PNG"))); // not of the --from format

    // NUL-separated on standard input; without --from every format.
    WriteFileBytes(dir.file("list0"),
                   Bytes{'c', '.', 'p', 'n', 'g', 0, 'd', '.', 'b', 'm', 'p', 0});
    run = PeloBatch(dir, "-0 --files-from - --to tga " + in + " " + Q(dir.file("out0")) + " <" +
                             Q(dir.file("list0")));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "2 converted, 0 failed\n");
    EXPECT_TRUE(fs::exists(dir.file("out0/c.tga")));
    EXPECT_TRUE(fs::exists(dir.file("out0/d.tga")));

    WriteText(dir.file("bad.txt"), "a.png\n../in/c.png\n");
    run = PeloBatch(dir, "--files-from " + Q(dir.file("bad.txt")) + " --to PNG " + in + " " +
                             Q(dir.file("out-bad")));
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(fs::exists(dir.file("out-bad")));
}

TEST(PeloBatchRuns, ShardsTogetherAreTheWholeRunOnce) {
    TempDir dir;
    for (int i = 0; i < 12; ++i)
        WriteSprite(dir.file("in/s" + std::to_string(i) + ".png"), 20 + i);
    WriteSprite(dir.file("in/same.png"), 1); // same.PNG and same.png: one output, a collision
    WriteSprite(dir.file("in/same.PNG"), 2);
    const std::string in = Q(dir.file("in"));
    ASSERT_EQ(PeloBatch(dir, "--from png --to TGA --report " + Q(dir.file("whole.json")) + " " +
                                 in + " " + Q(dir.file("whole")))
                  .status,
              1);
    const ParsedReport whole = ParseReport(dir, dir.file("whole.json"));
    ASSERT_TRUE(whole.ok);
    ASSERT_EQ(whole.rows.size(), 14u);

    std::map<std::string, int> seen;
    for (int k = 1; k <= 3; ++k) {
        const std::string report = dir.file("part" + std::to_string(k) + ".json");
        PeloBatch(dir, "--from png --to TGA --shard " + std::to_string(k) + "/3 --report " +
                           Q(report) + " " + in + " " + Q(dir.file("parts")));
        const ParsedReport part = ParseReport(dir, report);
        ASSERT_TRUE(part.ok);
        EXPECT_GT(part.rows.size(), 0u) << k; // 14 entries: no part left empty
        for (const auto& [input, row] : part.rows) {
            ++seen[input];
            EXPECT_EQ(row.status, whole.rows.at(input).status) << input;
            std::string reason = whole.rows.at(input).reason;
            for (auto at = reason.find("/whole/"); at != std::string::npos;
                 at = reason.find("/whole/"))
                reason.replace(at, 7, "/parts/");
            EXPECT_EQ(row.reason, reason) << input;
        }
    }
    EXPECT_EQ(seen.size(), whole.rows.size());
    for (const auto& [input, times] : seen)
        EXPECT_EQ(times, 1) << input;
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir.file("whole"))) {
        ++files;
        EXPECT_EQ(ReadFileBytes(entry.path().string()),
                  ReadFileBytes(dir.file("parts/" + entry.path().filename().string())));
    }
    EXPECT_EQ(files, 13u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("parts")), fs::directory_iterator()),
              13);
}

TEST(PeloBatchRuns, ReportHasOneJsonLinePerFileAndASummary) {
    TempDir dir;
    WriteSprite(dir.file("in/good.png"), 1);
    WriteSprite(dir.file("in/odd \"\t\x01 \xc3\xa9t\xc3\xa9.png"), 2);
    WriteSprite(dir.file("in/cut.png"), 3);
    Bytes cut = ReadFileBytes(dir.file("in/cut.png"));
    cut.resize(cut.size() / 2);
    WriteFileBytes(dir.file("in/cut.png"), cut);
    WriteSprite(dir.file("in/same.png"), 4);
    WriteSprite(dir.file("in/same.PNG"), 5);

    const auto run = PeloBatch(dir, "-j2 --from png --to TGA --report - " + Q(dir.file("in")) +
                                        " " + Q(dir.file("out")));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("3 converted, 2 failed"), std::string::npos) << run.err;
    const ParsedReport report = ParseReport(dir, dir.file("stdout.txt"));
    ASSERT_TRUE(report.ok) << run.out;
    EXPECT_EQ(report.lines, 6u);
    ASSERT_EQ(report.rows.size(), 5u) << run.out;
    const auto row = [&](const std::string& name) {
        return report.rows.at(dir.file("in/" + name));
    };
    const ReportRow odd = row("odd \"\t\x01 \xc3\xa9t\xc3\xa9.png");
    EXPECT_EQ(odd.status, "converted");
    EXPECT_EQ(odd.output, dir.file("out/odd \"\t\x01 \xc3\xa9t\xc3\xa9.TGA"));
    EXPECT_EQ(odd.pixels, 48 * 32);
    EXPECT_EQ(row("good.png").status, "converted");
    EXPECT_EQ(row("cut.png").status, "failed");
    EXPECT_EQ(row("cut.png").reason, "truncated PNG file");
    EXPECT_EQ(row("cut.png").pixels, 0);
    EXPECT_EQ(row("same.PNG").status, "converted"); // first in the sorted list
    EXPECT_EQ(row("same.png").status, "refused");
    EXPECT_NE(report.summary.find("\"converted\":3,\"failed\":1,\"refused\":1"), std::string::npos)
        << report.summary;
}

TEST(PeloBatchRuns, DryRunPrintsThePlanAndWritesNothing) {
    TempDir dir;
    WriteSprite(dir.file("in/a.png"), 1);
    WriteSprite(dir.file("in/b.PNG"), 2);
    const Bytes b = ReadFileBytes(dir.file("in/b.PNG"));
    const std::string in = dir.file("in");
    auto run =
        PeloBatch(dir, "--dry-run --from png --to tga " + Q(in) + " " + Q(dir.file("out/deep")));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, in + "/a.png -> " + dir.file("out/deep/a.tga") + "\n" + in + "/b.PNG -> " +
                           dir.file("out/deep/b.tga") + "\n2 to convert, 0 refused (dry run)\n");
    EXPECT_FALSE(fs::exists(dir.file("out")));

    run = PeloBatch(dir, "--dry-run --from png --to PNG " + Q(in) + " " + Q(in));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(in + "/a.png -> " + in + "/a.PNG\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("refused " + in + "/b.PNG: the output would replace the input itself"),
              std::string::npos)
        << run.out;
    EXPECT_FALSE(fs::exists(in + "/a.PNG"));
    EXPECT_EQ(ReadFileBytes(in + "/b.PNG"), b);
}

} // namespace
} // namespace pelo
