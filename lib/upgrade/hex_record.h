// One line of an Intel HEX firmware file and the reader that parses it.
#pragma once

#include <cstdint>
#include <cstdio>

namespace koblib {

// A parsed Intel HEX line: ":" LL AAAA TT data... CC.
struct HexRecord {
    std::uint16_t address;   // AAAA, the 16-bit load address
    std::uint8_t data[256];  // the LL data bytes
    std::int32_t length;     // LL, 0 to 255
    std::int32_t type;       // TT: 0 data, 1 end of file, 2-5 addresses
    std::uint8_t checksum;   // CC as read from the line
};

// Result codes of readHexRecord.
constexpr int kHexRecordOk = 0;
constexpr int kHexRecordReadError = -1;  // the line reader failed before the end
constexpr int kHexRecordEndOfFile = -2;  // no more lines
constexpr int kHexRecordMalformed = -3;  // too short, no ":", not hex, or checksum mismatch
constexpr int kHexRecordNoInput = -4;    // record or file is null
constexpr int kHexRecordEmptyLine = -5;  // nothing before the line end

// Record types.
constexpr std::int32_t kHexRecordData = 0;
constexpr std::int32_t kHexRecordEnd = 1;             // end of file
constexpr std::int32_t kHexRecordSegmentAddress = 2;  // bits 4-19 of the address
constexpr std::int32_t kHexRecordSegmentStart = 3;    // start address, no memory data
constexpr std::int32_t kHexRecordLinearAddress = 4;   // bits 16-31 of the address
constexpr std::int32_t kHexRecordLinearStart = 5;     // start address, no memory data

// Reads the next line of file (at most 767 characters; a longer line is
// read in pieces, each one counting as a line) into record. A line ends
// with LF, CR LF or CR alone, or with the end of the file. Characters
// after the checksum are ignored; hex digits may be of either case, and a
// pair that is not hex makes the line malformed. A line of blanks (spaces,
// tabs) is an empty line, and a line that begins with Ctrl-Z (0x1A, the
// end of a DOS text) ends the file. Returns one of the kHexRecord codes
// above.
int readHexRecord(HexRecord* record, std::FILE* file);

}  // namespace koblib
