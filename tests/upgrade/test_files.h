// Files for the upgrade tests: a private temporary directory and the Intel
// HEX files that the build made with objcopy.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace koblib_test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes content (bytes as given) to name in the directory and returns
    // the file's full path.
    std::string write(const std::string& name, const std::string& content) const;
    std::string path(const std::string& name) const;

  private:
    std::filesystem::path dir_;
};

// The directory of the files made by make_test_hex.cmake.
std::string testDataPath(const std::string& name);

// The bytes of a file; fails the calling test when it cannot be read.
std::vector<std::uint8_t> readBinaryFile(const std::string& path);

// One Intel HEX line (with its checksum and CR LF).
std::string hexLine(unsigned address, unsigned type, const std::vector<std::uint8_t>& bytes);

// bytes from address on as data records of 16 bytes and an end record.
std::string hexFile(unsigned address, const std::vector<std::uint8_t>& bytes);

// count bytes first, first + 1, ... (wrapping at 256).
std::vector<std::uint8_t> byteRun(std::uint8_t first, std::size_t count);

// A firmware file's text and what is wrong with it (or what tool style it
// follows).
struct HexText {
    const char* name;
    std::string content;
};

inline void PrintTo(const HexText& text, std::ostream* out) {
    *out << text.name;
}

// Files that cannot be read whole and so must never be flashed.
std::vector<HexText> malformedHexFiles();

// plain (records and an end-of-file record, CR LF) as editors and tools
// also write it; each reads as the same image.
std::vector<HexText> toolWrittenHexFiles(const std::string& plain);

}  // namespace koblib_test
