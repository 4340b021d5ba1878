/*
 * koblib_codes.h - KOBLIB_CODES: IR codes as people use them.
 *
 * Timings, the one conversion between CCF words and microseconds, and the
 * IR protocols (decode what a receiver heard into protocol, device and
 * function; encode them back). Every client of KOBLIB (the kob tool, the
 * LIRC plugin, the Python package, the virtual KOB-1) uses these functions
 * instead of a copy of its own.
 *
 * Timings: signed microsecond durations, a pulse (carrier on) positive, a
 * space (carrier off) negative, alternating, starting with a pulse, and a
 * carrier frequency in Hz (0: unmodulated).
 *
 * Remotes and code files: a remote is a name and named buttons, each a
 * protocol code or raw timings. A kobc_remotes holds the remotes of one
 * file (or of the library folder); readers and writers turn it into the
 * code files people already have and back.
 *
 * Threads: the timing and protocol functions are pure. They touch only
 * their arguments, keep no state and may be called from any thread at any
 * time. A kobc_remotes may be used by one thread at a time; the library
 * folder functions may be called by any number of threads and processes
 * at once (they lock the folder while they change it).
 *
 * Ownership: the caller owns every buffer it passes. Only a kobc_remotes
 * is allocated by the library (kobc_remotes_new, freed with
 * kobc_remotes_free); strings it returns live until it is changed or
 * freed. Other strings returned as `const char *` (protocol names, format
 * names, error texts) are static and live as long as the library is
 * loaded.
 *
 * Errors: functions that can fail return KOBC_OK (0) or a negative
 * kobc_error; where they take a message buffer they also write a readable,
 * zero-terminated sentence there (cut to fit; the buffer may be null).
 *
 * The header compiles alone as C89/C99 and as C++. The library depends on
 * nothing in KOBLIB, and KOBLIB on nothing in it.
 */
#ifndef KOBLIB_CODES_H
#define KOBLIB_CODES_H

#include <stddef.h>

/* KOBLIB_CODES_STATIC: the library linked in as a static archive. */
#if defined(KOBLIB_CODES_STATIC)
#define KOBC_API
#elif defined(_WIN32)
#if defined(KOBLIB_CODES_BUILDING)
#define KOBC_API __declspec(dllexport)
#else
#define KOBC_API __declspec(dllimport)
#endif
#elif defined(KOBLIB_CODES_BUILDING) && defined(__GNUC__)
#define KOBC_API __attribute__((visibility("default")))
#else
#define KOBC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The frequency word of every CCF code this library writes is
 * KOBC_CCF_CLOCK_HZ / carrier Hz, and a word w stands for
 * KOBC_CCF_CLOCK_HZ / w Hz (0x400000). */
#define KOBC_CCF_CLOCK_HZ 4194304L
/* A received word counts ticks of this many microseconds. */
#define KOBC_TICK_US 4
/* The most words a device takes in one code (longer codes are refused). */
#define KOBC_MAX_CCF_WORDS 256
/* The most durations a kobc_code holds (once and repeat together). */
#define KOBC_MAX_DURATIONS 1024
/* A field a protocol does not have (subdevice, toggle). */
#define KOBC_NONE (-1L)

enum kobc_error {
    KOBC_OK = 0,
    KOBC_E_ARGUMENT = -1,     /* a null pointer or an impossible size */
    KOBC_E_SYNTAX = -2,       /* not a text of 4-digit hexadecimal words */
    KOBC_E_FORMAT = -3,       /* an unknown CCF format word */
    KOBC_E_FREQUENCY = -4,    /* frequency word 0, or a carrier that has no word */
    KOBC_E_LENGTH = -5,       /* pair counts that do not match the words, or none */
    KOBC_E_SPACE = -6,        /* the output buffer is too small */
    KOBC_E_PROTOCOL = -7,     /* an unknown protocol name */
    KOBC_E_RANGE = -8,        /* a field outside its range (the message names it) */
    KOBC_E_DURATION = -9,     /* a duration of 0, of the wrong sign, or too long */
    KOBC_E_TOO_LONG = -10,    /* more than a code may hold */
    KOBC_E_FILE = -11,        /* a code file that is not of its format (the message says where) */
    KOBC_E_UNSUPPORTED = -12, /* a code the format cannot hold, or a feature it is not read with */
    KOBC_E_NAME = -13,        /* a remote or button name that may not be used */
    KOBC_E_EXISTS = -14,      /* the remote or button is there already */
    KOBC_E_NOT_FOUND = -15,   /* no such remote or button */
    KOBC_E_IO = -16,          /* a file or folder could not be read or written */
    KOBC_E_MEMORY = -17       /* out of memory */
};

