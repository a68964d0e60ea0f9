/* quivox3.h -- interface of the quivox3 shared client library, version 1.0.0

  quivox3 is the shared client library of the camera and video acquisition
  system. Applications use it to fetch frames from video servers over TINE,
  keep them in memory as images (DIMAGE) and bunches of images
  (QVBUNCHOFIMAGES), check them, store them in sequence files (IMC2/BKC2 and
  the legacy IMM, IMC, BKC, BKG and BMP formats), read them back, decode JPEG
  frames, filter legacy sequences (VIDINFHDR) and list the cameras named in a
  system list file.

  This header is the manual of the interface: every exported call is
  documented where it is declared. It compiles as C99, C11 and C++.

  CONVENTIONS

  All integers are 32-bit unless said otherwise. There is no initialisation
  call and no handle: every call works on the caller's records.

  Return codes follow the family of the call:
  - Most calls of the current interface (qv...) return 1 for success, 0 for
    a refused or null argument or an operation that does not apply, and a
    negative code for a failure.
  - The file calls qvLoadImagesFromFile(Ex) and qvSaveImagesToFile(Ex)
    return 0 (QV_E_NONE) for success and a negative QV_E_LOAD_... or
    QV_E_SAVE_... code for a failure.
  - qvGrabFramesEx and qvGrabFramesEx2 return the number of frames
    received; their error code comes through *apiOutError (QV_E_GRAB_...).
  - The legacy calls in lower case (load_file, save_imc_file, normalizeframes,
    ...) return 0 or a positive count for success and a small negative code
    for a failure (QV_E_LEGACY_LOAD_..., QV_E_LEGACY_SAVE_...).
  - qvGetFrameFromDIMAGE returns numbers of the TINE completion-code table
    (0 success, QV_E_COPY_...).
  - Calls that return a pointer return NULL on failure.
  No C++ exception of the library's inside ever reaches a caller. When
  memory runs out inside a call, it returns its out-of-memory code where it
  has one (QV_E_LOAD_NO_MEMORY, QV_E_SAVE_NO_MEMORY, QV_E_GRAB_NO_MEMORY,
  QV_E_LEGACY_LOAD_NO_MEMORY, QV_E_LEGACY_SAVE_NO_MEMORY, -1 of the JPEG
  decoders, -3 of the bunch conversion, -6 of convert_format and
  calculate_significance_map), otherwise its failure result (NULL for a
  pointer; load_file__return_code_to_string answers its fixed text). It
  first releases what it had taken and leaves its records as for any
  failure; a reason buffer, if given, says so.
  Optional pointer arguments may be NULL and are then not written. Text
  out-parameters are a char buffer plus its size; each call says whether a
  text that does not fit is cut (always terminated) or not written at all.
  Reason texts of failed calls are written only on failure, and only when
  the buffer is not NULL and its size is above 1.

  OWNERSHIP

  - An image from qvInitializeImage or qvInitializeImageEx is released with
    qvFreeImage.
  - A bunch filled by qvCreateBunchStructure, a multi-frame grab, a load or a
    conversion owns its image array and every frame buffer in it; both are
    released with qvFreeBunch. The QVBUNCHOFIMAGES record itself is the
    caller's (usually a local variable).
  - A VIDINFHDR filled by a legacy reader, qvBunchToVIDINFHDR(Ex)(Ex2),
    convert_format or calculate_significance_map owns its framebits array,
    every frame and its framescales array; all are released with
    free_vidinfhdr. A caller that fills a VIDINFHDR by hand must allocate
    these blocks with malloc.
  - Everything the library hands out comes from the C heap (malloc), so a
    frame buffer taken out of a record may also be released with free().
  - Text results are written into the caller's buffers; the only text the
    library owns is the fixed fallback of load_file__return_code_to_string,
    which must be neither changed nor freed.

  THREADS

  Calls run on the caller's thread; the link callback of a multi-frame grab
  runs on the TINE library's thread. Saves and loads of IMC2/BKC2 and
  IMC/BKC files compress or inflate frames on threads of their own (see
  KELTA_CLIENTLIB_CODEC_THREADS), started and joined inside the call: the
  caller's thread still does the file I/O, the progress and the interrupt
  checks in image order, and no thread outlives the call. The library
  starts no other thread.
  - The verbosity, the log file name and the log level are process-wide and
    not locked: set them once (qvSetVerbose, qvSetVerboseEx) before other
    threads use the library, and do not change them while other threads
    are inside it. Writing messages from several threads is safe.
  - One record (image, bunch, VIDINFHDR, caller buffer) must not be used by
    two calls at the same time; calls on different records may run at once.
  - Only one multi-frame grab (qvGrabFrames, qvGrabFramesEx,
    qvGrabFramesEx2) may run per process at a time: they share process-wide
    state. Single-frame grabs, size estimates, file calls, JPEG decoding and
    name listing may run on several threads at once.
  - The interrupt flag (apiInInterrupt, userbreak) and the progress value
    (apdOutPercentageFinished, progress) of the long calls may be shared with
    one other thread of the caller's: that thread stores 1 into the flag to
    stop the work (any other value means go on) and may read the progress
    for display. The library reads the flag and writes the progress with
    atomic accesses; the caller should write the flag atomically too, and
    both must stay valid until the call returns.
  - TINE is brought up once per process, by the first grab or size estimate,
    and stopped when the library is unloaded.
  - A file must not be changed by others while the library probes and loads
    it.

  ENVIRONMENT

  KELTA_CLIENTLIB_LOGLEVEL    1 (default) or 2. At 2 the exported calls also
                              write trace lines. Read once per process, by
                              the first call that needs it; any other value
                              logs a parse error and keeps 1.
  KELTA_CLIENTLIB_CODEC_THREADS
                              threads that compress or inflate the frames
                              of one save or load of IMC2/BKC2 and IMC/BKC
                              files: 1 to 64, 1 meaning all on the caller's
                              thread; unset or invalid: the machine's cores,
                              at most 8. Read at each such call.
  KELTA_CLIENTLIB_LOGGING_PATH
                              directory of the default log file (verbosity
                              3). When it is not set, TEMP is used, then
                              TMPDIR, then /tmp; set to an empty text, the
                              current directory. Read when the default name
                              is composed: at the first message or the first
                              accepted qvSetVerboseEx, and at every
                              qvSetVerboseEx(3, "").
  KELTA_CLIENTLIB_TINE_PIPE   name of a TINE inter-process pipe, opened when
                              TINE is brought up and closed when the library
                              is unloaded; unset or empty: no pipe.
  KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_MODE_FORCE
                              a call-mode text (see
                              QVV3_INTERNAL_tineDecodeModeStringCMnew, e.g.
                              "TIMER|CONNECT") that replaces aTineMode of
                              every multi-frame grab; read at each call; a
                              text that does not decode is logged and
                              ignored.
  KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_RATE_MILLISECONDS_FORCE
                              a decimal integer that replaces
                              aTineTimeoutMilliseconds (the delivery
                              interval) of every multi-frame grab; read at
                              each call; a text that is not a 32-bit number
                              is logged and ignored.
*/
#ifndef QUIVOX3_QUIVOX3_H
#define QUIVOX3_QUIVOX3_H

#include <stddef.h>
#include <stdint.h>

/* Version of this interface; qvLibraryInfoEx reports the same numbers. */
#define QUIVOX3_VERSION_MAJOR 1
#define QUIVOX3_VERSION_MINOR 0
#define QUIVOX3_VERSION_PATCH 0
#define QUIVOX3_VERSION_STRING "1.0.0"

#if defined(_WIN32)
#if defined(QUIVOX3_BUILDING)
#define QV_API __declspec(dllexport)
#elif defined(QUIVOX3_STATIC) /* linked from the static library, not the DLL */
#define QV_API
#else
#define QV_API __declspec(dllimport)
#endif
#else
#define QV_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================== */
/* Records and ownership                                                    */
/* ======================================================================== */

/*
  A DIMAGE is one image: a 188-byte header (the layout in which TINE
  delivers an image) followed, in memory, by the capacity of and a pointer
  to a separately allocated frame buffer. frameBufferSize is the capacity,
  frameHeader.appendedFrameSize the number of bytes used. The frame is
  aoiWidth x aoiHeight pixels when they are above 0, else sourceWidth x
  sourceHeight, of bytesPerPixel bytes each (for a JPEG frame: its coded
  bytes). A QVBUNCHOFIMAGES is a counted array of images; every image of a
  bunch owns its frame buffer (or has none). Records the library fills go
  back to it: qvFreeImage, qvFreeBunch, free_vidinfhdr (see OWNERSHIP).
*/

