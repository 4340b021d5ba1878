/*
 * koblib.h - host interface of KOBLIB, the driver library for the KOB-1
 * USB infrared transceiver (HID, vendor 0x20A0, product 0x413F).
 *
 * A host opens the library with plain callbacks, drives the attached
 * transceivers through the exports below and receives everything the
 * devices report through the callbacks.
 *
 * Threads: device commands only queue a job and return at once; the
 * library's worker thread does all device I/O and runs every callback,
 * one at a time. kob_list, kob_version, kob_learnCCF, kob_ir_compare,
 * kob_hash and the three upgrade exports run on the caller's thread.
 *
 * Serial numbers: every device is named by its USB serial-number string
 * (zero-terminated, 8-bit). The empty string addresses every device for
 * most commands. A null serial makes an export do nothing.
 *
 * Ownership: strings and arrays passed into the library belong to the
 * caller and may be freed as soon as the export returns. Strings and
 * arrays that a callback receives belong to the library and are valid
 * only until the callback returns; copy what you keep.
 *
 * The header compiles alone as C89/C99 and as C++.
 */
#ifndef KOBLIB_H
#define KOBLIB_H

/* Calling convention of every export and every callback: __stdcall on
 * 32-bit Windows (the called function removes its arguments), the
 * platform's default elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define KOB_CALL __stdcall
#else
#define KOB_CALL
#endif

/* KOB_API marks the exported functions. On Windows the export names and
 * ordinals come from the library's .def file, so nothing is needed here;
 * elsewhere the library is built with hidden symbols and only these are
 * made visible. */
#if defined(_WIN32)
#define KOB_API
#elif defined(KOBLIB_BUILDING) && defined(__GNUC__)
#define KOB_API __attribute__((visibility("default")))
#else
#define KOB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ */
/* Callback types. All run on the library's worker thread, one at a   */
/* time; serial is never null (it may be empty). Every pointer is     */
/* owned by the library and valid only during the call. A callback    */
/* may call the posting exports, kob_list, kob_version, kob_learnCCF, */
/* kob_ir_compare and kob_hash; calling kob_close there does nothing.  */
/* ------------------------------------------------------------------ */

/* Status: code 0 "KOB arrived"; code 1 "KOB removed" or, with an empty
 * serial, "Message loop exceeded 50 items"; code 2 a hexadecimal dump of
 * an input report that no parser claims (ends in "\n"). */
typedef void(KOB_CALL* kob_status_cb)(const char* serial, unsigned char code, const char* text);

/* The device finished an IR transmission; status as the device gave it. */
typedef void(KOB_CALL* kob_ir_sent_cb)(const char* serial, unsigned char status);

/* An IR signal was received: the words (pulse lengths in 4 us ticks,
 * the first the silence before the signal) as text ("%04X " per word)
 * and as an array of count entries. */
typedef void(KOB_CALL* kob_ir_received_cb)(const char* serial, const char* text,
                                           const unsigned int* words, unsigned int count);

/* Progress of a learning run in percent; code is empty while the run
 * goes on and holds the learned CCF text when it has finished. */
typedef void(KOB_CALL* kob_learn_cb)(const char* serial, int progress, const char* code);

/* Digital I/O state reported by the device. */
typedef void(KOB_CALL* kob_digital_io_cb)(const char* serial, unsigned char first,
                                          unsigned char second);

/* Carrier measurement: total / cycles is the carrier frequency in Hz. */
typedef void(KOB_CALL* kob_modulation_cb)(const char* serial, unsigned int cycles,
                                          unsigned int total);

/* Raw pulse data collected during raw learning (words as sent by the
 * device). */
typedef void(KOB_CALL* kob_raw_learn_cb)(const char* serial, unsigned int header,
                                         const unsigned int* words, unsigned int count);

/* Wake-up information: the header byte and count data bytes. */
typedef void(KOB_CALL* kob_wakeup_info_cb)(const char* serial, unsigned int header,
                                           const unsigned char* bytes, unsigned int count);

/* Button states: the values of buttons 1 to 4 (0 to 255 each). */
typedef void(KOB_CALL* kob_button_cb)(const char* serial, int button1, int button2, int button3,
                                      int button4);

/* Progress of kob_upgrade, on the caller's thread: phase 0 while
 * writing, 1 while verifying; percent 0 to 100. */
typedef void(KOB_CALL* kob_upgrade_progress_cb)(int phase, int percent);

/* ------------------------------------------------------------------ */
/* Lifetime                                                           */
/* ------------------------------------------------------------------ */

