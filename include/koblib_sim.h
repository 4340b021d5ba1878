/*
 * koblib_sim.h - control of the virtual KOB-1 devices of KOBLIB_SIM, the
 * build of KOBLIB whose devices are simulated. It exports everything
 * koblib.h declares plus these functions, which may be called from any
 * thread, whether the library is open or not.
 *
 * KOBLIB_SIM loads with one device attached: serial "SIM-0001", version
 * 0x0100, 64-byte reports, loopback on, air time 100 %.
 */
#ifndef KOBLIB_SIM_H
#define KOBLIB_SIM_H

#include "koblib.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Plug in a virtual device. payload: report length without the report-ID
 * byte, 8 to 1024. 0; -1 for a null serial, a serial already attached or a
 * payload out of range. */
KOB_API int KOB_CALL kobsim_attach(const char* serial, unsigned int version, unsigned int payload);

/* Unplug it: its reads fail and the library reports "KOB removed". 0; -1
 * if no device has that serial. */
KOB_API int KOB_CALL kobsim_detach(const char* serial);

/* The device hears one IR frame: count tick words (4 us each, at most
 * 255; word 0 the silence before the frame) on a carrier of frequency Hz
 * (used for the carrier measurement report). 0; -1. */
KOB_API int KOB_CALL kobsim_receive(const char* serial, const unsigned int* words,
                                    unsigned int count, unsigned int frequency);

/* The device sends a button report with pairCount (button, value) pairs
 * (2 * pairCount bytes at pairs). 0; -1. */
KOB_API int KOB_CALL kobsim_buttons(const char* serial, const unsigned char* pairs,
                                    unsigned int pairCount);

/* The device sends one raw input report: length payload bytes,
 * zero-padded to its payload length. 0; -1. */
KOB_API int KOB_CALL kobsim_input(const char* serial, const unsigned char* bytes,
                                  unsigned int length);

/* The output reports the device received since the last call, oldest
 * first, each whole (report-ID byte included) and concatenated: as many
 * whole reports as fit in size bytes are copied and removed from the log.
 * Returns the number of bytes copied. */
KOB_API unsigned int KOB_CALL kobsim_outputs(const char* serial, unsigned char* buffer,
                                             unsigned int size);

/* loopback: the device hears the frames it sends; airTimePercent: the
 * share of the real air time a transmission takes (0 = at once). 0; -1. */
KOB_API int KOB_CALL kobsim_configure(const char* serial, int loopback,
                                      unsigned int airTimePercent);

/* The number of input reports the device has dropped since it was
 * attached because the library did not read them in time (the device
 * never waits for a reader, as the system's HID driver never does); 0 for
 * an unknown serial. */
KOB_API unsigned int KOB_CALL kobsim_dropped(const char* serial);

/* Start the virtual bootloader (once per process; later calls return the
 * same one) and give the path of the serial port it answers on. Returns
 * the path's length + 1, and stores the path and its zero only when that
 * is not greater than size; 0 when no bootloader can be started (on
 * Windows, or without pseudo-terminals). */
KOB_API unsigned int KOB_CALL kobsim_bootloader(char* path, unsigned int size);

#ifdef __cplusplus
}
#endif

#endif /* KOBLIB_SIM_H */