#define MAX_TRANSPORT_SIZE 27262976 /* 26 MiB: largest frame of one image */
#define QV_HDR_IMAGE_SIZE 188       /* sizeof(hdrImage) */
#define QV_DIMAGE_SIZE 200

/* 'Q','V','V','3' read as one little-endian 32-bit value */
#define QV_BASE_TAG 0x33565651u

/* Image format codes (sourceFormat, imageFormat) */
#define CF_IMAGE_FORMAT_GRAY 0
#define CF_IMAGE_FORMAT_RGB 1
#define CF_IMAGE_FORMAT_RGBA 2
#define CF_IMAGE_FORMAT_RGB15 3
#define CF_IMAGE_FORMAT_RGB16 4
#define CF_IMAGE_FORMAT_JPEG 5
#define CF_IMAGE_FORMAT_TIFF 6
#define CF_IMAGE_FORMAT_YUV411 7
#define CF_IMAGE_FORMAT_YUV422 8
#define CF_IMAGE_FORMAT_YUV444 9
#define CF_IMAGE_FORMAT_HUFFYUV 10
#define CF_IMAGE_FORMAT_BMP 11
#define CF_IMAGE_FORMAT_BAYER 12
#define CF_IMAGE_FORMAT_MAX 12
/* Every code 0..12 passes the validity rules; pixels are produced only for
   GRAY (1 or 2 bytes per pixel), RGB (3 bytes per pixel) and JPEG. */

/* Flag bits of frameHeader.imageFlags */
#define CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER 0x1u /* clear: big endian */
#define CF_IMAGE_FLAG_IMAGE_LOSSLESS 0x2u           /* decoding clears it */
#define CF_IMAGE_FLAG_HORIZONTAL_FLIP_180 0x4u
#define CF_IMAGE_FLAG_VERTICAL_FLIP_180 0x8u
#define CF_IMAGE_FLAG_XYSTART_ONE_BASED 0x10u /* clear: xStart, yStart from 0 */
#define CF_IMAGE_FLAG_GLOBAL_TIMESTAMP 0x20u  /* clear: local time stamp */
#define CF_IMAGE_FLAG_EVENTNUMBER_OUT_OF_SYNC 0x40u
#define CF_IMAGE_FLAG_TIMESTAMP_EXTRAPOLATED 0x80u
#define CF_IMAGE_FLAG_SCALE_OFFSET 0x100u /* scale_x/y_offset are given */
#define CF_IMAGE_FLAG_SOFTWARE_ROI 0x200u

/* Image header, first 88 bytes: where the frame comes from. */
typedef struct SOURCEHEADER {
  uint32_t baseTag;               /*  0: QV_BASE_TAG */
  int32_t cameraPortId;           /*  4 */
  uint32_t versionTag;            /*  8: 1 */
  uint32_t totalLength;           /* 12: 188 + appendedFrameSize */
  uint32_t timestampSeconds;      /* 16: seconds since the Unix epoch */
  uint32_t timestampMicroseconds; /* 20: 0..999999 */
  char cameraPortName[64];        /* 24: zero-terminated when shorter */
} SOURCEHEADER;

/* Image header, next 100 bytes: geometry, pixel format and scaling. */
typedef struct FRAMEHEADER {
  int32_t sourceWidth;           /*  88 */
  int32_t sourceHeight;          /*  92 */
  int32_t aoiWidth;              /*  96: -1 or 0 = no area of interest */
  int32_t aoiHeight;             /* 100 */
  int32_t xStart;                /* 104 */
  int32_t yStart;                /* 108 */
  int32_t bytesPerPixel;         /* 112: 1..4 */
  int32_t effectiveBitsPerPixel; /* 116: -1 = not given */
  int32_t horizontalBinning;     /* 120 */
  int32_t verticalBinning;       /* 124 */
  int32_t sourceFormat;          /* 128: CF_IMAGE_FORMAT_* */
  int32_t imageFormat;           /* 132: CF_IMAGE_FORMAT_* */
  uint32_t frameNumber;          /* 136 */
  uint32_t eventNumber;          /* 140 */
  float xScale;                  /* 144: pixel per millimetre */
  float yScale;                  /* 148 */
  float imageRotation;           /* 152: degrees, + clockwise */
  float scale_x_offset;          /* 156 */
  float scale_y_offset;          /* 160 */
  float fspare3;                 /* 164 */
  uint32_t imageFlags;           /* 168: CF_IMAGE_FLAG_* */
  int32_t ispare1;               /* 172 */
  int32_t ispare2;               /* 176 */
  int32_t ispare3;               /* 180 */
  int32_t appendedFrameSize;     /* 184: frame bytes used in frameBuffer */
} FRAMEHEADER;

/* The 188-byte header as TINE delivers it for CF_IMAGE. */
typedef struct IMAGEHEADER {
  SOURCEHEADER sourceHeader;
  FRAMEHEADER frameHeader;
} IMAGEHEADER;

/* One image: header, then the capacity of and pointer to its frame bytes. */
typedef struct DIMAGE {
  SOURCEHEADER sourceHeader;
  FRAMEHEADER frameHeader;
  uint32_t frameBufferSize; /* 188: capacity of frameBuffer in bytes */
  uint8_t* frameBuffer;     /* 192 */
} DIMAGE;

/* A counted array of images; empty: imageArray NULL, numFrames 0. */
typedef struct QVBUNCHOFIMAGES {
  DIMAGE* imageArray;
  uint32_t numFrames;
} QVBUNCHOFIMAGES;

/*
  VIDINFHDR is the sequence record of the legacy file formats: geometry and
  pixel depth shared by all frames, numframes pointers to frames of
  width x height x bpp/8 bytes (rows top-down, 16-bit pixels little-endian)
  and one scale factor per frame. A record is empty when type is
  QV_VINF_EMPTY and both arrays are NULL: set it so with
  initialize_vidinfhdr before its first use, and release a filled one with
  free_vidinfhdr. The record is flat: copying it copies the pointers, and
  only one copy may be freed.
*/
typedef struct VIDINFHDR {
  int32_t width;
  int32_t height;
  int32_t bpp;  /* bits per stored pixel */
  int32_t ebpp; /* effective bits per pixel */
  double scale;
  int32_t numframes;
  int32_t type;              /* -1 empty, 1 IMM, 2 IMC, 3 BKG, 4 BKC, 5 map, 6 BMP */
  unsigned char** framebits; /* numframes frame pointers (malloc) */
  double* framescales;       /* numframes scale factors (malloc) */
} VIDINFHDR;

/* VIDINFHDR.type, and the type codes of load_file, save_file and
   convert_format */
#define QV_VINF_EMPTY (-1)
#define QV_VINF_IMM 1 /* IMM sequence */
#define QV_VINF_IMC 2 /* IMC sequence */
#define QV_VINF_BKG 3 /* BKG image, one frame */
#define QV_VINF_BKC 4 /* BKC sequence */
#define QV_VINF_MAP 5 /* significance map */
#define QV_VINF_BMP 6 /* BMP image */

/* TINE data container; its layout is the TINE client library's own. A
   caller that wants the transfer containers of a grab takes the definition
   from the TINE client headers; otherwise it passes NULL. */
struct DTYPE;
typedef struct DTYPE DTYPE;

/* 0: success of the file, legacy and grab calls that count failures in
   negative codes (see the QV_E_... families below). */
#define QV_E_NONE 0

/* ======================================================================== */
/* Runtime: verbosity, library information, time texts                      */
/* ======================================================================== */

/*
  Every call reports what it does through one message channel. The
  verbosity says where messages go; the log level (KELTA_CLIENTLIB_LOGLEVEL)
  whether trace lines are written besides errors and warnings. Each line
  starts with a local time stamp such as [26.07.23 14:03:05:123 LTM]; on the
  console it also carries "[qvv3 shared lib] ". At verbosity 3 every line is
  one open, append and close of the log file, so no file stays open.
*/

/* Verbosity levels */
#define QV_VERBOSE_OFF 0    /* messages are dropped */
#define QV_VERBOSE_STDERR 1 /* standard error */
#define QV_VERBOSE_STDOUT 2 /* standard output */
#define QV_VERBOSE_FILE 3   /* a log file (the default) */

