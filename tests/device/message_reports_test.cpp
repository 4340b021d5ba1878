// The virtual device's multi-report messages, read back by the library's
// own parsers: for every payload length a device may have, the entries
// sent are the entries received, in one event, on the last report.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "firmware_model.h"
#include "parsers/ir_raw_learn_parser.h"
#include "parsers/ir_receive_parser.h"
#include "parsers/wakeup_parser.h"
#include "virtual_bus.h"

namespace koblib {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes wordBytes(const std::vector<unsigned int>& words) {
    Bytes bytes;
    for (unsigned int w : words) {
        bytes.push_back(static_cast<unsigned char>(w >> 8));
        bytes.push_back(static_cast<unsigned char>(w));
    }
    return bytes;
}

// Feeds the reports to the parser; every report but the last must leave it
// collecting.
void feed(Parser& parser, const std::vector<Bytes>& reports, std::size_t payload) {
    for (std::size_t k = 0; k < reports.size(); ++k) {
        EXPECT_EQ(reports[k].size(), payload);
        const bool ended = parser.parse(reports[k].data(), static_cast<unsigned int>(payload));
        EXPECT_EQ(ended, k + 1 == reports.size()) << "report " << k << " of " << reports.size();
    }
}

TEST(MessageReports, EveryPayloadLengthCarriesEveryEntryWhole) {
    std::mt19937 random(18);
    for (std::size_t payload = VirtualBus::kMinPayload; payload <= VirtualBus::kMaxPayload;
         ++payload) {
        for (unsigned count : {0u, 1u, 5u, unsigned(random() % 256), 255u}) {
            std::vector<unsigned int> words(count);
            for (auto& w : words)
                w = random() & 0xFFFF;
            Bytes block(count);
            for (auto& b : block)
                b = static_cast<unsigned char>(random());
            const auto n = static_cast<unsigned char>(count);
            SCOPED_TRACE(::testing::Message() << "payload " << payload << ", count " << count);

            std::vector<unsigned int> received;
            int events = 0;
            IRReceiveParser irReceive("S", [&](const std::string&, const std::string&,
                                               const unsigned int* w, unsigned int c) {
                received.assign(w, w + c);
                ++events;
            });
            feed(irReceive, FirmwareModel::messageReports({0x0A, n}, wordBytes(words), 2, payload),
                 payload);
            EXPECT_EQ(events, 1);
            EXPECT_EQ(received, words);

            IRRawLearnParser rawLearn(
                "S", [&](const std::string&, unsigned int, const unsigned int* w, unsigned int c) {
                    received.assign(w, w + c);
                    ++events;
                });
            feed(rawLearn,
                 FirmwareModel::messageReports({0x0C, 0x00, n, 0x00}, wordBytes(words), 2, payload),
                 payload);
            EXPECT_EQ(events, 2);
            EXPECT_EQ(received, words);

            Bytes bytes;
            WakeupParser wakeup(
                "S", [&](const std::string&, unsigned int, const unsigned char* b, unsigned int c) {
                    bytes.assign(b, b + c);
                    ++events;
                });
            feed(wakeup, FirmwareModel::messageReports({0x26, 0x01, n}, block, 1, payload),
                 payload);
            EXPECT_EQ(events, 3);
            EXPECT_EQ(bytes, block);
            if (::testing::Test::HasFailure()) return;  // one length's trace is enough
        }
    }
}

}  // namespace
}  // namespace koblib