/* The text of a kobc_error ("the output buffer is too small", ...); a
 * static string; "unknown error" for other values. */
KOBC_API const char* kobc_error_text(int error);

/* ------------------------------------------------------------------ */
/* Timings                                                             */
/* ------------------------------------------------------------------ */

/* A code: the once sequence (sent first) followed by the repeat sequence
 * (sent again and again while a button is held), each of whole pulse /
 * space pairs ending with a space. A received frame has one sequence, the
 * once sequence, and may end with a pulse. */
typedef struct kobc_code {
    long carrier_hz;     /* 0: unmodulated */
    size_t once_count;   /* durations[0 .. once_count) */
    size_t repeat_count; /* durations[once_count .. once_count + repeat_count) */
    int durations[KOBC_MAX_DURATIONS];
} kobc_code;

/* KOBC_CCF_CLOCK_HZ / hz rounded down: the frequency word of a carrier;
 * 0 when hz is not positive or the word would not fit 1..0xFFFF. */
KOBC_API unsigned kobc_frequency_word(long hz);

/* The carrier of a frequency word in Hz (KOBC_CCF_CLOCK_HZ / word); 0 for
 * word 0. */
KOBC_API double kobc_word_frequency(unsigned word);

/* Reads a CCF (Pronto hex) text strictly: 4-digit hexadecimal words
 * separated by white space; format word 0000 (modulated) or 0100
 * (unmodulated: carrier_hz 0, the frequency word still giving the period
 * the bursts count); a frequency word that is not 0; once and repeat pair
 * counts that match the number of words
 * exactly; at least one pair; at most KOBC_MAX_CCF_WORDS words; no burst
 * of 0 periods. Durations become microseconds (rounded to the nearest).
 * Returns KOBC_OK, or an error with the message saying what is wrong. */
KOBC_API int kobc_ccf_parse(const char* text, kobc_code* out, char* message, size_t message_size);

/* kobc_ccf_parse of words already read (count words). */
KOBC_API int kobc_ccf_parse_words(const unsigned* words, size_t count, kobc_code* out,
                                  char* message, size_t message_size);

/* Writes a code as CCF text: "0000 WORD ONCE REPEAT ..." upper-case
 * 4-digit words separated by single spaces, zero-terminated. The frequency
 * word is kobc_frequency_word(carrier_hz) (carrier 0: format 0100 with the
 * word 006D as the time base); every duration becomes the
 * nearest whole number of carrier periods, at least 1. A code ending on a
 * pulse gets a final space of one period. Errors: KOBC_E_FREQUENCY for a
 * carrier without a word, KOBC_E_DURATION for a duration that does not fit
 * 0xFFFF periods, KOBC_E_TOO_LONG past KOBC_MAX_CCF_WORDS words,
 * KOBC_E_SPACE when text_size is too small (5 bytes a word). */
KOBC_API int kobc_ccf_format(const kobc_code* code, char* text, size_t text_size);

/* The same as words (count of words written in *written). */
KOBC_API int kobc_ccf_format_words(const kobc_code* code, unsigned* words, size_t capacity,
                                   size_t* written);

/* A frame as the receiver reports it (word 0 the silence before it, then
 * the on and off times, each in ticks of KOBC_TICK_US) as timings: the
 * once sequence holds the pulses and spaces, starting with a pulse, with
 * carrier_hz 0 (the receiver does not see the carrier). *gap_before_us (may
 * be null) gets the silence before the frame. KOBC_E_LENGTH for a frame
 * with no pulse; KOBC_E_DURATION for a 0 tick. */
KOBC_API int kobc_frame_to_code(const unsigned* words, size_t count, kobc_code* out,
                                long* gap_before_us);

