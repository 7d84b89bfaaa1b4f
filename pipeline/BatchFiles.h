// The file list of a batch run and the paths formed for each entry. Shared
// by the command line and the desktop program; no Qt, no I/O beyond the
// folder listing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelo {

// "png", "PNG", ".png" or "*.png" as the format lists spell it: "*.PNG".
// Empty when fmt holds no extension or characters that cannot be one.
std::string NormalisePattern(std::string_view fmt);

// folder + "/" + entry (no doubled separator; an empty folder is ".").
std::string FormInputPath(const std::string& folder, const std::string& entry);

// outputFolder + "/" + entry with the extension after its last dot
// replaced by the pattern's (a.JPEG with "*.TGA" gives a.TGA). An entry
// without a dot in its name gets the extension appended.
std::string FormOutputPath(const std::string& outputFolder, const std::string& entry,
                           const std::string& pattern);

// Wildcard match, "*" and "?", letter case ignored.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// The non-recursive listing: every file of folder whose name matches the
// pattern and every matching sub-folder, the latter written in square
// brackets. False when the folder cannot be listed.
bool ListFolder(const std::string& folder, const std::string& pattern,
                std::vector<std::string>& list);

// Depth first: adds the path relative to the top folder ("pic.ERI",
// "sub/pic.ERI") of every file below folder whose upper-cased name ends with
// extension (".ERI"; compared whole, whatever its length). Symbolic links to
// folders are not followed, so a link cycle cannot recurse forever.
void CollectFilesRecursive(const std::string& folder, const std::string& extension,
                           std::vector<std::string>& list);

// The order of the dialog's sorted list: letter case ignored, ties broken by
// the bytes so the order is total.
void SortFileList(std::vector<std::string>& list);

// Both upper-cased paths hold ".PSD" after their first character.
bool IsLayeredPsdPair(const std::string& inputPath, const std::string& outputPath);

} // namespace pelo