/* A log file name has at most QV_LOG_FILE_NAME_SIZE - 1 characters. */
#define QV_LOG_FILE_NAME_SIZE 1024

QV_API int qvGetVerbose(void);
/*
     Returns the verbosity, QV_VERBOSE_OFF..QV_VERBOSE_FILE. The default is
   QV_VERBOSE_FILE.
*/

QV_API int qvGetVerboseEx(int* apiVerbosity, char* asLogFileName, int* apiSize);
/*
     Reads the verbosity and the log file name. apiVerbosity (out) receives
   the verbosity. asLogFileName (out) receives the log file name at verbosity
   3, the empty text otherwise; *apiSize (in/out) is its size in bytes on
   input and the bytes needed (name and terminator) on output.
   QV_LOG_FILE_NAME_SIZE bytes always suffice. Before the first message the
   name is "kelta-sharedlib.log".
     Returns 1 done; 0 the buffer is too small (*apiSize holds the size
   needed, nothing else is written); -1 one of the three pointers is NULL.
*/

QV_API int qvSetVerbose(int aiLevel);
/*
     Same as qvSetVerboseEx(aiLevel, NULL): so QV_VERBOSE_FILE is refused
   (0); 0, 1 and 2 are accepted (1).
*/

QV_API int qvSetVerboseEx(int aiLevel, const char* asLogFileName);
/*
     Sets where messages go: aiLevel QV_VERBOSE_OFF..QV_VERBOSE_FILE. At
   QV_VERBOSE_FILE asLogFileName names the log file (cut to 1023
   characters); the empty text composes the default name
   "<dir>/kelta-sharedlib--<date>--p-<pid>--u-<user>--h-<host>.log" in the
   directory of KELTA_CLIENTLIB_LOGGING_PATH (else TEMP, TMPDIR, /tmp). The
   file is started with a banner line and the library information. The
   change itself is logged to the old and the new destination. Not
   synchronised with other threads (see THREADS).
     Returns 1 accepted; 0 refused (aiLevel outside 0..3, or 3 with
   asLogFileName NULL), and nothing changes.
*/

/* qvLibraryInfoEx reports this buffer size, whatever the text's length. */
#define QV_LIBRARY_INFO_SIZE 121

QV_API const char* qvLibraryInfoEx(unsigned* vMajor, unsigned* vMinor, unsigned* vSubMinor,
                                   char* buffer, unsigned* buflen);
/*
     Reports the library's version and its banner text. vMajor, vMinor,
   vSubMinor (out, each may be NULL) always receive QUIVOX3_VERSION_MAJOR,
   _MINOR and _PATCH. buffer (out) receives "<banner> Tine # <TINE version
   text> ****", cut to *buflen - 1 characters and terminated; *buflen (in/out)
   is the size of buffer on input and QV_LIBRARY_INFO_SIZE on output. A
   buffer of QV_LIBRARY_INFO_SIZE bytes holds the text for a TINE version
   text of up to 13 characters; give more room to be safe.
     Returns buffer; NULL when buflen is NULL, when buffer is NULL (then
   *buflen is set to QV_LIBRARY_INFO_SIZE) or when *buflen is 0 (nothing
   written).
*/

QV_API const char* qvLibraryInfo(unsigned* vMajor, unsigned* vMinor, char* buffer,
                                 unsigned* buflen);
/*
     Same as qvLibraryInfoEx(vMajor, vMinor, NULL, buffer, buflen).
*/

/* Smallest buffer QVV3_INTERNAL_getTimeString accepts. */
#define QV_TIME_STRING_SIZE 26

QV_API char* QVV3_INTERNAL_getTimeString(char* asBuffer, int aiBufferSize);
/*
     Writes the current local time as "26.07.23 14:03:05.123 LTM" (day,
   month, two-digit year, milliseconds), or "time_conversion_error" when the
   local time cannot be had. Returns asBuffer; NULL when asBuffer is NULL or
   aiBufferSize is below QV_TIME_STRING_SIZE.
*/

QV_API char* QVV3_INTERNAL_platformTimeToUTCString(int64_t aiSeconds, int aiFraction,
                                                   int aiMicroseconds, int aiBrackets, int aiAmPm,
                                                   char* asBuffer, int aiBufferSize);
/*
     Writes a time stamp (aiSeconds since the Unix epoch and aiFraction) as
   UTC text. aiMicroseconds non-zero: aiFraction is microseconds (0..999999,
   six digits), else milliseconds (0..999, three digits). aiBrackets non-zero
   puts the text in [ ]. aiAmPm non-zero uses the 12-hour clock:
   "2023-07-26  2:03:05.123456 PM UTC" (the form stored in IMC2/BKC2 files),
   else "2023-07-26 14:03:05.123456 UTC". The text is cut to aiBufferSize - 1
   characters; 40 bytes hold every form.
     Returns asBuffer; NULL when asBuffer is NULL, aiBufferSize is below 2,
   aiFraction is out of range, or aiSeconds has no UTC calendar time.
*/

/* ======================================================================== */
/* Images and bunches                                                       */
/* ======================================================================== */

/*
  Images and bunches are created and freed here; grabs and loads fill them.
  The library checks every image it takes in or hands on with the validity
  rules of qvCheckImageValidity.
*/

QV_API DIMAGE* qvInitializeImage(void);
/*
     Same as qvInitializeImageEx(MAX_TRANSPORT_SIZE): an image whose frame
   buffer takes any frame.
*/

QV_API DIMAGE* qvInitializeImageEx(int aiFrameBufferSizeBytes);
/*
     Allocates an image with a frame buffer of aiFrameBufferSizeBytes bytes
   (frameBufferSize). The header is zero-filled; a grab, a load or the caller
   fills it. Release the image with qvFreeImage.
     Returns the image; NULL when aiFrameBufferSizeBytes is not above 0 or
   memory is short (the reason is logged).
*/

QV_API int qvFreeImage(DIMAGE* apImage);
/*
     Frees an image of qvInitializeImage(Ex) and its frame buffer.
     Returns 1 freed; -1 its frameBuffer was NULL, the record was freed;
   0 apImage is NULL.
*/

QV_API int qvInitializeBunchStructure(QVBUNCHOFIMAGES* apImages);
/*
     Makes a bunch empty (imageArray NULL, numFrames 0) without freeing
   anything: use it on a new bunch; a filled one is released with
   qvFreeBunch. Returns 1; 0 apImages is NULL.
*/

QV_API int qvCreateBunchStructure(QVBUNCHOFIMAGES* apImages, uint32_t auiNumFrames,
                                  uint32_t auiFrameBufferSizeBytes);
/*
     Fills an empty bunch with auiNumFrames images whose headers are
   zero-filled, each with a frame buffer of auiFrameBufferSizeBytes bytes
   (none when 0: frameBuffer NULL, frameBufferSize 0). What the bunch held
   before is not freed. Release it with qvFreeBunch.
     Returns 1 done (auiNumFrames 0: nothing changes); 0 apImages is NULL or
   memory is short (nothing stays allocated; release the bunch with
   qvFreeBunch or qvInitializeBunchStructure before reuse).
*/

QV_API int qvFreeBunch(QVBUNCHOFIMAGES* apImages);
/*
     Frees every frame buffer of the bunch and its image array and leaves
   the bunch empty; with numFrames 0 it only sets imageArray to NULL.
     Returns 1 the bunch is empty; 0 apImages is NULL.
*/

QV_API int qvCheckImageValidity(DIMAGE* apImg, char* asOutErrorString, size_t aiOutErrorStringSize);
/*
     Checks an image header against the validity rules (tag, sizes, area of
   interest and offsets, bytes per pixel 1..4, format codes 0..12, frame size
   against frameBufferSize, MAX_TRANSPORT_SIZE and totalLength, and for GRAY
   and RGB that appendedFrameSize holds the whole frame). The image is only
   read; the frame bytes are never looked at. asOutErrorString (out, may be
   NULL) receives the reason on failure, cut to aiOutErrorStringSize - 1
   characters; the reason is also logged.
     Returns 1 valid; 0 apImg is NULL; -1 invalid.
*/

QV_API char* QVV3_INTERNAL_CDIMAGE_getFlagsAsString(uint32_t auiFlags, char* asBuffer,
                                                    size_t* apiSize);
