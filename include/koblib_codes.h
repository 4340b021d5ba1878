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
 * Threads: every function is pure. It touches only its arguments, keeps no
 * state and may be called from any thread at any time.
 *
 * Ownership: the caller owns every buffer it passes, and the functions
 * never allocate. Strings returned as `const char *` (protocol names,
 * error texts) are static and live as long as the library is loaded.
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
    KOBC_E_ARGUMENT = -1,  /* a null pointer or an impossible size */
    KOBC_E_SYNTAX = -2,    /* not a text of 4-digit hexadecimal words */
    KOBC_E_FORMAT = -3,    /* an unknown CCF format word */
    KOBC_E_FREQUENCY = -4, /* frequency word 0, or a carrier that has no word */
    KOBC_E_LENGTH = -5,    /* pair counts that do not match the words, or none */
    KOBC_E_SPACE = -6,     /* the output buffer is too small */
    KOBC_E_PROTOCOL = -7,  /* an unknown protocol name */
    KOBC_E_RANGE = -8,     /* a field outside its range (the message names it) */
    KOBC_E_DURATION = -9,  /* a duration of 0, of the wrong sign, or too long */
    KOBC_E_TOO_LONG = -10  /* more than a code may hold */
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

#ifdef __cplusplus
}
#endif

#endif