/* Set callback slots 1 to 5 (slot 7, raw learn, is cleared; 6, 8, 9 are
 * kept), start the worker thread (which scans for devices at once and may
 * call status_cb before this returns) and the device-change notifier.
 * Returns the notifier thread's handle on Windows, a nonzero value
 * elsewhere, 0 when the notifier could not be started. Any pointer may be
 * null: its events are dropped. The pointers are kept until the next
 * open. Called from inside a callback raised while kob_close runs (the
 * "KOB removed" of its devices) it is refused: it changes nothing and
 * returns 0, and the library is closed when kob_close returns. */
KOB_API void* KOB_CALL kob_open(kob_status_cb status_cb, kob_ir_sent_cb ir_sent_cb,
                                kob_ir_received_cb ir_received_cb, kob_learn_cb learn_cb,
                                kob_digital_io_cb digital_io_cb);

/* As kob_open, setting all nine callback slots in slot order. */
KOB_API void* KOB_CALL kob_open_ex(kob_status_cb status_cb, kob_ir_sent_cb ir_sent_cb,
                                   kob_ir_received_cb ir_received_cb, kob_learn_cb learn_cb,
                                   kob_digital_io_cb digital_io_cb, kob_modulation_cb modulation_cb,
                                   kob_raw_learn_cb raw_learn_cb, kob_wakeup_info_cb wakeup_info_cb,
                                   kob_button_cb button_cb);

/* As kob_open with slots 1 to 5 and 7 cleared. */
KOB_API void* KOB_CALL kob_open_no_cb(void);

/* Stop the notifier (waiting up to 5 s) and the worker; every device
 * reports "KOB removed" before this returns. Queued commands stay queued
 * for the next open. Does nothing when nothing runs, and nothing when
 * called from inside a callback. */
KOB_API void KOB_CALL kob_close(void);

/* ------------------------------------------------------------------ */
/* Device commands: queue a job for the worker and return at once.    */
/* serial "" addresses every device unless noted ("exact serial").    */
/* ------------------------------------------------------------------ */

/* Send a CCF (Pronto hex) code, read as at most 256 words, through the
 * emitters in bitmask, with a repeat count. code is copied; null reads as
 * an empty text. The device answers through kob_ir_sent_cb. */
KOB_API void KOB_CALL kob_sendCCF(const char* serial, const char* code, unsigned char bitmask,
                                  unsigned char repeat);

/* Stop the transmission on the air. */
KOB_API void KOB_CALL kob_stopCCF(const char* serial);

/* Switch carrier measurement on (nonzero) or off; measurements arrive
 * through kob_modulation_cb. */
KOB_API void KOB_CALL kob_modulation(const char* serial, unsigned char on);

/* Digital I/O command cmd with value; the state arrives through
 * kob_digital_io_cb. */
KOB_API void KOB_CALL kob_digitalIO(const char* serial, unsigned char cmd, unsigned char value);

/* Start / stop raw learning; raw pulses arrive through kob_raw_learn_cb. */
KOB_API void KOB_CALL kob_raw_learn_start(const char* serial);
KOB_API void KOB_CALL kob_raw_learn_stop(const char* serial);

/* Enable / disable waking the host from suspend (exact serial). */
KOB_API void KOB_CALL kob_enable_wake_from_suspend(const char* serial);
KOB_API void KOB_CALL kob_disable_wake_from_suspend(const char* serial);

/* Program a wake code of length bytes (exact serial; at most 255 bytes,
 * longer blocks are refused). data is copied; null data with a length
 * above 0 queues nothing. */
KOB_API void KOB_CALL kob_program_wake_from_suspend(const char* serial, int flag,
                                                    const unsigned char* data, unsigned int length);

/* Ask for wake-up information (exact serial); it arrives through
 * kob_wakeup_info_cb. */
KOB_API void KOB_CALL kob_request_wakeup_info(const char* serial, unsigned int value);

/* Blink the device. */
KOB_API void KOB_CALL kob_blink(const char* serial, int value);

/* Make the device start its serial bootloader (exact serial). */
KOB_API void KOB_CALL kob_bootloader(const char* serial);

/* Start (start nonzero) a learning run for serial, with the carrier
 * frequency in Hz or 0 or less to have it measured, or stop the current
 * run (whatever serial is given). Runs on the caller's thread; progress
 * and the learned code arrive through kob_learn_cb. */
KOB_API void KOB_CALL kob_learnCCF(const char* serial, unsigned char start, int frequency);

/* ------------------------------------------------------------------ */
/* Queries, on the caller's thread                                    */
/* ------------------------------------------------------------------ */