/*
     Writes the flag words of auiFlags, e.g. "LITTLE_ENDIAN
   LOSSLESS_BIT_NOT_SET XYSTART_ZERO_BASED LOCAL_TIMESTAMP" (one word per
   flag, the byte order, lossless, start base and time stamp kind always
   named). The text is cut to *apiSize - 1 characters; *apiSize (in/out)
   becomes the size needed; 181 bytes hold every text. With apiSize NULL
   nothing is written.
     Returns asBuffer; NULL when asBuffer is NULL.
*/

QV_API char* QVV3_INTERNAL_CDIMAGE_getFormatAsString(int aiFormat, char* asBuffer, size_t* apiSize);
/*
     Writes the short name of an image format code ("GRAY", "RGB", ...;
   "UNKNOWN FORMAT(n)" outside 0..12), but only when it fits *apiSize bytes.
     Returns asBuffer (*apiSize unchanged); NULL when it does not fit
   (nothing written, *apiSize set to the size needed), or when asBuffer or
   apiSize is NULL.
*/

QV_API int qvIsSequence(QVBUNCHOFIMAGES* aImages);
/*
     Tells whether a bunch is a sequence: every image valid and all alike in
   camera port id and name, geometry, area of interest and offsets, bytes
   and effective bits per pixel, source and image format, scales (within
   1e-5) and rotation. Time stamps, frame and event numbers, flags, binning
   and frame sizes may differ. Only reads the bunch.
     Returns 1 sequence; 0 not a sequence (also an empty bunch); -1 aImages
   is NULL, its imageArray is NULL while numFrames is not 0, or an image is
   invalid.
*/

QV_API int qvIsCompleteSequence(QVBUNCHOFIMAGES* aImages);
/*
     Tells whether a bunch is a sequence whose frame numbers rise by exactly
   one from a non-zero start (a one-image sequence is always complete).
     Returns 1 complete; 0 not complete or no sequence; -1 as qvIsSequence.
*/

/* Pixel kinds of qvGetFrameFromDIMAGE */
#define QV_PIXEL_GRAY8 0  /* GRAY, 1 byte per pixel */
#define QV_PIXEL_GRAY16 1 /* GRAY, 2 bytes per pixel, little-endian */
#define QV_PIXEL_RGB24 2  /* RGB, 3 bytes per pixel */

/* Results of qvGetFrameFromDIMAGE: numbers of the TINE completion-code
   table, so that qvTineCodeToString can name them. */
#define QV_E_COPY_NULL_ARGUMENT 20    /* destination, size or image NULL */
#define QV_E_COPY_BUFFER_TOO_SMALL 23 /* destination smaller than frame */
#define QV_E_COPY_UNSUPPORTED 103     /* image invalid, or not GRAY/RGB */
#define QV_E_COPY_DECOMPRESSION 513   /* JPEG decoding failed */

QV_API int qvGetFrameFromDIMAGE(void* apDestination, int* apiInOutSize, DIMAGE* apImage,
                                int* apiOutWidth, int* apiOutHeight, int* apiOutPixelKind,
                                int* apiOutBytesPerPixel, int* apiOutEffectiveBits,
                                DIMAGE* apOutHeaderCopy);
/*
     Copies the pixels of an image into the caller's buffer, decoding a
   JPEG frame on the way. apDestination (out) receives width x height x
   bytes-per-pixel bytes; *apiInOutSize (in/out) is its size on input and the
   bytes copied on output (unchanged on failure). apiOutWidth, apiOutHeight,
   apiOutPixelKind (QV_PIXEL_*), apiOutBytesPerPixel, apiOutEffectiveBits
   (out, may be NULL) describe the frame. apOutHeaderCopy (out, may be NULL)
   receives the image record (the decoded one for JPEG) with frameBuffer
   NULL, frameBufferSize 0 and appendedFrameSize 0. The image is not
   changed.
     Returns QV_E_NONE done; QV_E_COPY_NULL_ARGUMENT, QV_E_COPY_UNSUPPORTED,
   QV_E_COPY_DECOMPRESSION (also when memory runs out) or
   QV_E_COPY_BUFFER_TOO_SMALL.
*/

QV_API int getFrameFromDIMAGE(void* apDestination, int* apiInOutSize, DIMAGE* apImage,
                              int* apiOutWidth, int* apiOutHeight, int* apiOutPixelKind,
                              int* apiOutBytesPerPixel, int* apiOutEffectiveBits,
                              DIMAGE* apOutHeaderCopy);
/*
     The same call as qvGetFrameFromDIMAGE under its older name.
*/

/* ======================================================================== */
/* Video transfer over TINE                                                 */
/* ======================================================================== */

/*
  A video server publishes its frames as a TINE property, named by an
  address "/context/server/device" (5..132 characters; a missing leading
  slash is added, parts after a third slash are cut off) and a property name
  (1..63 characters, no '/', '[' or ']'). The first grab or size estimate
  brings TINE up (once per process). Two kinds of small integer codes go to
  TINE: an access code (QV_CA_*) for qvGrabFrame, and a call mode (QV_CM_*:
  one base mode in the low four bits, possibly with flags) for the
  multi-frame grabs.
*/

/* Access codes */
#define QV_CA_READ 1
#define QV_CA_WRITE 2
#define QV_CA_CONNECT 0x2000
/* access bits that QVV3_INTERNAL_tineCMtoCA adds for transport flags */
#define QV_CA_MCAST 0x200  /* from QV_CM_MCAST, QV_CM_NETWORK */
#define QV_CA_STREAM 0x800 /* from QV_CM_STREAM */

/* Call modes: base modes (low four bits) */
#define QV_CM_CANCEL 0
#define QV_CM_SINGLE 1
#define QV_CM_DATACHANGE 2
#define QV_CM_TIMER 3
#define QV_CM_REGISTER 4
#define QV_CM_RECEIVE 5
#define QV_CM_EVENT 6
#define QV_CM_BASE_MASK 0xF
/* Call modes: flags, ORed to a base mode */
#define QV_CM_NODUPLICATES 0x10
#define QV_CM_SEEKPATTERN 0x20
#define QV_CM_MISSPATTERN 0x40
#define QV_CM_STREAM 0x80
#define QV_CM_BCAST 0x200
#define QV_CM_MCAST 0x200
#define QV_CM_NETWORK 0x200
#define QV_CM_USEONERROR 0x400
#define QV_CM_RETRY 0x800
#define QV_CM_GROUPED 0x1000
#define QV_CM_CONNECT 0x2000
#define QV_CM_WAIT 0x4000
#define QV_CM_SYNCNOTIFY 0x8000

/* Results of qvGrabFrame besides 1 (a valid frame) and 0 (a NULL or
   malformed argument) */
#define QV_E_SINGLE_GRAB_TIMEOUT (-1)       /* no successful read in time */
#define QV_E_SINGLE_GRAB_INVALID_IMAGE (-2) /* frame arrived, image invalid */
#define QV_E_SINGLE_GRAB_PROPERTY (-3)      /* property size/format unknown */
#define QV_E_SINGLE_GRAB_ADDRESS (-4)       /* address too short or long */

QV_API int qvGrabFrame(DIMAGE* apInOutImage, DTYPE* apDOut, const char* asTineAddress,
                       const char* asTinePropertyName, int aiTineTimeoutMilliseconds,
                       int aiTineMode, int* apiOutTineReturnCode);
/*
     Fetches one frame by synchronous reads into an image of the caller's
   (from qvInitializeImage(Ex), with its frame buffer): TINE writes the
   header and at most frameBufferSize frame bytes; frameBuffer and
   frameBufferSize stay the caller's. apDOut (out, may be NULL) receives a
   copy of the transfer container (its data pointer points at
   apInOutImage). aiTineMode is the access code of the read, normally
   QV_CA_READ. aiTineTimeoutMilliseconds is the timeout of each read and the
   overall limit: failed reads are repeated every 10 ms until one succeeds
   or the limit has passed. apiOutTineReturnCode (out, may be NULL) receives
   the last TINE code for the results 1, -1, -2 and -3. Blocks the caller's
   thread.
     Returns 1 a valid frame is in apInOutImage; 0 apInOutImage, its
   frameBuffer, the address or the property name is NULL, or the address or
   name is malformed; QV_E_SINGLE_GRAB_TIMEOUT; QV_E_SINGLE_GRAB_INVALID_IMAGE;
   QV_E_SINGLE_GRAB_PROPERTY (*apiOutTineReturnCode holds the query's code);
   QV_E_SINGLE_GRAB_ADDRESS. A grab that runs out of memory returns
   QV_E_SINGLE_GRAB_TIMEOUT: no frame arrived.
*/

