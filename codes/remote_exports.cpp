// The remotes half of the C interface: the kobc_remotes handle, its edits,
// and the code files read into it and written from it. No exception
// leaves these functions: running out of memory is KOBC_E_MEMORY.
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "code_file.h"
#include "koblib_codes.h"
#include "message.h"
#include "remote.h"

namespace {

using kobc::fail;

bool haveRemote(const kobc_remotes* r, std::size_t remote) {
    return r != nullptr && remote < r->remotes.size();
}

int failWith(int error, char* message, std::size_t size, const std::string& what) {
    return fail(error, message, size, "%s", what.c_str());
}

std::string* fieldOf(kobc::Remote& remote, const char* field) {
    if (field == nullptr) return nullptr;
    if (std::strcmp(field, "brand") == 0) return &remote.brand;
    if (std::strcmp(field, "model") == 0) return &remote.model;
    if (std::strcmp(field, "notes") == 0) return &remote.notes;
    return nullptr;
}

// A C button as the model's (the raw code copied); KOBC_OK or the error.
int fromC(const kobc_button& in, kobc::Button& out, char* message, std::size_t size) {
    if (in.name == nullptr) return fail(KOBC_E_ARGUMENT, message, size, "the button has no name");
    out.name = in.name;
    out.kind = in.kind;
    if (in.kind == KOBC_BUTTON_PROTOCOL) {
        if (in.protocol == nullptr)
            return fail(KOBC_E_ARGUMENT, message, size, "button \"%.64s\" names no protocol",
                        in.name);
        const kobc_protocol_info* info = kobc_protocol_find(in.protocol);
        out.protocol = info != nullptr ? info->name : in.protocol;
        out.device = in.device;
        out.subdevice = in.subdevice;
        out.function = in.function;
        out.toggle = in.toggle;
    } else if (in.kind == KOBC_BUTTON_RAW) {
        if (in.raw == nullptr)
            return fail(KOBC_E_ARGUMENT, message, size, "raw button \"%.64s\" has no code",
                        in.name);
        const kobc_code& c = *in.raw;
        if (c.once_count > KOBC_MAX_DURATIONS || c.repeat_count > KOBC_MAX_DURATIONS - c.once_count)
            return fail(KOBC_E_TOO_LONG, message, size, "button \"%.64s\": more than %d durations",
                        in.name, KOBC_MAX_DURATIONS);
        out.carrierHz = c.carrier_hz;
        out.onceCount = c.once_count;
        out.durations.assign(c.durations, c.durations + c.once_count + c.repeat_count);
        out.dutyPercent = in.duty_percent;
    }
    std::string why;
    const int status = kobc::buttonProblem(out, why);
    return status == KOBC_OK ? KOBC_OK : failWith(status, message, size, why);
}

// "tv" of "/some/where/tv.lircd.conf": the name a file gives a remote it
// does not name ("remote" when the base name cannot be one).
std::string defaultRemoteName(const char* fileName, const kobc::FileFormat* format) {
    if (fileName == nullptr) return "remote";
    std::string base = fileName;
    const std::size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos) base.erase(0, slash + 1);
    bool cut = false;
    if (format != nullptr) {
        std::string list = format->extensions;
        for (std::size_t at = 0; at <= list.size() && !cut;) {
            std::size_t end = list.find(',', at);
            if (end == std::string::npos) end = list.size();
            const std::string ext = list.substr(at, end - at);
            if (!ext.empty() && base.size() > ext.size() && kobc::endsWithIgnoringCase(base, ext)) {
                base.erase(base.size() - ext.size());
                cut = true;
            }
            at = end + 1;
        }
    }
    if (!cut) {
        const std::size_t dot = base.rfind('.');
        if (dot != std::string::npos && dot > 0) base.erase(dot);
    }
    std::string why;
    return kobc::validName(base, true, why) ? base : "remote";
}

template <typename F>
int guarded(char* message, std::size_t size, F&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return fail(KOBC_E_MEMORY, message, size, "out of memory");
    } catch (const std::exception& e) {
        return fail(KOBC_E_FILE, message, size, "%s", e.what());
    } catch (...) {
        return fail(KOBC_E_FILE, message, size, "an unexpected failure");
    }
}

}  // namespace

