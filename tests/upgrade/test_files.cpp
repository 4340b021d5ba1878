#include "test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>

namespace koblib_test {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = std::filesystem::temp_directory_path() /
           ("koblib-upgrade-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
    const std::string full = path(name);
    std::ofstream out(full, std::ios::binary);
    out << content;
    EXPECT_TRUE(out.good()) << full;
    return full;
}

std::string TempDir::path(const std::string& name) const {
    return (dir_ / name).string();
}

std::string testDataPath(const std::string& name) {
    return std::string(KOBLIB_UPGRADE_TEST_DATA) + "/" + name;
}

std::vector<std::uint8_t> readBinaryFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

}  // namespace koblib_test