/* Error codes of the multi-frame grabs (*apiOutError; QV_E_NONE: all
   frames arrived) */
#define QV_E_GRAB_ARGUMENT (-1)    /* argument, address or property name */
#define QV_E_GRAB_TIMEOUT (-2)     /* more than 5 s without a delivery */
#define QV_E_GRAB_NO_MEMORY (-3)   /* out of memory */
#define QV_E_GRAB_ATTACH (-6)      /* the link could not be attached */
#define QV_E_GRAB_INTERRUPTED (-7) /* *apiInInterrupt was set to 1 */

QV_API int qvGrabFramesEx2(QVBUNCHOFIMAGES* aImages, DTYPE* aImagesDOut, const char* aTineAddress,
                           const char* aTinePropertyName, unsigned int aNumFrames,
                           int aTineTimeoutMilliseconds, int aTineMode, int* apiOutError,
                           int* apiOutTineError, int* apiInInterrupt,
                           double* apdOutPercentageFinished);
/*
     Collects aNumFrames (at least 1) consecutive frames through a TINE
   link into a bunch. aImages (in/out) must be empty (one that is not is
   freed first, with a warning); when frames arrived its imageArray has
   aNumFrames slots of which the first numFrames (the result) are filled,
   each with a frame buffer of exactly its frame's size: release it with
   qvFreeBunch. aImagesDOut (out, may be NULL) is an array of aNumFrames
   containers, slot i receiving the transfer container of frame i (its data
   pointer points at image i of the bunch).
   aTineTimeoutMilliseconds is the link's delivery interval (300..4000
   recommended; other values are logged and used). aTineMode is the link's
   call mode, e.g. QV_CM_TIMER. Both may be overridden by the environment
   (see ENVIRONMENT). apiOutError (out, required) receives QV_E_NONE or a
   QV_E_GRAB_... code; apiOutTineError (out, may be NULL) the last TINE code
   a delivery reported, or the failing link id for QV_E_GRAB_ATTACH.
   apiInInterrupt (in, may be NULL): another thread stores 1 to stop.
   apdOutPercentageFinished (out, may be NULL): the fraction received,
   0.0..1.0, updated while waiting.
     A repeated frame number (other than 0) is skipped. The grab ends when
   all frames are in, after more than 5 seconds without a delivery, or on
   interrupt; the frames received so far are kept. The caller's thread
   blocks and polls; the bunch and the containers must not be touched until
   the call returns. One multi-frame grab per process at a time.
     Returns the number of frames received (0 with apiOutError NULL,
   aImages NULL or aNumFrames 0, and for any error before the link ran).
*/

QV_API int qvGrabFramesEx(QVBUNCHOFIMAGES* aImages, const char* aTineAddress,
                          const char* aTinePropertyName, unsigned int aNumFrames,
                          int aTineTimeoutMilliseconds, int aTineMode, int* apiOutError,
                          int* apiOutTineError, int* apiInInterrupt,
                          double* apdOutPercentageFinished);
/*
     Same as qvGrabFramesEx2 with aImagesDOut NULL.
*/

QV_API int qvGrabFrames(QVBUNCHOFIMAGES* aImages, const char* aTineAddress,
                        const char* aTinePropertyName, unsigned int aNumFrames,
                        int aTineTimeoutMilliseconds, int aTineMode);
/*
     Same as qvGrabFramesEx without interrupt, progress and TINE code, but
   all or nothing: when fewer than aNumFrames frames arrive the bunch is
   freed.
     Returns 1 all frames are in aImages; otherwise the QV_E_GRAB_... code
   plus one: 0 argument error, -1 timeout, -2 out of memory, -5 link not
   attached.
*/

QV_API int qvEstimateMaxFrameSizeBytes(const char* asTineAddress, const char* asTinePropertyName);
/*
     Asks a video server how many bytes its largest frame takes, to size
   frame buffers. asTinePropertyName NULL means "Frame". Brings TINE up and
   blocks for the property query (up to about one second).
     Returns the property's size when it is an image property of 1 to
   104857600 bytes; otherwise MAX_TRANSPORT_SIZE (address NULL, address or
   name malformed, query failed, other format or implausible size; the
   reason is logged). Never fails.
*/

QV_API int qvTineCodeToString(int aiCode, char* asBuffer, size_t* apiLength);
/*
     Writes the text of the TINE completion code |aiCode| (empty for a code
   beyond TINE's list), cut to *apiLength - 1 characters; *apiLength (in/out)
   becomes the text length plus one.
     Returns 1; 0 asBuffer or apiLength is NULL or *apiLength is below 1.
*/

QV_API int QVV3_INTERNAL_tineCMtoCA(int aiMode, int* apiAccess);
/*
     Converts a call mode into the matching access code: QV_CA_READ when
   any of the low three bits is set (every base mode but cancel), plus
   QV_CA_STREAM, QV_CA_MCAST and QV_CA_CONNECT for the flags QV_CM_STREAM,
   QV_CM_MCAST and QV_CM_CONNECT. apiAccess (out, may be NULL) receives it.
     Returns 1; 0 when two of STREAM, MCAST and CONNECT are combined
   (*apiAccess untouched).
*/

/* Results of QVV3_INTERNAL_tineDecodeModeStringCMnew besides a mode >= 0 */
#define QV_E_MODE_TOO_LONG (-1) /* text longer than 200 characters */
#define QV_E_MODE_EMPTY (-2)    /* no keyword in the text */
#define QV_E_MODE_UNKNOWN (-3)  /* unknown keyword */
#define QV_E_MODE_CONFLICT (-4) /* keyword excluded by an earlier one */
#define QV_E_MODE_NO_BASE (-5)  /* neither EVENT nor TIMER given */

QV_API int QVV3_INTERNAL_tineDecodeModeStringCMnew(const char* asText);
/*
     Decodes a call-mode text such as "TIMER|CONNECT" or "CM_TIMER,
   CM_SYNCNOTIFY": keywords EVENT, TIMER, STREAM, MCAST, NETWORK, CONNECT
   and SYNCNOTIFY, with or without "CM_", in any letter case, separated by
   '|', ',', blanks, tabs or newlines. Exactly one of EVENT and TIMER, at
   most one of STREAM, MCAST, NETWORK and CONNECT.
     Returns the mode (QV_CM_* ORed, >= 0), or QV_E_MODE_TOO_LONG,
   QV_E_MODE_EMPTY, QV_E_MODE_UNKNOWN, QV_E_MODE_CONFLICT, QV_E_MODE_NO_BASE.
*/

QV_API int QVV3_INTERNAL_tineModeToString(int aiMode, int aiShortForm, char* asBuffer,
                                          size_t* apiLength);
/*
     Writes a call mode as text: the base mode and each flag set, joined by
   '|' ("TIMER|CONNECT" with aiShortForm non-zero, "CM_TIMER|CM_CONNECT"
   otherwise). *apiLength (in/out) is the buffer size.
     Returns 1 written, *apiLength = text length + 1; -1 asBuffer NULL or
   too small (*apiLength, when not NULL, set to the size needed; nothing
   written); 0 the low four bits name no base mode: "(error)" is written and
   *apiLength is left as it was.
*/

/* ======================================================================== */
/* Sequence files: IMC2/BKC2 and dispatch to the legacy formats             */
/* ======================================================================== */

/*
  qvLoadImagesFromFile(Ex) recognise a file by its content: IMC/BKC, IMM and
  BKG files go through the legacy readers and are converted into GRAY
  images; every other file goes to the IMC2/BKC2 reader. qvSaveImagesToFile(Ex)
  choose by the name: ".imc", ".bkc", ".imm" and ".bkg" (any letter case)
  select the legacy writers, every other name writes an IMC2/BKC2 file.
  IMC2/BKC2 keeps every header field; the legacy formats keep only geometry,
  depth and scale. The interrupt flag stops the work when it holds exactly 1
  (checked before each image); the progress value runs from 0 to 1.
*/

/* File types of qvCheckFileFormat */
#define QV_FILE_UNKNOWN (-1) /* none of them, or the file cannot be opened */
#define QV_FILE_IMM 0
#define QV_FILE_BKG 1
#define QV_FILE_IMC 2  /* IMC or BKC */
#define QV_FILE_IMC2 3 /* IMC2 or BKC2 */

