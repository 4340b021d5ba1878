// The protocol half of the interface: the table, decode and encode.
#include <cctype>
#include <cstring>

#include "frame_matcher.h"
#include "frame_writer.h"
#include "koblib_codes.h"
#include "message.h"
#include "protocol_def.h"

namespace {

using kobc::protocolCount;
using kobc::protocolTable;

// Case-insensitive, '-', '_' and ' ' skipped: the next significant
// character of a name, or 0 at its end (or at a ',' ending an alias).
char significant(const char*& p) {
    while (*p == '-' || *p == '_' || *p == ' ')
        ++p;
    if (*p == '\0' || *p == ',') return '\0';
    return static_cast<char>(std::tolower(static_cast<unsigned char>(*p++)));
}

bool sameName(const char* wanted, const char* candidate) {
    for (;;) {
        const char a = significant(wanted);
        const char b = significant(candidate);
        if (a != b) return false;
        if (a == '\0') return true;
    }
}

bool matchesAlias(const char* wanted, const char* aliases) {
    for (const char* p = aliases; p != nullptr && *p != '\0';) {
        if (sameName(wanted, p)) return true;
        p = std::strchr(p, ',');
        if (p != nullptr) ++p;
    }
    return false;
}

bool validFrame(const int* durations, std::size_t count) {
    if (durations == nullptr || count == 0) return false;
    for (std::size_t i = 0; i < count; ++i)
        if (durations[i] == 0 || (durations[i] > 0) != (i % 2 == 0)) return false;
    return true;
}

int checkField(const char* field, long value, long max, const char* protocol, char* message,
               std::size_t size) {
    if (value == KOBC_NONE) return KOBC_OK;
    if (max == KOBC_NONE)
        return kobc::fail(KOBC_E_RANGE, message, size, "%s has no %s (given %ld)", protocol, field,
                          value);
    if (value < 0 || value > max)
        return kobc::fail(KOBC_E_RANGE, message, size, "%s %ld is outside 0..%ld for %s", field,
                          value, max, protocol);
    return KOBC_OK;
}

}  // namespace

extern "C" {

KOBC_API std::size_t kobc_protocol_count(void) {
    return protocolCount();
}

KOBC_API const kobc_protocol_info* kobc_protocol_at(std::size_t index) {
    return index < protocolCount() ? &protocolTable()[index].info : nullptr;
}

KOBC_API const kobc_protocol_info* kobc_protocol_find(const char* name) {
    if (name == nullptr) return nullptr;
    for (std::size_t i = 0; i < protocolCount(); ++i) {
        const kobc_protocol_info& info = protocolTable()[i].info;
        if (sameName(name, info.name) || matchesAlias(name, info.aliases)) return &info;
    }
    return nullptr;
}

KOBC_API std::size_t kobc_decode(const int* durations, std::size_t count, long carrier_hz,
                                 kobc_match* matches, std::size_t capacity) {
    if (!validFrame(durations, count)) return 0;
    if (matches == nullptr) capacity = 0;
    struct Found {
        kobc_match match;
        long rank;
    };
    constexpr std::size_t kMost = 32;
    Found found[kMost];
    std::size_t total = 0;
    const kobc::ProtocolDef* table = protocolTable();
    for (std::size_t i = 0; i < protocolCount() && total < kMost; ++i) {
        const kobc::ProtocolDef& p = table[i];
        kobc::FrameMatcher matcher(p, durations, count);
        kobc::Fields f{};
        kobc::Bits bits = 0;
        if (!matcher.decode(&f, &bits)) continue;
        bool first = false;
        if (p.accept != nullptr && !p.accept(f, carrier_hz, &first)) continue;
        kobc_match m{};
        m.protocol = p.info.name;
        m.device = f.device;
        m.subdevice = f.subdevice;
        m.function = f.function;
        m.toggle = f.toggle;
        m.repeat = f.repeat ? 1 : 0;
        m.kernel_protocol = nullptr;
        m.kernel_scancode = 0;
        if (p.kernel != nullptr) {
            unsigned long scancode = 0;
            m.kernel_protocol = p.kernel(f, bits, &scancode);
            if (m.kernel_protocol != nullptr) m.kernel_scancode = scancode;
        }
        // Stable insertion by rank: table order, a reading the carrier
        // singles out first.
        const long rank = first ? -1 : static_cast<long>(i);
        std::size_t at = total;
        while (at > 0 && found[at - 1].rank > rank) {
            found[at] = found[at - 1];
            --at;
        }
        found[at] = {m, rank};
        ++total;
    }
    for (std::size_t i = 0; i < total && i < capacity; ++i)
        matches[i] = found[i].match;
    return total;
}

KOBC_API int kobc_encode(const char* protocol, long device, long subdevice, long function,
                         long toggle, kobc_code* out, char* message, std::size_t message_size) {
    kobc::clearMessage(message, message_size);
    if (protocol == nullptr || out == nullptr)
        return kobc::fail(KOBC_E_ARGUMENT, message, message_size, "no protocol or no code");
    const kobc_protocol_info* info = kobc_protocol_find(protocol);
    if (info == nullptr)
        return kobc::fail(KOBC_E_PROTOCOL, message, message_size, "unknown protocol \"%.40s\"",
                          protocol);
    std::size_t index = 0;
    while (&protocolTable()[index].info != info)
        ++index;
    const kobc::ProtocolDef& p = protocolTable()[index];
    if (device == KOBC_NONE)
        return kobc::fail(KOBC_E_RANGE, message, message_size, "%s needs a device (0..%ld)",
                          info->name, info->device_max);
    int status = checkField("device", device, info->device_max, info->name, message, message_size);
    if (status == KOBC_OK)
        status = checkField("subdevice", subdevice, info->subdevice_max, info->name, message,
                            message_size);
    if (status == KOBC_OK && function == KOBC_NONE)
        status = kobc::fail(KOBC_E_RANGE, message, message_size, "%s needs a function (0..%ld)",
                            info->name, info->function_max);
    if (status == KOBC_OK)
        status =
            checkField("function", function, info->function_max, info->name, message, message_size);
    if (status == KOBC_OK)
        status = checkField("toggle", toggle, info->toggle_max, info->name, message, message_size);
    if (status != KOBC_OK) return status;

    const kobc::Fields fields{device, subdevice, function, toggle, false};
    kobc::FrameWriter writer(p, out->durations, KOBC_MAX_DURATIONS);
    for (int i = 0; i < kobc::kMaxSequence && p.once[i] >= 0; ++i) {
        const kobc::FrameDef& frame = p.frames[p.once[i]];
        writer.append(frame, frame.pack(fields));
    }
    const std::size_t once = writer.endSequence();
    for (int i = 0; i < kobc::kMaxSequence && p.held[i] >= 0; ++i) {
        const kobc::FrameDef& frame = p.frames[p.held[i]];
        writer.append(frame, frame.pack(fields));
    }
    const std::size_t held = writer.endSequence();
    if (writer.overflowed())
        return kobc::fail(KOBC_E_TOO_LONG, message, message_size,
                          "the %s code has more than %d durations", info->name, KOBC_MAX_DURATIONS);
    out->carrier_hz = info->carrier_hz;
    out->once_count = once;
    out->repeat_count = held;
    return KOBC_OK;
}

}  // extern "C"