/* The other way: timings (pulse first) and the silence before them as the
 * words a receiver reports: the gap, then every duration but a final
 * space, each rounded to ticks (at least 1, at most 0xFFFF). */
KOBC_API int kobc_frame_from_timings(const int* durations, size_t count, long gap_before_us,
                                     unsigned* words, size_t capacity, size_t* written);

/* ------------------------------------------------------------------ */
/* Protocols                                                           */
/* ------------------------------------------------------------------ */

typedef struct kobc_protocol_info {
    const char* name;            /* "NEC1", "RC5", "Sony12", ... */
    const char* aliases;         /* other accepted names, comma-separated ("nec,nec8") */
    const char* kernel_protocol; /* the Linux kernel's name ("nec", "rc-5", ...) or null */
    long carrier_hz;             /* nominal carrier */
    long device_max;             /* device 0 .. device_max */
    long subdevice_max;          /* subdevice 0 .. subdevice_max; KOBC_NONE: none */
    long function_max;           /* function 0 .. function_max */
    long toggle_max;             /* toggle 0 .. toggle_max; KOBC_NONE: none */
    const char* notes;           /* one line: default subdevice, checks, repeat */
} kobc_protocol_info;

/* The number of protocols, and each by index (null past the end). */
KOBC_API size_t kobc_protocol_count(void);
KOBC_API const kobc_protocol_info* kobc_protocol_at(size_t index);

/* A protocol by its name or an alias, case-insensitively, ignoring '-',
 * '_' and ' ' ("nec", "NEC1", "rc-5", "sony_12"); null when unknown. */
KOBC_API const kobc_protocol_info* kobc_protocol_find(const char* name);

/* One way of reading a frame. */
typedef struct kobc_match {
    const char* protocol; /* kobc_protocol_info.name */
    long device;
    long subdevice; /* KOBC_NONE where the protocol has none */
    long function;
    long toggle;                   /* KOBC_NONE where the protocol has none */
    int repeat;                    /* 1: a repeat frame (fields KOBC_NONE where it has none) */
    const char* kernel_protocol;   /* the kernel's name for this reading, or null */
    unsigned long kernel_scancode; /* the kernel's scancode layout (0 without a name) */
} kobc_match;

/* Decodes one frame (pulse first; a final space may be missing) heard on
 * carrier_hz (0: unknown). Writes up to capacity matches, best first, and
 * returns how many protocols match (may exceed capacity: the rest are not
 * written). 0: nothing matches; never a guess. */
KOBC_API size_t kobc_decode(const int* durations, size_t count, long carrier_hz,
                            kobc_match* matches, size_t capacity);

/* Encodes a protocol code: once sequence = the first frame, repeat
 * sequence = what the protocol sends while the button is held, carrier =
 * the protocol's. subdevice and toggle may be KOBC_NONE (the protocol's
 * default). KOBC_E_PROTOCOL for an unknown name; KOBC_E_RANGE when a field
 * is outside its range, with the message naming the field and the range
 * ("function 300 is outside 0..255 for NEC1"). */
KOBC_API int kobc_encode(const char* protocol, long device, long subdevice, long function,
                         long toggle, kobc_code* out, char* message, size_t message_size);

/* ------------------------------------------------------------------ */
/* Remotes                                                             */
/* ------------------------------------------------------------------ */

/* The most bytes of a remote or button name, the terminating 0 not
 * counted. Names are printable text (UTF-8 allowed) without control
 * characters; a remote name also holds no '/', '\\' or ':' and does not
 * start with '.', since it names a file of the library folder. */
#define KOBC_MAX_NAME 64

enum kobc_button_kind {
    KOBC_BUTTON_PROTOCOL = 1, /* protocol, device, subdevice, function, toggle */
    KOBC_BUTTON_RAW = 2       /* raw timings with carrier and duty cycle */
};

/* One button. Filled by kobc_remote_button (pointers into the kobc_remotes,
 * valid until it changes); given to kobc_remote_put_button (copied). */