QV_API int qvCheckFileFormat(const char* asFilePath, char* asOutErrorString,
                             size_t aiOutErrorStringSize);
/*
     Tells by content which sequence format a file is; pixels are not read.
   An IMC2/BKC2 file must end exactly after its last image. asOutErrorString
   (out, may be NULL) receives the reason for QV_FILE_UNKNOWN, cut to
   aiOutErrorStringSize - 1 characters.
     Returns QV_FILE_IMC2, QV_FILE_IMC, QV_FILE_IMM, QV_FILE_BKG or
   QV_FILE_UNKNOWN (also for asFilePath NULL).
*/

/* Results of qvLoadImagesFromFile(Ex) besides QV_E_NONE. -1 to -11 come
   from the IMC2/BKC2 reader (-1 also from the argument check), -9 also from
   an interrupted legacy reader, -12 to -15 from the legacy path. */
#define QV_E_LOAD_ARGUMENT (-1)      /* name NULL/empty, bunch NULL/not empty */
#define QV_E_LOAD_INVALID_IMAGE (-2) /* an image fails the validity rules */
#define QV_E_LOAD_NOT_IMC2 (-3)      /* content is no valid IMC2/BKC2 file */
#define QV_E_LOAD_OPEN (-4)          /* file cannot be opened for reading */
#define QV_E_LOAD_READ (-5)          /* file shorter than its content needs */
#define QV_E_LOAD_METADATA                                               \
  (-6)                               /* malformed metadata record, or no \
                                        memory for the key tables */
#define QV_E_LOAD_NO_MEMORY (-7)     /* no memory for the images */
#define QV_E_LOAD_DECOMPRESSION (-8) /* zlib decompression failed */
#define QV_E_LOAD_INTERRUPTED (-9)   /* *apiInInterrupt was 1 */
#define QV_E_LOAD_LENGTH (-11)       /* a length field above 2^31 - 1 */
#define QV_E_LOAD_IMM (-12)          /* the IMM reader failed */
#define QV_E_LOAD_BKG (-13)          /* the BKG reader failed */
#define QV_E_LOAD_IMC (-14)          /* the IMC/BKC reader failed */
#define QV_E_LOAD_CONVERSION               \
  (-15) /* legacy sequence not convertible \
           (or interrupted while converted) */

QV_API int qvLoadImagesFromFile(const char* asFilePath, QVBUNCHOFIMAGES* apImages);
/*
     Same as qvLoadImagesFromFileEx without interrupt, progress and reason.
*/

QV_API int qvLoadImagesFromFileEx(const char* asFilePath, QVBUNCHOFIMAGES* apImages,
                                  int* apiInInterrupt, double* apdOutPercentageFinished,
                                  char* asOutErrorString, unsigned int aiOutErrorStringSize);
/*
     Loads a sequence file of any supported format into an empty bunch
   (apImages: imageArray NULL, numFrames 0). On success the bunch owns the
   images (release with qvFreeBunch); on failure it stays empty. Images of
   legacy files are GRAY, numbered 1..n, with the file's modification time
   and its shortened name as camera port name. apiInInterrupt (in, may be
   NULL), apdOutPercentageFinished (out, may be NULL): see the family
   introduction (a BKG file is read in one go and cannot be interrupted).
   asOutErrorString (out, may be NULL) receives the reason on failure, cut
   to aiOutErrorStringSize - 1 characters.
     Returns QV_E_NONE, or a QV_E_LOAD_... code.
*/

/* Results of qvSaveImagesToFile(Ex) besides QV_E_NONE. For an IMC2/BKC2
   name the writer's codes; for a legacy name QV_E_SAVE_ARGUMENT,
   QV_E_SAVE_CONVERSION or the legacy writer's code (QV_E_LEGACY_SAVE_...,
   -1 to -9). -4, -5, -6, -7 and -9 mean the same in both. */
#define QV_E_SAVE_CREATE (-4)      /* file cannot be created */
#define QV_E_SAVE_WRITE (-5)       /* a write failed */
#define QV_E_SAVE_NO_MEMORY (-6)   /* no memory for compression */
#define QV_E_SAVE_COMPRESSION (-7) /* zlib compression failed */
#define QV_E_SAVE_INTERRUPTED (-9) /* *apiInInterrupt was 1 */
#define QV_E_SAVE_ARGUMENT                                                    \
  (-12)                              /* name NULL/empty, bunch NULL or empty, \
                                        more than QV_MAX_SAVE_FRAMES images */
#define QV_E_SAVE_NOT_SEQUENCE (-13) /* no sequence, or not GRAY/RGB */
#define QV_E_SAVE_FILE_EXISTS (-14)  /* IMC2/BKC2: the file exists */
#define QV_E_SAVE_METADATA (-15)     /* a metadata record cannot be composed */
#define QV_E_SAVE_CONVERSION (-16)   /* legacy name: bunch not convertible */

/* Most images one IMC2/BKC2 file takes. */
#define QV_MAX_SAVE_FRAMES 10000

QV_API int qvSaveImagesToFile(QVBUNCHOFIMAGES* apImages, const char* asFilePath);
/*
     Same as qvSaveImagesToFileEx without reason, interrupt and progress.
*/

QV_API int qvSaveImagesToFileEx(QVBUNCHOFIMAGES* apImages, const char* asFilePath,
                                char* asOutErrorString, unsigned int aiOutErrorStringSize,
                                int* apiInInterrupt, double* apdOutPercentageFinished);
/*
     Saves a bunch that is a sequence (qvIsSequence) to a file; the bunch is
   only read. An IMC2/BKC2 file takes GRAY or RGB images (any bytes per
   pixel, zlib-compressed) and is never written over an existing file; a
   failed save leaves no file. A legacy name needs GRAY images of 1 or 2
   bytes per pixel with equal x and y scales (".bkg": one image only); the
   legacy writers replace an existing file and delete their file after a
   write error or an interrupt. asOutErrorString (out, may be NULL) receives
   the reason on failure, cut to aiOutErrorStringSize - 1 characters.
   apiInInterrupt, apdOutPercentageFinished: see the family introduction
   (".bkg" takes neither). Note the order of the arguments differs from
   qvLoadImagesFromFileEx.
     Returns QV_E_NONE, a QV_E_SAVE_... code or a QV_E_LEGACY_SAVE_... code.
*/

/* ======================================================================== */
/* Legacy sequences and files                                               */
/* ======================================================================== */

/*
  The legacy calls move VIDINFHDR records to and from IMM (uncompressed
  frames with a scale each), BKG (one uncompressed frame), IMC and BKC
  (zlib-compressed frames; identical layout) and BMP files. Readers need an
  empty record and leave it empty on failure; writers only read the record
  and take records of type QV_VINF_IMM, _IMC, _BKG, _BKC or _BMP. The Ex
  writers take a user-break flag (stop when it holds exactly 1, checked
  before each frame) and a progress value (0 to 1). Names are paths of the
  C library's file functions.
*/

/* Results of the legacy readers besides QV_E_NONE */
#define QV_E_LEGACY_LOAD_EXTENSION (-1) /* load_file: no known extension */
#define QV_E_LEGACY_LOAD_TYPE (-2)      /* unsupported type code */
#define QV_E_LEGACY_LOAD_OPEN (-3)      /* file cannot be opened */
#define QV_E_LEGACY_LOAD_CONTENT (-4)   /* unexpected file content */
#define QV_E_LEGACY_LOAD_READ (-5)      /* file shorter than its content */
#define QV_E_LEGACY_LOAD_NOT_EMPTY (-6) /* record not empty (or NULL, not BMP) */
#define QV_E_LEGACY_LOAD_NO_MEMORY (-7) /* out of memory */
#define QV_E_LEGACY_LOAD_DECOMPRESSION                               \
  (-8)                                      /* IMC/BKC: zlib failed; \
                                               BMP: unsupported variant */
#define QV_E_LEGACY_LOAD_USER_BREAK (-9)    /* user break */
#define QV_E_LEGACY_LOAD_BMP_ARGUMENT (-10) /* BMP: name or record NULL */

