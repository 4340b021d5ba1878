// Collects a message that the device may spread over several input
// reports: received IR words, raw learned words, wake-up bytes. The first
// report announces the entry count (and for some kinds a header byte);
// continuation reports carry entries from their first byte on.
#pragma once

#include <cstddef>

namespace koblib {

// Where the fields of a message's first report lie, in payload offsets.
struct MessageLayout {
    bool hasHeader;             // the first report carries a header byte
    unsigned int headerOffset;  // offset of the header byte, when there is one
    unsigned int countOffset;   // offset of the announced entry count
    unsigned int dataOffset;    // offset of the first entry in the first report
};

// What one report did to the message being collected.
enum class CollectResult {
    kNeedMore,  // the message is incomplete: the next report continues it
    kComplete,  // the message is complete: entries() and count() hold it
    kIgnored,   // a first report too short to announce a message: nothing collected
};

// Entry is unsigned int for 16-bit big-endian words, unsigned char for bytes.
template <typename Entry>
class MessageCollector {
  public:
    static constexpr unsigned int kCapacity = 256;
    static constexpr unsigned int entryBytes = sizeof(Entry) == 1 ? 1 : 2;

    explicit MessageCollector(const MessageLayout& layout) : layout(layout) {}

    // Takes one report payload into the message. Never reads beyond
    // `length` bytes of the payload nor stores beyond `kCapacity` entries.
    CollectResult collect(const unsigned char* payload, unsigned int length) {
        unsigned int offset = 0;
        if (!collecting) {
            if (payload == nullptr || length <= layout.countOffset) return CollectResult::kIgnored;
            header = layout.hasHeader ? payload[layout.headerOffset] : 0;
            expected = payload[layout.countOffset];
            received = 0;
            collecting = 1;
            offset = layout.dataOffset;
        }
        while (received < expected && received < kCapacity && payload != nullptr &&
               offset < length && length - offset >= entryBytes) {
            buffer[received++] = readEntry(payload + offset);
            offset += entryBytes;
        }
        if (received != expected) return CollectResult::kNeedMore;
        collecting = 0;
        return CollectResult::kComplete;
    }

    // The parse step of a collecting parser: takes the report and, once the
    // message is complete, calls fire(). Returns what Parser::parse
    // returns: false while the message needs more reports.
    template <typename Fire>
    bool parse(const unsigned char* payload, unsigned int length, Fire fire) {
        const CollectResult result = collect(payload, length);
        if (result == CollectResult::kNeedMore) return false;
        if (result == CollectResult::kComplete) fire();
        return true;
    }

    const Entry* entries() const { return buffer; }
    unsigned int count() const { return received; }
    unsigned int headerByte() const { return header; }

  private:
    static Entry readEntry(const unsigned char* at) {
        if constexpr (entryBytes == 1) {
            return at[0];
        } else {
            return static_cast<Entry>((static_cast<unsigned int>(at[0]) << 8) | at[1]);
        }
    }

    MessageLayout layout;
    Entry buffer[kCapacity] = {};
    unsigned int header = 0;
    unsigned int received = 0;
    unsigned int collecting = 0;
    unsigned int expected = 0;
};

}  // namespace koblib
