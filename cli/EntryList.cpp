#include "cli/EntryList.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace pelo::cli {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != stdin) std::fclose(f);
    }
};

bool StaysBelow(const std::string& name) {
    if (name.front() == '/') return false;
    for (std::size_t start = 0; start <= name.size();) {
        const auto slash = std::min(name.find('/', start), name.size());
        if (name.compare(start, slash - start, "..") == 0) return false;
        start = slash + 1;
    }
    return true;
}

} // namespace

std::optional<std::vector<std::string>> ReadEntryList(const std::string& source, bool nul,
                                                      std::string& problem) {
    std::unique_ptr<std::FILE, FileCloser> file(source == "-" ? stdin
                                                              : std::fopen(source.c_str(), "rb"));
    if (!file) {
        problem = "cannot read the list " + source + ": " + std::strerror(errno);
        return std::nullopt;
    }
    const int end = nul ? '\0' : '\n';
    std::vector<std::string> names;
    std::string name;
    int c;
    do {
        c = std::getc(file.get());
        if (c != EOF && c != end) {
            name.push_back(static_cast<char>(c));
            continue;
        }
        if (name.empty()) continue;
        if (!StaysBelow(name)) {
            problem = "not a path below INPUT_DIR in the list: " + name;
            return std::nullopt;
        }
        names.push_back(std::move(name));
        name.clear();
    } while (c != EOF);
    if (std::ferror(file.get())) {
        problem = "cannot read the list " + source;
        return std::nullopt;
    }
    return names;
}

} // namespace pelo::cli