extern "C" {

KOBC_API kobc_remotes* kobc_remotes_new(void) {
    return new (std::nothrow) kobc_remotes();
}

KOBC_API void kobc_remotes_free(kobc_remotes* remotes) {
    delete remotes;
}

KOBC_API std::size_t kobc_remotes_count(const kobc_remotes* remotes) {
    return remotes == nullptr ? 0 : remotes->remotes.size();
}

KOBC_API long kobc_remotes_find(const kobc_remotes* remotes, const char* name) {
    if (remotes == nullptr || name == nullptr) return -1;
    for (std::size_t i = 0; i < remotes->remotes.size(); ++i)
        if (remotes->remotes[i].name == name) return static_cast<long>(i);
    return -1;
}

KOBC_API const char* kobc_remote_name(const kobc_remotes* remotes, std::size_t remote) {
    return haveRemote(remotes, remote) ? remotes->remotes[remote].name.c_str() : nullptr;
}

KOBC_API const char* kobc_remote_field(const kobc_remotes* remotes, std::size_t remote,
                                       const char* field) {
    if (!haveRemote(remotes, remote)) return nullptr;
    const std::string* value = fieldOf(const_cast<kobc::Remote&>(remotes->remotes[remote]), field);
    return value == nullptr || value->empty() ? nullptr : value->c_str();
}

KOBC_API std::size_t kobc_remote_button_count(const kobc_remotes* remotes, std::size_t remote) {
    return haveRemote(remotes, remote) ? remotes->remotes[remote].buttons.size() : 0;
}

KOBC_API long kobc_remote_find_button(const kobc_remotes* remotes, std::size_t remote,
                                      const char* name) {
    if (!haveRemote(remotes, remote) || name == nullptr) return -1;
    const std::vector<kobc::Button>& buttons = remotes->remotes[remote].buttons;
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i].name == name) return static_cast<long>(i);
    return -1;
}

KOBC_API int kobc_remote_button(const kobc_remotes* remotes, std::size_t remote, std::size_t button,
                                kobc_button* out) {
    if (out == nullptr || remotes == nullptr) return KOBC_E_ARGUMENT;
    if (!haveRemote(remotes, remote) || button >= remotes->remotes[remote].buttons.size())
        return KOBC_E_NOT_FOUND;
    const kobc::Button& b = remotes->remotes[remote].buttons[button];
    std::memset(out, 0, sizeof *out);
    out->name = b.name.c_str();
    out->kind = b.kind;
    out->subdevice = KOBC_NONE;
    out->toggle = KOBC_NONE;
    if (b.kind == KOBC_BUTTON_PROTOCOL) {
        out->protocol = b.protocol.c_str();
        out->device = b.device;
        out->subdevice = b.subdevice;
        out->function = b.function;
        out->toggle = b.toggle;
        return KOBC_OK;
    }
    try {
        std::unique_ptr<kobc_code>& code = remotes->codes[{remote, button}];
        if (!code) {
            std::unique_ptr<kobc_code> fresh(new kobc_code);
            const int status = kobc::buttonCode(b, *fresh, nullptr, 0);
            if (status != KOBC_OK) return status;
            code = std::move(fresh);
        }
        out->raw = code.get();
    } catch (const std::bad_alloc&) {
        return KOBC_E_MEMORY;
    }
    out->duty_percent = b.dutyPercent;
    return KOBC_OK;
}

KOBC_API int kobc_remotes_add(kobc_remotes* remotes, const char* name, std::size_t* index,
                              char* message, std::size_t message_size) {
    kobc::clearMessage(message, message_size);
    if (remotes == nullptr || name == nullptr)
        return fail(KOBC_E_ARGUMENT, message, message_size, "no remotes or no name");
    return guarded(message, message_size, [&]() -> int {
        std::string why;
        if (!kobc::validName(name, true, why))
            return failWith(KOBC_E_NAME, message, message_size, why);
        if (kobc_remotes_find(remotes, name) >= 0)
            return fail(KOBC_E_EXISTS, message, message_size, "there is a remote \"%s\" already",
                        name);
        kobc::Remote r;
        r.name = name;
        remotes->remotes.push_back(std::move(r));
        remotes->changed();
        if (index != nullptr) *index = remotes->remotes.size() - 1;
        return KOBC_OK;
    });
}

KOBC_API int kobc_remote_set_field(kobc_remotes* remotes, std::size_t remote, const char* field,
                                   const char* value) {
    if (remotes == nullptr) return KOBC_E_ARGUMENT;
    if (!haveRemote(remotes, remote)) return KOBC_E_NOT_FOUND;
    std::string* target = fieldOf(remotes->remotes[remote], field);
    if (target == nullptr) return KOBC_E_ARGUMENT;
    return guarded(nullptr, 0, [&]() -> int {
        const std::string text = value == nullptr ? "" : value;
        std::string why;
        if (!kobc::validField(text, why)) return KOBC_E_ARGUMENT;
        *target = text;
        remotes->changed();
        return KOBC_OK;
    });
}

