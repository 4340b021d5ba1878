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
constexpr int kHexRecordMalformed = -3;  // too short, no ":", or checksum mismatch
constexpr int kHexRecordNoInput = -4;    // record or file is null
constexpr int kHexRecordEmptyLine = -5;  // nothing before the line end

// Record type of a data record; every other type is skipped by the image.
constexpr std::int32_t kHexRecordData = 0;

// Reads the next line of file (at most 767 characters; a longer line is
// read in pieces, each one counting as a line) into record. Characters
// after the checksum are ignored; hex digits may be of either case. A
// pair that is not valid hex converts as far as its digits go and is left
// for the checksum to catch. Returns one of the kHexRecord codes above.
int readHexRecord(HexRecord* record, std::FILE* file);

}  // namespace koblib