/* Results of the legacy writers besides QV_E_NONE */
#define QV_E_LEGACY_SAVE_FRAMES (-1)        /* BKG: more than one frame */
#define QV_E_LEGACY_SAVE_TYPE (-2)          /* type not writable or unsupported */
#define QV_E_LEGACY_SAVE_RECORD (-3)        /* record NULL or no frames */
#define QV_E_LEGACY_SAVE_CREATE (-4)        /* file cannot be created */
#define QV_E_LEGACY_SAVE_WRITE (-5)         /* a write failed */
#define QV_E_LEGACY_SAVE_NO_MEMORY (-6)     /* IMC/BKC: out of memory */
#define QV_E_LEGACY_SAVE_COMPRESSION (-7)   /* IMC/BKC: zlib failed */
#define QV_E_LEGACY_SAVE_NAME_TOO_LONG (-8) /* save_file: name too long */
#define QV_E_LEGACY_SAVE_USER_BREAK (-9)    /* user break */
#define QV_E_LEGACY_SAVE_BMP_ARGUMENT (-9)  /* BMP: invalid argument */
#define QV_E_LEGACY_SAVE_BMP_DEPTH (-10)    /* BMP: record not 8 bits deep */

QV_API void initialize_vidinfhdr(VIDINFHDR* vinf);
/*
     Makes a record empty (type QV_VINF_EMPTY, both arrays NULL) without
   freeing anything; call it once on every new record. NULL is ignored.
*/

QV_API void free_vidinfhdr(VIDINFHDR* vinf);
/*
     Releases the frames and arrays of a filled record (type 1..6) and makes
   it empty; any other type, and NULL, is ignored, so freeing twice is
   harmless. The geometry fields are left as they were.
*/

QV_API const char* load_file__return_code_to_string(int code, char* buffer, int length);
/*
     Writes the text of a legacy reader result (QV_E_NONE to
   QV_E_LEGACY_LOAD_DECOMPRESSION; others "Return code <n> is unknown."), cut
   to length - 1 characters. Returns buffer; with buffer NULL or length below
   2 the fixed text "Error translating return code." (not to be freed) and
   nothing is written.
*/

QV_API int load_file(int type, const char* name, VIDINFHDR* vinf);
/*
     Reads a legacy file chosen by type: QV_VINF_IMM, _IMC, _BKG, _BKC or
   _BMP (as load_bmp_file with keepIndices 0), or 0 to choose by the name's
   ending ".imm", ".imc", ".bkg" or ".bkc" (any letter case).
     Returns QV_E_NONE, or a QV_E_LEGACY_LOAD_... code
   (QV_E_LEGACY_LOAD_EXTENSION, QV_E_LEGACY_LOAD_TYPE for the choice).
*/

QV_API int load_imm_file(const char* name, VIDINFHDR* vinf);
/*
     Reads an IMM file (type QV_VINF_IMM). Every frame header must equal
   the first. Returns QV_E_NONE or a QV_E_LEGACY_LOAD_... code.
*/

QV_API int load_imc_file(const char* name, VIDINFHDR* vinf);
/*
     Reads an IMC or BKC file into a record of type QV_VINF_IMC.
   Returns QV_E_NONE or a QV_E_LEGACY_LOAD_... code.
*/

QV_API int load_bkc_file(const char* name, VIDINFHDR* vinf);
/*
     Reads an IMC or BKC file into a record of type QV_VINF_BKC.
   Returns QV_E_NONE or a QV_E_LEGACY_LOAD_... code.
*/

QV_API int load_imc_bkc_file(const char* name, VIDINFHDR* vinf, int type);
/*
     Reads an IMC or BKC file into a record of the given type, QV_VINF_IMC
   or QV_VINF_BKC. Returns QV_E_NONE or a QV_E_LEGACY_LOAD_... code
   (QV_E_LEGACY_LOAD_TYPE for any other type).
*/

QV_API int load_bkg_file(const char* name, VIDINFHDR* vinf);
/*
     Reads a BKG file (one frame, scale 1.0) into a record of type
   QV_VINF_BKG. Returns QV_E_NONE or a QV_E_LEGACY_LOAD_... code.
*/

QV_API int load_bkg_file_arb(const char* name, VIDINFHDR* vinf);
/*
     Reads a file of several BKG records one after another into a record of
   type QV_VINF_BKC. Returns QV_E_NONE or a QV_E_LEGACY_LOAD_... code.
*/

QV_API int save_file(int type, const char* name, VIDINFHDR* vinf);
/*
     Writes a legacy file chosen by type: QV_VINF_IMM, _IMC, _BKG (one frame
   only) or _BKC, to the name as given; or 0: the record's type chooses and
   its extension is appended to name (at most 1019 characters).
     Returns QV_E_NONE, or a QV_E_LEGACY_SAVE_... code.
*/

QV_API int save_imm_file(const char* name, VIDINFHDR* vinf);
QV_API int save_imm_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak, double* progress);
/*
     Write an IMM file. The Ex form takes a user break and a progress value
   (each may be NULL). Return QV_E_NONE or a QV_E_LEGACY_SAVE_... code.
*/

QV_API int save_imc_file(const char* name, VIDINFHDR* vinf);
QV_API int save_imc_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak, double* progress);
QV_API int save_bkc_file(const char* name, VIDINFHDR* vinf);
QV_API int save_bkc_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak, double* progress);
/*
     Write an IMC or BKC file (the same bytes under either name). The Ex
   forms take a user break and a progress value (each may be NULL). Return
   QV_E_NONE or a QV_E_LEGACY_SAVE_... code.
*/

QV_API int save_bkg_file(const char* name, VIDINFHDR* vinf);
/*
     Writes a BKG file from a record of exactly one frame.
   Returns QV_E_NONE or a QV_E_LEGACY_SAVE_... code.
*/

QV_API int load_bmp_file(const char* name, VIDINFHDR* vinf, int keepIndices);
/*
     Reads an uncompressed 8- or 24-bit BMP file into a one-frame 8-bit
   record of type QV_VINF_BMP. Colour pixels become grey; the palette
   indices of an 8-bit image are kept as pixels when keepIndices is non-zero,
   else mapped through the palette to grey.
     Returns QV_E_NONE or a QV_E_LEGACY_LOAD_... code.
*/

/* Colour palettes of save_bmp_files and QVV3_INTERNAL_qvCreateColourTable */
#define QV_PALETTE_GREY 0
#define QV_PALETTE_BLUE_GREEN_RED 1       /* black, blue, green, red, white */
#define QV_PALETTE_BLUE_CYAN_YELLOW_RED 2 /* dark blue .. dark red, white */

/* Digits codes of save_bmp_files: how the frame number is written */
#define QV_BMP_DIGITS_ANY 0 /* "%d" */
#define QV_BMP_DIGITS_2 1   /* "%02d" */
#define QV_BMP_DIGITS_3 2   /* "%03d" */
#define QV_BMP_DIGITS_4 3   /* "%04d" */

QV_API int save_bmp_files(const char* name, VIDINFHDR* vinf, int palette, int digitsCode);
/*
     Writes every frame of an 8-bit record as an 8-bit BMP file named name,
   the frame number (from 1, written as digitsCode says) and ".bmp", with
   the colour palette QV_PALETTE_*. Frame files written before a failure
   stay.
     Returns QV_E_NONE or a QV_E_LEGACY_SAVE_... code
   (QV_E_LEGACY_SAVE_BMP_ARGUMENT, QV_E_LEGACY_SAVE_BMP_DEPTH).
*/

QV_API int qvBunchToVIDINFHDR(QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV);
QV_API int qvBunchToVIDINFHDREx(QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV, int aiLowMemoryConsumption,
                                int* apiOutBunchIntact);
QV_API int qvBunchToVIDINFHDREx2(QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV, char* asOutErrorString,
                                 unsigned int aiOutErrorStringSize, int aiLowMemoryConsumption,
                                 int* apiOutBunchIntact);
/*
     Convert a sequence of GRAY images (1 or 2 bytes per pixel, equal x and
   y scales) into a record of type QV_VINF_IMM holding copies of the frames
   (the area of interest, if any). aV (out) is overwritten without being
   released: pass an empty record, and release the result with
   free_vidinfhdr. aiLowMemoryConsumption 1 frees each image's frame buffer
   once copied and then the whole bunch (also when a failure follows the
   first copy); 0 leaves the bunch unchanged. apiOutBunchIntact (out, may
   be NULL) receives 1 when the bunch is unchanged, 0 when it was released.
   asOutErrorString (out, may be NULL) receives the reason on failure, cut
   to aiOutErrorStringSize - 1 characters. qvBunchToVIDINFHDR is the form
   with mode 0 and neither output, qvBunchToVIDINFHDREx the form without
   the reason.
     Return 1 done; 0 an argument is NULL or aiLowMemoryConsumption is not
   0 or 1; -1 the bunch is no sequence; -2 not convertible (format, bytes
   per pixel, scales, frame size); -3 out of memory. On failure aV is not
   touched.
*/