typedef struct kobc_button {
    const char* name;
    int kind; /* kobc_button_kind */
    /* KOBC_BUTTON_PROTOCOL: a kobc_protocol_info name and its fields
     * (subdevice and toggle KOBC_NONE where absent or defaulted). */
    const char* protocol;
    long device;
    long subdevice;
    long function;
    long toggle;
    /* KOBC_BUTTON_RAW: the timings (once and repeat sequences, carrier). */
    const kobc_code* raw;
    int duty_percent; /* 1..100; 0: not known */
} kobc_button;

typedef struct kobc_remotes kobc_remotes;

/* An empty set of remotes; null when out of memory. */
KOBC_API kobc_remotes* kobc_remotes_new(void);
KOBC_API void kobc_remotes_free(kobc_remotes* remotes);

KOBC_API size_t kobc_remotes_count(const kobc_remotes* remotes);
/* The index of a remote by name (exact), or -1. */
KOBC_API long kobc_remotes_find(const kobc_remotes* remotes, const char* name);
/* A remote's name, or one of its optional fields "brand", "model",
 * "notes" (null when not set or unknown). */
KOBC_API const char* kobc_remote_name(const kobc_remotes* remotes, size_t remote);
KOBC_API const char* kobc_remote_field(const kobc_remotes* remotes, size_t remote,
                                       const char* field);
KOBC_API size_t kobc_remote_button_count(const kobc_remotes* remotes, size_t remote);
/* The index of a button of a remote by name (exact), or -1. */
KOBC_API long kobc_remote_find_button(const kobc_remotes* remotes, size_t remote, const char* name);
KOBC_API int kobc_remote_button(const kobc_remotes* remotes, size_t remote, size_t button,
                                kobc_button* out);

/* Adds an empty remote (KOBC_E_EXISTS when the name is taken, KOBC_E_NAME
 * for a name that may not be used); *index (may be null) gets its index. */
KOBC_API int kobc_remotes_add(kobc_remotes* remotes, const char* name, size_t* index, char* message,
                              size_t message_size);
/* Sets "brand", "model" or "notes" (value null or "" clears it).
 * KOBC_E_ARGUMENT for another field, or a value that is not one line of
 * UTF-8 text (at most 1024 bytes, no space first or last). */
KOBC_API int kobc_remote_set_field(kobc_remotes* remotes, size_t remote, const char* field,
                                   const char* value);
/* Adds a button, or replaces the one of the same name when replace is
 * not 0 (else KOBC_E_EXISTS). The button is checked: a known protocol and
 * fields in range, or a raw code of whole pairs (durations of at most
 * 10 s) with a carrier of 0 or 10000..500000 Hz. */
KOBC_API int kobc_remote_put_button(kobc_remotes* remotes, size_t remote, const kobc_button* button,
                                    int replace, char* message, size_t message_size);
/* Renames a remote (button null) or one of its buttons. */
KOBC_API int kobc_remote_rename(kobc_remotes* remotes, size_t remote, const char* button,
                                const char* new_name, char* message, size_t message_size);
/* Removes a remote (button null) or one of its buttons. */
KOBC_API int kobc_remote_remove(kobc_remotes* remotes, size_t remote, const char* button);

/* The timings a button sends: a raw button's code, or kobc_encode of its
 * protocol code. */
KOBC_API int kobc_button_code(const kobc_button* button, kobc_code* out, char* message,
                              size_t message_size);

/* ------------------------------------------------------------------ */
/* Code files                                                          */
/* ------------------------------------------------------------------ */

enum kobc_format {
    KOBC_FORMAT_GUESS = 0,     /* reading: from the file name's extension, else the content */
    KOBC_FORMAT_FLIPPER = 1,   /* Flipper Zero .ir */
    KOBC_FORMAT_IRDB = 2,      /* irdb CSV */
    KOBC_FORMAT_LIRC = 3,      /* lircd.conf */
    KOBC_FORMAT_PRONTO = 4,    /* Pronto hex: one code, or NAME: code lines */
    KOBC_FORMAT_BROADLINK = 5, /* Broadlink IR packets in base64 (one, or NAME: code lines) */
    KOBC_FORMAT_GC = 6,        /* Global Cache sendir (one, or NAME: code lines) */
    KOBC_FORMAT_JSON = 7       /* Home Assistant's infrared JSON */
};

/* A format by name ("flipper", "irdb", "lirc", "pronto", "broadlink",
 * "gc", "json"; case-insensitive), else KOBC_FORMAT_GUESS; and the name of
 * a format (null for others). */
