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
// pattern and, with withFolders (the desktop list), every matching
// sub-folder, written in square brackets. False when the folder cannot be
// listed.
bool ListFolder(const std::string& folder, const std::string& pattern,
                std::vector<std::string>& list, bool withFolders = true);

// Depth first: adds the path relative to the top folder ("pic.ERI",
// "sub/pic.ERI") of every file below folder whose upper-cased name ends with
// extension (".ERI"; compared whole, whatever its length). Symbolic links to
// folders are not followed, so a link cycle cannot recurse forever; the
// folder named by skip (the run's output folder) is left out with all it
// holds. Folders are opened relative to their parent, so depth is not
// limited by PATH_MAX. Folders that cannot be opened are added to
// unreadable, relative to the top folder.
void CollectFilesRecursive(const std::string& folder, const std::string& extension,
                           std::vector<std::string>& list, const std::string& skip = {},
                           std::vector<std::string>* unreadable = nullptr);

// The entry of a desktop list that names a sub-folder ("[name]"): no file
// to convert.
bool IsFolderEntry(const std::string& folder, const std::string& entry);

// The order of the dialog's sorted list: letter case ignored, ties broken by
// the bytes so the order is total.
void SortFileList(std::vector<std::string>& list);

} // namespace pelo
