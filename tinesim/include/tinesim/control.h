// Control interface of the stand-in TINE layer: lets tests, benchmarks and
// tools set up and inspect the simulated video servers. Not part of TINE; a
// program linked to a real TINE library does not use it.
//
// A server is an address /context/server/device with image properties. Each
// property has a geometry and pixel format, a frame source (moving test
// pattern, a caller's generator, or the replay of a bunch) and a frame
// numbering. Without any set-up one server exists: /SIM/VIDEO/CAM1 with the
// property "Frame", 640 x 480 GRAY, 2 bytes per pixel, 12 effective bits,
// frame numbers counting from 1.
//
// Functions taking an address and a property return 0 when done and -1 when
// the property does not exist or an argument is unusable. Addresses and
// property names are compared as TINE does: ignoring case.
#pragma once

#include <stdint.h>

#include "quivox3/quivox3.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- state of the stand-in -------------------------------------------------

// Back to the state at load: only the default server, no scripts, no open
// links, all counters 0. The cycle timer keeps running if it was started (the
// library using TINE starts it once per process).
void tinesimReset(void);

// Number of calls of a TINE function since the last reset, by its name
// ("SystemStartCycleTimer", "alsnExecLink", "AttachLinkEx2", "CloseLink", ...).
int tinesimCallCount(const char* asFunctionName);
int tinesimOpenLinkCount(void);
int tinesimCycleTimerRunning(void);

// Number of lines passed to feclog since the last reset.
int tinesimFeclogCount(void);
// Copies the last feclog line (cut to size - 1 characters).
void tinesimLastFeclog(char* asBuffer, int aiSize);

// ---- servers and properties ------------------------------------------------

enum {
  TINESIM_GRAY8 = 0,      // GRAY, 1 byte per pixel
  TINESIM_GRAY16 = 1,     // GRAY, 2 bytes per pixel, little endian
  TINESIM_RGB24 = 2,      // RGB, 3 bytes per pixel
  TINESIM_JPEG_GRAY = 3,  // JPEG stream of an 8-bit grey picture (bytesPerPixel 1)
  TINESIM_JPEG_RGB = 4    // JPEG stream of a colour picture (bytesPerPixel 3)
};

// Creates the server when it does not exist and adds (or redefines) the
// property. Width and height 1..16384. Source: test pattern; numbering from 1.
int tinesimAddImageProperty(const char* asAddress, const char* asProperty, int aiWidth,
                            int aiHeight, int aiPixelFormat);
int tinesimRemoveServer(const char* asAddress);
// Effective bits of GRAY16 (1..16); the test pattern stays below 2^bits.
int tinesimSetEffectiveBits(const char* asAddress, const char* asProperty, int aiBits);
// Frame k (counted from 0 per link, or per synchronous read) carries the
// number start + step * (k / (repeats + 1)).
int tinesimSetFrameNumbering(const char* asAddress, const char* asProperty, uint32_t auiStart,
                             int32_t aiStep, uint32_t auiRepeats);

// Caller-supplied frame source. The header comes prefilled for the property
// (geometry, formats, frame number, time); the generator writes at most
// auiCapacity pixel bytes and may change the header. It returns the number
// of bytes written, or a negative TINE completion code (-c delivers code c).
// Runs on the cycle thread for links, on the reader's thread for reads.
typedef int (*TinesimFrameGenerator)(void* apUser, uint32_t auiFrameNumber, DIMAGE* apHeader,
                                     uint8_t* apPixels, uint32_t auiCapacity);
int tinesimSetGenerator(const char* asAddress, const char* asProperty,
                        TinesimFrameGenerator aGenerator, void* apUser);
// Replays copies of the bunch's frames (headers and bytes) in a loop. With
// aiKeepFrameNumbers 0 the numbering of the property replaces the recorded
// frame numbers. The property's size becomes the largest frame.
int tinesimSetReplay(const char* asAddress, const char* asProperty, const QVBUNCHOFIMAGES* apBunch,
                     int aiKeepFrameNumbers);

// ---- property queries ------------------------------------------------------

enum {
  TINESIM_PROPS_REVISION4 = 0,  // answers the revision-4 query (default)
  TINESIM_PROPS_OLD_FORM = 1,   // revision-4 query gets aiCode; the 68-byte form answers
  TINESIM_PROPS_FAIL = 2        // every query gets aiCode
};
int tinesimSetPropsAnswer(const char* asAddress, const char* asProperty, int aiMode, int aiCode);
// Size and format the property reports instead of the real ones.
int tinesimOverridePropsSizeFormat(const char* asAddress, const char* asProperty, int aiSize,
                                   int aiFormat);
// Text of the revision-4 answer (16 characters at most).
int tinesimSetPropsText(const char* asAddress, const char* asProperty, const char* asText);
// getPropertyInfoFromListenerEx knows the property locally (answers 0) or not.
int tinesimSetListenerAnswer(const char* asAddress, const char* asProperty, int aiAnswersLocally);

// ---- synchronous reads -----------------------------------------------------

// The next reads return these codes in turn (0 = deliver a frame); after
// the script every read returns aiThenCode (0 = deliver a frame).
int tinesimScriptReads(const char* asAddress, const char* asProperty, const int* apiCodes,
                       int aiCount, int aiThenCode);
// A silent server answers nothing: reads and queries wait their timeout and
// return code 7, links deliver nothing.
int tinesimSetServerSilent(const char* asAddress, int aiSilent);
// Access and element count of the last alsnExecLinkEx.
void tinesimLastRead(int* apiAccess, int* apiElementCount, int* apiTimeoutMs);

// ---- links -------------------------------------------------------------------

// AttachLinkEx2 returns this value instead of a link id when it is negative.
int tinesimSetAttachResult(const char* asAddress, const char* asProperty, int aiResult);
// A link stops delivering after this many frames (-1: never).
int tinesimSetLinkStopAfter(const char* asAddress, const char* asProperty, int aiFrames);
// The first deliveries of every new link carry these codes (0 = a frame).
int tinesimScriptLinkCodes(const char* asAddress, const char* asProperty, const int* apiCodes,
                           int aiCount);
// The next aiCount CloseLink calls fail with aiCode.
void tinesimSetCloseLinkFailures(int aiCount, int aiCode);
void tinesimSetBufferSpaceResult(int aiCode);
void tinesimSetPipeResults(int aiOpenCode, int aiCloseCode);
void tinesimSetRenewalThresholdResult(int aiCode);
void tinesimSetGetDataResult(int aiCode);
// Interval, call mode and access of the last AttachLinkEx2.
void tinesimLastAttach(int* apiIntervalMs, int* apiMode, int* apiAccess);
// Link callbacks run since the last reset, the time spent inside them, and
// when the last one returned (seconds of std::chrono::steady_clock).
void tinesimCallbackStatistics(int* apiCount, double* apdTotalSeconds, double* apdLastReturn);
// Name given to the last OpenIpcPipe (cut to size - 1 characters).
void tinesimLastPipeName(char* asBuffer, int aiSize);

// ---- the test pattern ------------------------------------------------------

// Frame number carried in the pixels of a test-pattern frame: bits in 8 x 8
// blocks along the top rows, bit b at columns 8b..8b+7 (as many bits as the
// width holds, up to 32). Needs GRAY (1 or 2 bytes) or RGB pixels, so JPEG
// frames must be decoded first. Returns -1 when the image cannot carry it.
int64_t tinesimPatternFrameNumber(const DIMAGE* apImage);

#ifdef __cplusplus
}
#endif