KOBC_API int kobc_format_find(const char* name);
KOBC_API const char* kobc_format_name(int format);
/* The format a file is in, from its name's extension (".ir", ".csv",
 * ".conf", ".lircd.conf", ".json", ...; file_name may be null) and else
 * from its text; KOBC_FORMAT_GUESS when none fits. */
KOBC_API int kobc_format_guess(const char* file_name, const char* text, size_t length);

/* Reads every remote of a code file (length bytes of text, need not end
 * with 0) and adds them to remotes. file_name (may be null) names the file
 * in messages and gives the name of a remote the file does not name (its
 * base name without extension; "remote" without a file name). Nothing is
 * added when the file is bad: KOBC_E_FILE with the message
 * "FILE:LINE: what is wrong" (or KOBC_E_UNSUPPORTED for a feature it does
 * not read, KOBC_E_EXISTS for a remote name already in remotes). A button
 * name a file gives twice is read as "NAME 2", "NAME 3", ... the second
 * time on. */
KOBC_API int kobc_remotes_read(kobc_remotes* remotes, int format, const char* text, size_t length,
                               const char* file_name, char* message, size_t message_size);

/* Writes a remote (remote >= 0) or every remote (remote -1; formats that
 * hold one remote per file refuse several with KOBC_E_UNSUPPORTED) as a
 * code file into text, zero-terminated. *needed (may be null) gets the
 * bytes needed with the 0; KOBC_E_SPACE when text_size is smaller (text
 * may be null then). A code the format cannot hold is KOBC_E_UNSUPPORTED
 * with the message naming the button, never a silent change. */
KOBC_API int kobc_remotes_write(const kobc_remotes* remotes, long remote, int format, char* text,
                                size_t text_size, size_t* needed, char* message,
                                size_t message_size);

/* ------------------------------------------------------------------ */
/* The library folder                                                  */
/* ------------------------------------------------------------------ */

/* The library is a folder of Flipper .ir files, one remote per file,
 * named after the remote ("tv.ir"). Changes are made under a lock on the
 * folder (two processes changing it at once lose nothing), and every file
 * is written to a temporary file and renamed over the old one. A file of
 * the folder that cannot be read is reported and skipped, never
 * rewritten. */

/* The folder used when none is given: $KOB_LIBRARY; else
 * $XDG_DATA_HOME/kob/remotes, else $HOME/.local/share/kob/remotes (on
 * Windows %APPDATA%\kob\remotes). KOBC_E_SPACE when it does not fit;
 * KOBC_E_NOT_FOUND when no variable gives one. */
KOBC_API int kobc_library_default_dir(char* path, size_t path_size);

/* Called for each file of the folder that cannot be read (file is its
 * path, message says why); it is skipped. */
typedef void (*kobc_library_problem_fn)(void* context, const char* file, const char* message);

/* Reads every remote of the folder into remotes (a folder that does not
 * exist holds none). problem may be null. */
KOBC_API int kobc_library_load(const char* dir, kobc_remotes* remotes,
                               kobc_library_problem_fn problem, void* context, char* message,
                               size_t message_size);

/* Stores one remote of remotes as its file in the folder (made when
 * missing), replacing a stored remote of that name only when replace is
 * not 0 (else KOBC_E_EXISTS). */
KOBC_API int kobc_library_store(const char* dir, const kobc_remotes* remotes, size_t remote,
                                int replace, char* message, size_t message_size);

/* Adds or replaces one button of a stored remote (made when missing),
 * reading the remote's file afresh under the lock. */
KOBC_API int kobc_library_put_button(const char* dir, const char* remote, const kobc_button* button,
                                     int replace, char* message, size_t message_size);

/* Renames a stored remote (button null) or one of its buttons. */
KOBC_API int kobc_library_rename(const char* dir, const char* remote, const char* button,
                                 const char* new_name, char* message, size_t message_size);

/* Removes a stored remote (button null: its file) or one of its buttons. */
KOBC_API int kobc_library_remove(const char* dir, const char* remote, const char* button,
                                 char* message, size_t message_size);

#ifdef __cplusplus
}
#endif

#endif