/* ======================================================================== */
/* Image processing                                                         */
/* ======================================================================== */

/*
  JPEG frames are decoded into GRAY (1 byte per pixel) or RGB (3 bytes per
  pixel) frames of the size the header gives. The filters work in place on
  legacy records of 8, 16 or 32 bits per pixel.
*/

QV_API int qvDecompressImage(DIMAGE* apOutImage, DIMAGE* apInImage);
/*
     Decodes the JPEG image apInImage into a new frame buffer: apOutImage
   (out) receives the header of apInImage with the decoded format,
   LOSSLESS cleared, and the new buffer. Its previous frameBuffer is
   overwritten, not freed: pass a record without a buffer of its own. The
   new buffer comes from malloc and belongs to the caller: free() releases
   it, as does qvFreeBunch once the record is in a bunch. apInImage is not
   changed.
     Returns 1 decoded; 0 not JPEG, nothing done; -1 out of memory;
   -2 decoding failed (not JPEG data, an unsupported colour layout, or more
   pixels than the header allows); -3 an argument is NULL.
*/

QV_API int qvDecompressImageInPlace(DIMAGE* apImage);
/*
     Decodes a JPEG image into its own frame buffer, which must hold the
   decoded frame.
     Returns 1 decoded; 0 not JPEG; -1 out of memory; -2 decoding failed,
   the image is unchanged; -3 apImage NULL; -4 frameBufferSize too small.
*/

QV_API int qvDecompressSequence(QVBUNCHOFIMAGES* apImages, int aiReleaseCompressed);
/*
     Decodes every JPEG image of a bunch in place of the original, passing
   other images over. aiReleaseCompressed 1 frees the JPEG buffers; with 0
   the bunch no longer points to them and the caller frees them through
   pointers of its own.
     Returns 1 all done; 0 apImages NULL or empty; -1 an image failed (those
   before it are decoded, the rest unchanged).
*/

QV_API int normalizeframes(VIDINFHDR* vinf);
/*
     Same as normalizeframes_rect over the whole frame; -1 for vinf NULL.
*/

QV_API int normalizeframes_rect(VIDINFHDR* vinf, unsigned int x1, unsigned int y1, unsigned int x2,
                                unsigned int y2);
/*
     Stretches every frame so that its brightest pixel in the inclusive
   rectangle (x1, y1)-(x2, y2) (either corner first) reaches 2^ebpp - 1;
   only pixels inside the rectangle change.
     Returns 0; -1 vinf NULL or empty, bpp not 8, 16 or 32, frames missing,
   or the rectangle reaches outside the frame.
*/

QV_API int xrayfilter(VIDINFHDR* vinf);
/*
     Removes isolated bright pixels: a pixel with at least four of its eight
   neighbours below two thirds of its value becomes their mean. The border
   rows and columns stay.
     Returns 0; -1 vinf NULL or empty, width or height below 4, bpp not 8,
   16 or 32, or frames missing.
*/

/* Modes of convert_format towards QV_VINF_BKG */
#define QV_CONVERT_NONE 0    /* other target types, one-frame records */
#define QV_CONVERT_AVERAGE 1 /* average all frames into one */
#define QV_CONVERT_MAXIMUM 2 /* per-pixel maximum of all frames */

QV_API int convert_format(VIDINFHDR* vinf, int newType, int mode);
/*
     Changes the type of a record of type 1..4 to newType QV_VINF_IMM, _IMC,
   _BKG or _BKC. Towards QV_VINF_BKG a record of several frames is reduced
   to one as mode says; otherwise mode must be QV_CONVERT_NONE.
     Returns 0; -1 vinf NULL, of another type or missing frames; -2 newType
   unsupported; -3 mode invalid; -4 mode QV_CONVERT_NONE for several frames
   to BKG; -5 bpp not 8, 16 or 32; -6 out of memory (the record is
   unchanged).
*/

QV_API int calculate_significance_map(VIDINFHDR* seqA, VIDINFHDR* seqB, VIDINFHDR* map,
                                      double factor);
/*
     Compares two sequences of the same shape pixel by pixel and fills the
   empty record map with one frame (type QV_VINF_MAP): 1 where the mean of
   A exceeds the mean of B by no more than factor standard deviations of B,
   else 0. Release map with free_vidinfhdr.
     Returns 0; -1 map NULL or not empty; -2 A has fewer than 2 frames;
   -3 B has fewer than 2 frames; -4 frame counts differ; -5 width, height,
   bpp or ebpp differ; -6 out of memory; -7 bpp not 8, 16 or 32.
*/

QV_API int QVV3_INTERNAL_qvCreateColourTable(unsigned char* apTable, int* apiInOutSize,
                                             int aiPalette, int aiBytesPerPixel,
                                             int aiEffectiveBits);
/*
     Builds a colour table for grey pixels of aiBytesPerPixel (1 or 2)
   bytes with aiEffectiveBits (8..16, at most 8 x aiBytesPerPixel)
   significant bits: one 4-byte entry (red, green, blue, 0) per pixel value,
   256 or 65536 entries; values above the effective range are magenta.
   aiPalette is QV_PALETTE_*. *apiInOutSize (in/out) is the capacity of
   apTable in bytes; on success and on -2 it becomes the size needed.
     Returns the number of entries; -1 a pointer NULL or an argument out of
   range; -2 apTable too small.
*/

QV_API int QVV3_INTERNAL_qvGrayToRGB24(const unsigned char* apSource, int aiSourceLength,
                                       unsigned char* apDestination, int* apiInOutSize,
                                       const unsigned char* apTable, int aiBytesPerPixel,
                                       int aiPixelCount);
/*
     Maps aiPixelCount grey pixels (aiBytesPerPixel 1 or 2 bytes each,
   little-endian) through a colour table of the same bytes per pixel into
   3-byte RGB pixels. *apiInOutSize (in/out) is the capacity of
   apDestination; on success and on -2 it becomes 3 x aiPixelCount.
     Returns 0; -1 a pointer NULL, an argument out of range or aiSourceLength
   too short; -2 apDestination too small.
*/

/* ======================================================================== */
/* System list: image sources and raw video servers                          */
/* ======================================================================== */

/*
  A system list is the XML file that names a camera system's image sources
  (cameras) and raw video servers. Each call loads and checks the whole file
  afresh; problems are written to standard error whatever the verbosity.
  Call once with NULL arrays to learn the count, then with arrays.
*/

/* Bytes of one name slot and of the TINE context buffer. A name of exactly
   64 characters fills its slot without a terminator. */
#define QV_NAME_SLOT_SIZE 64
#define QV_TINE_CONTEXT_SIZE 64

/* One image source pair: 64-byte name slot, then its 32-bit name id. */
typedef struct QVIMAGESOURCEPAIR {
  char name[64];
  int32_t nameId;
} QVIMAGESOURCEPAIR;

QV_API int qvGetAllImageSourceNames(const char* asSysListPath, char* asNameSlots,
                                    QVIMAGESOURCEPAIR* apPairs, unsigned int* apuiCount);
/*
     Lists the image sources of a system list file in file order.
   asNameSlots (out, may be NULL): *apuiCount slots of QV_NAME_SLOT_SIZE
   bytes; apPairs (out, may be NULL): *apuiCount pairs. *apuiCount (in/out):
   the slots given on input; the names copied on output, or, with both
   arrays NULL, the number of image sources.
     Returns 1; 0 asSysListPath or apuiCount NULL; -1 the file cannot be
   loaded; -2 it cannot be queried.
*/

QV_API int qvGetAllRawVideoServerNames(const char* asSysListPath, char* asTineContext,
                                       char* asNameSlots, unsigned int* apuiCount);
/*
     Lists the raw video servers of a system list file in file order.
   asTineContext (out, may be NULL): QV_TINE_CONTEXT_SIZE bytes for the
   system's TINE context. asNameSlots, *apuiCount: as in
   qvGetAllImageSourceNames (with asNameSlots NULL: the number of servers).
     Returns 1; 0 asSysListPath or apuiCount NULL; -1 the file cannot be
   loaded; -2 it cannot be queried.
*/

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUIVOX3_QUIVOX3_H */
