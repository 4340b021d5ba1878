#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
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

std::string hexLine(unsigned address, unsigned type, const std::vector<std::uint8_t>& bytes) {
    std::vector<unsigned> fields = {static_cast<unsigned>(bytes.size()), (address >> 8) & 0xFF,
                                    address & 0xFF, type};
    fields.insert(fields.end(), bytes.begin(), bytes.end());
    std::string line = ":";
    unsigned sum = 0;
    char pair[3];
    for (unsigned field : fields) {
        std::snprintf(pair, sizeof pair, "%02X", field & 0xFF);
        line += pair;
        sum += field;
    }
    std::snprintf(pair, sizeof pair, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + pair + "\r\n";
}

std::string hexFile(unsigned address, const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        const std::size_t count = std::min<std::size_t>(16, bytes.size() - at);
        text += hexLine(address + static_cast<unsigned>(at), 0,
                        std::vector<std::uint8_t>(bytes.begin() + at, bytes.begin() + at + count));
    }
    return text + ":00000001FF\r\n";
}

std::vector<std::uint8_t> byteRun(std::uint8_t first, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

std::vector<HexText> malformedHexFiles() {
    const std::string eof = ":00000001FF\r\n";
    std::string fourLines;
    for (unsigned i = 0; i < 4; ++i)
        fourLines += hexLine(i * 16, 0, byteRun(static_cast<std::uint8_t>(i * 16), 16));
    const std::string more = hexLine(0x100, 0, byteRun(9, 16));
    std::string badChecksum = hexLine(0x40, 0, byteRun(0x40, 16));
    badChecksum[badChecksum.size() - 3] ^= 1;  // the last checksum digit
    const std::string cut = hexLine(0x40, 0, byteRun(0x40, 16));
    return {
        {"ChecksumOnLineFive", fourLines + badChecksum + more + eof},
        {"NoEndOfFileRecord", fourLines + more},
        {"TextThatIsNoRecord", fourLines + "firmware v2\r\n" + more + eof},
        {"LineWithoutColon", fourLines + more.substr(1) + eof},
        {"LineShorterThanItsHeader", fourLines + ":1001\r\n" + more + eof},
        {"LineCutInItsData", fourLines + cut.substr(0, 21) + "\r\n" + more + eof},
        // The digits that are not hex would read as 0, which the checksum
        // of this line agrees with.
        {"PairsThatAreNotHex", fourLines + ":02010000ZZ00FD\r\n" + eof},
        // Joined files whose second part was cut: the last record is data.
        {"CutAfterTheEndOfFileRecord", fourLines + eof + more},
        {"CtrlZBeforeTheEndOfFileRecord", fourLines + "\x1A" + more + eof},
        {"PartOfAByteOrderMark", "\xEF\xBB" + fourLines + eof},
        {"BlanksThenARecord", fourLines + "  " + more + eof},
        {"UnknownRecordType", fourLines + hexLine(0, 6, {}) + eof},
        {"AddressRecordOfWrongLength", hexLine(0, 4, {0}) + fourLines + eof},
        {"LinearAddressPast64KiB", hexLine(0, 4, {0x00, 0x01}) + fourLines + eof},
        {"SegmentAddressPast64KiB", hexLine(0, 2, {0x10, 0x00}) + fourLines + eof},
        {"DataRunningPast64KiB", hexLine(0xFFF8, 0, byteRun(0, 16)) + eof},
        // 0xFFFF0000 + 0xFFF8 + 16 wraps around 32 bits to 8.
        {"AddressWrappingAround",
         hexLine(0, 4, {0xFF, 0xFF}) + hexLine(0xFFF8, 0, byteRun(0, 16)) + eof},
    };
}

std::vector<HexText> toolWrittenHexFiles(const std::string& plain) {
    const std::string eof = ":00000001FF\r\n";
    const std::size_t end = plain.rfind(eof);
    const std::string records = plain.substr(0, end);
    return {
        {"CtrlZAfterTheEnd", plain + "\x1A"},
        {"CtrlZAndGarbageAfterTheEnd", plain + std::string("\x1A\x1A\0\xFF junk", 9)},
        {"BlanksAfterTheEnd", plain + "    \r\n\t\r\n"},
        {"SecondEndOfFileRecord", plain + eof},
        {"ByteOrderMark", "\xEF\xBB\xBF" + plain},
        {"JoinedWithCat", records + eof + plain},
    };
}

}  // namespace koblib_test
