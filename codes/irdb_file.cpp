// irdb CSV: a header "functionname,protocol,device,subdevice,function",
// then one protocol code a row (-1: no subdevice, or the protocol's
// default). The files in the wild vary, so the reader is lenient where it
// can be without guessing: a missing header, tabs for commas, "function"
// for "functionname", upper or lower case protocol names, and a name with
// commas, quoted or (unbalanced quote) not. The last four fields never
// hold a comma, so they are taken from the right and the name is the rest.
#include <string>

#include "code_file.h"

namespace kobc {

namespace {

constexpr long kMaxField = 0xFFFFFFF;

bool isHeader(const std::vector<std::string_view>& f) {
    return f.size() >= 2 &&
           (equalIgnoringCase(trim(f[0]), "functionname") ||
            equalIgnoringCase(trim(f[0]), "function")) &&
           equalIgnoringCase(trim(f[1]), "protocol");
}

char separatorOf(std::string_view line) {
    return line.find('\t') != std::string_view::npos && line.find(',') == std::string_view::npos
               ? '\t'
               : ',';
}

// The name field: surrounding quotes dropped and "" read as ".
std::string unquote(std::string_view s) {
    s = trim(s);
    if (!s.empty() && s.front() == '"') {
        s.remove_prefix(1);
        if (!s.empty() && s.back() == '"') s.remove_suffix(1);
    }
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        out += s[i];
        if (s[i] == '"' && i + 1 < s.size() && s[i + 1] == '"') ++i;
    }
    return std::string(trim(out));
}

bool readRow(std::string_view line, char separator, std::size_t n, Remote& remote,
             FileError& error) {
    // The four fields from the right.
    std::string_view fields[4];
    std::string_view rest = line;
    for (int i = 3; i >= 0; --i) {
        const std::size_t at = rest.rfind(separator);
        if (at == std::string_view::npos)
            return fileError(error, n,
                             "a row has fewer than 5 fields (name, protocol, device, subdevice, "
                             "function)");
        fields[i] = trim(rest.substr(at + 1));
        rest = rest.substr(0, at);
    }
    Button b;
    b.kind = KOBC_BUTTON_PROTOCOL;
    b.name = unquote(rest);
    // "Tivo unit=0": a parameter inside the name is not a protocol here.
    std::string_view protocol = fields[0];
    const kobc_protocol_info* info = kobc_protocol_find(std::string(protocol).c_str());
    if (info == nullptr)
        return fileError(error, n, "protocol " + quoted(protocol) + " is not known here",
                         KOBC_E_UNSUPPORTED);
    b.protocol = info->name;
    const char* names[3] = {"device", "subdevice", "function"};
    long* targets[3] = {&b.device, &b.subdevice, &b.function};
    for (int i = 0; i < 3; ++i) {
        if (!parseNumber(fields[i + 1], i == 1 ? -1 : 0, kMaxField, *targets[i]))
            return fileError(
                error, n,
                std::string(names[i]) + " " + quoted(fields[i + 1]) + " is not a number in range");
    }
    if (b.subdevice == -1) b.subdevice = KOBC_NONE;
    return addReadButton(remote, std::move(b), n, error);
}

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

}  // namespace

bool looksLikeIrdb(std::string_view text) {
    Lines lines(text);
    std::string_view line;
    while (lines.next(line)) {
        line = trim(line);
        if (line.empty()) continue;
        if (isHeader(split(line, separatorOf(line)))) return true;
        // A row: its last three fields numbers.
        const std::vector<std::string_view> f = split(line, ',');
        if (f.size() < 5) return false;
        long v = 0;
        for (std::size_t i = f.size() - 3; i < f.size(); ++i)
            if (!parseNumber(trim(f[i]), -1, kMaxField, v)) return false;
        return kobc_protocol_find(std::string(trim(f[f.size() - 4])).c_str()) != nullptr;
    }
    return false;
}

bool readIrdb(std::string_view text, const std::string& defaultName, std::vector<Remote>& out,
              FileError& error) {
    if (!checkText(text, error)) return false;
    Remote remote;
    remote.name = defaultName;
    Lines lines(text);
    std::string_view line;
    bool first = true;
    char separator = ',';
    while (lines.next(line)) {
        if (trim(line).empty()) continue;
        if (first) {
            first = false;
            separator = separatorOf(line);
            if (isHeader(split(line, separator))) continue;
        }
        if (!readRow(line, separator, lines.number(), remote, error)) return false;
    }
    out.push_back(std::move(remote));
    return true;
}

bool writeIrdb(const std::vector<const Remote*>& remotes, std::string& out, FileError& error) {
    out = "functionname,protocol,device,subdevice,function\n";
    if (remotes.empty()) return true;
    for (const Button& b : remotes.front()->buttons) {
        if (b.kind != KOBC_BUTTON_PROTOCOL)
            return fileError(
                error, 0,
                "button " + quoted(b.name) + ": an irdb file holds protocol codes, not raw timings",
                KOBC_E_UNSUPPORTED);
        if (b.toggle != KOBC_NONE && b.toggle != 0)
            return fileError(error, 0,
                             "button " + quoted(b.name) + ": an irdb file holds no toggle (" +
                                 std::to_string(b.toggle) + ")",
                             KOBC_E_UNSUPPORTED);
        out += csvField(b.name) + "," + b.protocol + "," + std::to_string(b.device) + "," +
               std::to_string(b.subdevice == KOBC_NONE ? -1 : b.subdevice) + "," +
               std::to_string(b.function) + "\n";
    }
    return true;
}

}  // namespace kobc
