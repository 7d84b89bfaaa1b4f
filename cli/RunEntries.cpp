#include "cli/RunEntries.h"

#include "base/TextCase.h"
#include "cli/EntryList.h"
#include "formats/Codec.h"
#include "pipeline/BatchFiles.h"
#include "pipeline/FileKinds.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace pelo::cli {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> SortedPatterns(std::vector<std::string> list) {
    SortFileList(list);
    list.erase(std::unique(list.begin(), list.end()), list.end());
    return list;
}

bool Offers(const std::vector<std::string>& list, const std::string& pattern) {
    return std::find(list.begin(), list.end(), pattern) != list.end();
}

int Failed(const char* what, const std::string& folder) {
    std::fprintf(stderr, "pelo-batch: %s: %s\n", what, folder.c_str());
    return kExitFailed;
}

void Add(RunEntries& run, const std::string& inDir, const std::string& outDir,
         const std::string& outPattern, std::string name) {
    run.entries.push_back({FormInputPath(inDir, name), FormOutputPath(outDir, name, outPattern)});
    run.names.push_back(std::move(name));
}

} // namespace

std::string TypedOutputPattern(const std::string& fmt) {
    const std::string pattern = NormalisePattern(fmt);
    if (pattern.empty()) return {};
    const std::string typed = "*." + fmt.substr(fmt.size() - (pattern.size() - 2));
    return typed == pattern || typed == "*." + LowerAscii(pattern.substr(2)) ? typed : pattern;
}

std::vector<std::string> InputPatterns() {
    std::vector<std::string> list = {"*.ERI", "*.PSD"};
    for (const auto& p : CodecDecoderPatterns())
        list.push_back(p);
    return SortedPatterns(list);
}

std::vector<std::string> OutputPatterns() {
    std::vector<std::string> list = {"*.TGA", "*.PSD"};
    for (const auto& p : CodecEncoderPatterns())
        list.push_back(p);
    return SortedPatterns(list);
}

std::optional<RunEntries> CollectRunEntries(const BatchCommand& command, int& exitCode) {
    RunEntries run;
    if (command.paths.size() != 2) {
        exitCode = UsageError("expected INPUT and OUTPUT");
        return std::nullopt;
    }
    const bool listed = !command.filesFrom.empty();
    if (!listed && command.from.empty() && command.to.empty()) {
        if (command.recursive) {
            exitCode = UsageError("--recursive needs --from and --to");
            return std::nullopt;
        }
        run.entries.push_back({command.paths[0], command.paths[1]});
        run.names.push_back(std::string(FileName(command.paths[0])));
        return run;
    }
    if (command.to.empty() || (!listed && command.from.empty())) {
        exitCode = UsageError(listed ? "--files-from needs --to"
                                     : "a folder run needs both --from and --to");
        return std::nullopt;
    }
    const std::string inPattern = command.from.empty() ? "*" : NormalisePattern(command.from);
    const std::string outPattern = TypedOutputPattern(command.to);
    if (!command.from.empty() && (inPattern.empty() || !Offers(InputPatterns(), inPattern))) {
        exitCode = UsageError("unknown input format '" + command.from + "' (see --list-formats)");
        return std::nullopt;
    }
    if (outPattern.empty() || !Offers(OutputPatterns(), NormalisePattern(command.to))) {
        exitCode = UsageError("unknown output format '" + command.to + "' (see --list-formats)");
        return std::nullopt;
    }
    const std::string& inDir = command.paths[0];
    const std::string& outDir = command.paths[1];
    std::error_code ec;
    if (!fs::is_directory(inDir, ec)) {
        exitCode = Failed("input folder not found", inDir);
        return std::nullopt;
    }
    if (fs::exists(outDir, ec) && !fs::is_directory(outDir, ec)) {
        exitCode = Failed("output folder is not a folder", outDir);
        return std::nullopt;
    }
    if (listed) {
        // In the list's order; with --from, only the names of that format.
        std::string problem;
        auto names = ReadEntryList(command.filesFrom, command.nulSeparated, problem);
        if (!names) {
            exitCode = UsageError(problem);
            return std::nullopt;
        }
        for (auto& name : *names)
            if (WildcardMatch(inPattern, FileName(name)))
                Add(run, inDir, outDir, outPattern, std::move(name));
        return run;
    }
    std::vector<std::string> list, unreadable;
    if (command.recursive) {
        // The output folder inside the input folder holds earlier outputs,
        // not inputs.
        CollectFilesRecursive(inDir, inPattern.substr(1), list, outDir, &unreadable);
    } else if (!ListFolder(inDir, inPattern, list, false)) {
        exitCode = Failed("cannot list the input folder", inDir);
        return std::nullopt;
    }
    for (const auto& folder : unreadable) {
        std::fprintf(stderr, "pelo-batch: cannot open the folder %s\n",
                     FormInputPath(inDir, folder).c_str());
        run.listingFailed = true;
    }
    SortFileList(list);
    for (auto& name : list)
        Add(run, inDir, outDir, outPattern, std::move(name));
    if (run.entries.empty() && !command.quiet)
        std::fprintf(stderr, "pelo-batch: no %s files in %s\n", inPattern.c_str(), inDir.c_str());
    return run;
}

} // namespace pelo::cli