/* The serials of the attached devices in ascending byte order, joined by
 * ",". Returns the text's length + 1; the text and its zero are stored
 * only when that is not greater than size. buffer may be null when size
 * is 0. */
KOB_API unsigned int KOB_CALL kob_list(char* buffer, unsigned int size);

/* The release number of the attached device with exactly this serial, 0
 * when there is none. */
KOB_API unsigned int KOB_CALL kob_version(const char* serial);

/* ------------------------------------------------------------------ */
/* IR codes, on the caller's thread, any thread at any time           */
/* ------------------------------------------------------------------ */

/* 1 when two CCF texts stand for the same code: equal word counts and
 * words 1 to count - 2 within a fifth of the first code's word. A null
 * text reads as empty. */
KOB_API unsigned char KOB_CALL kob_ir_compare(const char* first, const char* second);

/* Digest (32 lowercase hex characters and a zero) of the shape of a
 * received code's words, stored in out when outSize is at least 33.
 * Returns 0 when stored, else outSize (out untouched). */
KOB_API unsigned int KOB_CALL kob_hash(const unsigned int* words, unsigned int count, char* out,
                                       unsigned int outSize);

/* ------------------------------------------------------------------ */
/* Firmware upgrade through the serial bootloader, on the caller's    */
/* thread                                                             */
/* ------------------------------------------------------------------ */

/* Write the Intel HEX file hexPath through the bootloader on port,
 * verify it and start it. progress must not be null. Returns 0 on
 * success; -1 port, -2/-3/-4 block-size query, -5 file, -6 write, -7
 * verify, -8 leave command. */
KOB_API int KOB_CALL kob_upgrade(const char* port, const char* hexPath,
                                 kob_upgrade_progress_cb progress);

/* Results of kob_upgrade, by name. */
#define KOB_UPGRADE_OK 0               /* written, verified, bootloader told to leave */
#define KOB_UPGRADE_PORT_FAILED (-1)   /* opening the port failed */
#define KOB_UPGRADE_QUERY_FAILED (-2)  /* writing the block-support query failed */
#define KOB_UPGRADE_ANSWER_FAILED (-3) /* reading its answer failed */
#define KOB_UPGRADE_NO_BLOCKS (-4)     /* the answer did not start with "Y" (or was unusable) */
#define KOB_UPGRADE_FILE_FAILED (-5)   /* the firmware file could not be opened or read whole */
#define KOB_UPGRADE_WRITE_FAILED (-6)  /* writing a block failed */
#define KOB_UPGRADE_VERIFY_FAILED (-7) /* reading a block back failed, or it differs */
#define KOB_UPGRADE_LEAVE_FAILED (-8)  /* writing the leave command failed */

/* Every result of kob_upgrade with the sentence a program shows for it:
 * X(NAME, VALUE, TEXT) once per result. For example
 *   #define CASE(name, value, text) case name: return text;
 *   switch (result) { KOB_UPGRADE_RESULTS(CASE) } */
#define KOB_UPGRADE_RESULTS(X)                                                             \
    X(KOB_UPGRADE_OK, 0, "firmware written, verified and started")                         \
    X(KOB_UPGRADE_PORT_FAILED, -1, "cannot open the port")                                 \
    X(KOB_UPGRADE_QUERY_FAILED, -2, "cannot ask the bootloader for its block size")        \
    X(KOB_UPGRADE_ANSWER_FAILED, -3, "the bootloader did not answer the block-size query") \
    X(KOB_UPGRADE_NO_BLOCKS, -4, "the bootloader does not support block transfers")        \
    X(KOB_UPGRADE_FILE_FAILED, -5, "the firmware file could not be read whole")            \
    X(KOB_UPGRADE_WRITE_FAILED, -6, "writing a block failed")                              \
    X(KOB_UPGRADE_VERIFY_FAILED, -7, "verifying a block failed: the flash differs")        \
    X(KOB_UPGRADE_LEAVE_FAILED, -8, "the bootloader could not be told to start the firmware")

/* 0 when a bootloader of the KOB-1's kind answers on port, else -1. */
KOB_API int KOB_CALL kob_upgrade_is_kob(const char* port);

/* The serial ports present, joined by ",". Returns the text's length
 * without its zero; text and zero are stored when out is not null and
 * outSize is greater than that length. */
KOB_API unsigned int KOB_CALL kob_upgrade_list_comports(char* out, unsigned int outSize);

#ifdef __cplusplus
}
#endif

#endif /* KOBLIB_H */