KOBC_API int kobc_remote_put_button(kobc_remotes* remotes, std::size_t remote,
                                    const kobc_button* button, int replace, char* message,
                                    std::size_t message_size) {
    kobc::clearMessage(message, message_size);
    if (remotes == nullptr || button == nullptr)
        return fail(KOBC_E_ARGUMENT, message, message_size, "no remotes or no button");
    if (!haveRemote(remotes, remote))
        return fail(KOBC_E_NOT_FOUND, message, message_size, "there is no remote %lu",
                    static_cast<unsigned long>(remote));
    return guarded(message, message_size, [&]() -> int {
        kobc::Button b;
        const int status = fromC(*button, b, message, message_size);
        if (status != KOBC_OK) return status;
        kobc::Remote& r = remotes->remotes[remote];
        kobc::Button* old = r.find(b.name);
        if (old != nullptr && replace == 0)
            return fail(KOBC_E_EXISTS, message, message_size,
                        "remote \"%s\" has a button \"%s\" already", r.name.c_str(),
                        b.name.c_str());
        if (old != nullptr)
            *old = std::move(b);
        else
            r.buttons.push_back(std::move(b));
        remotes->changed();
        return KOBC_OK;
    });
}

KOBC_API int kobc_remote_rename(kobc_remotes* remotes, std::size_t remote, const char* button,
                                const char* new_name, char* message, std::size_t message_size) {
    kobc::clearMessage(message, message_size);
    if (remotes == nullptr || new_name == nullptr)
        return fail(KOBC_E_ARGUMENT, message, message_size, "no remotes or no new name");
    if (!haveRemote(remotes, remote))
        return fail(KOBC_E_NOT_FOUND, message, message_size, "there is no remote %lu",
                    static_cast<unsigned long>(remote));
    return guarded(message, message_size, [&]() -> int {
        kobc::Remote& r = remotes->remotes[remote];
        std::string why;
        if (!kobc::validName(new_name, button == nullptr, why))
            return failWith(KOBC_E_NAME, message, message_size, why);
        if (button == nullptr) {
            const long other = kobc_remotes_find(remotes, new_name);
            if (other >= 0 && static_cast<std::size_t>(other) != remote)
                return fail(KOBC_E_EXISTS, message, message_size,
                            "there is a remote \"%s\" already", new_name);
            r.name = new_name;
        } else {
            kobc::Button* b = r.find(button);
            if (b == nullptr)
                return fail(KOBC_E_NOT_FOUND, message, message_size,
                            "remote \"%s\" has no button \"%.64s\"", r.name.c_str(), button);
            const kobc::Button* other = r.find(new_name);
            if (other != nullptr && other != b)
                return fail(KOBC_E_EXISTS, message, message_size,
                            "remote \"%s\" has a button \"%s\" already", r.name.c_str(), new_name);
            b->name = new_name;
        }
        remotes->changed();
        return KOBC_OK;
    });
}

KOBC_API int kobc_remote_remove(kobc_remotes* remotes, std::size_t remote, const char* button) {
    if (remotes == nullptr) return KOBC_E_ARGUMENT;
    if (!haveRemote(remotes, remote)) return KOBC_E_NOT_FOUND;
    std::vector<kobc::Remote>& all = remotes->remotes;
    if (button == nullptr) {
        all.erase(all.begin() + static_cast<long>(remote));
    } else {
        std::vector<kobc::Button>& buttons = all[remote].buttons;
        const long at = kobc_remote_find_button(remotes, remote, button);
        if (at < 0) return KOBC_E_NOT_FOUND;
        buttons.erase(buttons.begin() + at);
    }
    remotes->changed();
    return KOBC_OK;
}

KOBC_API int kobc_button_code(const kobc_button* button, kobc_code* out, char* message,
                              std::size_t message_size) {
    kobc::clearMessage(message, message_size);
    if (button == nullptr || out == nullptr)
        return fail(KOBC_E_ARGUMENT, message, message_size, "no button or no code");
    return guarded(message, message_size, [&]() -> int {
        kobc::Button b;
        const int status = fromC(*button, b, message, message_size);
        return status != KOBC_OK ? status : kobc::buttonCode(b, *out, message, message_size);
    });
}

KOBC_API int kobc_format_find(const char* name) {
    const kobc::FileFormat* f = kobc::findFileFormat(name);
    return f == nullptr ? KOBC_FORMAT_GUESS : f->id;
}

