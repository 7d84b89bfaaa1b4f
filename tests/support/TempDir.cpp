#include "tests/support/TempDir.h"

#include <cstdlib>
#include <stdexcept>

namespace pelo::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelo-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace pelo::test