KOBC_API const char* kobc_format_name(int format) {
    const kobc::FileFormat* f = kobc::findFileFormat(format);
    return f == nullptr ? nullptr : f->name;
}

KOBC_API int kobc_format_guess(const char* file_name, const char* text, std::size_t length) {
    try {
        return kobc::guessFileFormat(
            file_name, text == nullptr ? std::string_view() : std::string_view(text, length));
    } catch (...) {
        return KOBC_FORMAT_GUESS;
    }
}

KOBC_API int kobc_remotes_read(kobc_remotes* remotes, int format, const char* text,
                               std::size_t length, const char* file_name, char* message,
                               std::size_t message_size) {
    kobc::clearMessage(message, message_size);
    if (remotes == nullptr || (text == nullptr && length > 0))
        return fail(KOBC_E_ARGUMENT, message, message_size, "no remotes or no text");
    return guarded(message, message_size, [&]() -> int {
        const std::string_view view =
            text == nullptr ? std::string_view() : std::string_view(text, length);
        const std::string where = file_name != nullptr ? file_name : "text";
        if (format == KOBC_FORMAT_GUESS) format = kobc::guessFileFormat(file_name, view);
        const kobc::FileFormat* f = kobc::findFileFormat(format);
        if (f == nullptr)
            return fail(format == KOBC_FORMAT_GUESS ? KOBC_E_FILE : KOBC_E_ARGUMENT, message,
                        message_size, "%s: not a code file of a known format", where.c_str());
        std::vector<kobc::Remote> read;
        kobc::FileError error;
        bool ok = f->read(view, defaultRemoteName(file_name, f), read, error);
        if (ok) ok = kobc::checkReadRemotes(read, error);
        if (!ok) {
            if (error.line > 0)
                return fail(error.error, message, message_size, "%s:%lu: %s", where.c_str(),
                            static_cast<unsigned long>(error.line), error.what.c_str());
            return fail(error.error, message, message_size, "%s: %s", where.c_str(),
                        error.what.c_str());
        }
        for (const kobc::Remote& r : read)
            if (kobc_remotes_find(remotes, r.name.c_str()) >= 0)
                return fail(KOBC_E_EXISTS, message, message_size,
                            "%s: there is a remote \"%s\" already", where.c_str(), r.name.c_str());
        remotes->remotes.reserve(remotes->remotes.size() + read.size());
        for (kobc::Remote& r : read)
            remotes->remotes.push_back(std::move(r));
        remotes->changed();
        return KOBC_OK;
    });
}

KOBC_API int kobc_remotes_write(const kobc_remotes* remotes, long remote, int format, char* text,
                                std::size_t text_size, std::size_t* needed, char* message,
                                std::size_t message_size) {
    kobc::clearMessage(message, message_size);
    if (needed != nullptr) *needed = 0;
    if (remotes == nullptr || (text == nullptr && text_size > 0))
        return fail(KOBC_E_ARGUMENT, message, message_size, "no remotes or no text buffer");
    const kobc::FileFormat* f = kobc::findFileFormat(format);
    if (f == nullptr)
        return fail(KOBC_E_ARGUMENT, message, message_size, "format %d is not one to write",
                    format);
    if (remote < -1 || (remote >= 0 && static_cast<std::size_t>(remote) >= remotes->remotes.size()))
        return fail(KOBC_E_NOT_FOUND, message, message_size, "there is no remote %ld", remote);
    return guarded(message, message_size, [&]() -> int {
        std::vector<const kobc::Remote*> chosen;
        if (remote >= 0) {
            chosen.push_back(&remotes->remotes[static_cast<std::size_t>(remote)]);
        } else {
            for (const kobc::Remote& r : remotes->remotes)
                chosen.push_back(&r);
        }
        if (chosen.size() > 1 && !f->severalPerFile)
            return fail(KOBC_E_UNSUPPORTED, message, message_size,
                        "a %s file holds one remote, not %lu", f->name,
                        static_cast<unsigned long>(chosen.size()));
        std::string out;
        kobc::FileError error;
        if (!f->write(chosen, out, error))
            return failWith(error.error, message, message_size, error.what);
        if (needed != nullptr) *needed = out.size() + 1;
        if (text_size < out.size() + 1)
            return fail(
                KOBC_E_SPACE, message, message_size, "the file needs %lu bytes, the buffer has %lu",
                static_cast<unsigned long>(out.size() + 1), static_cast<unsigned long>(text_size));
        std::memcpy(text, out.c_str(), out.size() + 1);
        return KOBC_OK;
    });
}

}  // extern "C"
