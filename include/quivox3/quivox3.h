/*
 * quivox3 - shared client library of the camera and video acquisition system.
 *
 * Flat C interface: images (DIMAGE), bunches of images (QVBUNCHOFIMAGES),
 * legacy sequences (VIDINFHDR), grabs over TINE, sequence files, JPEG
 * decoding, filters, colour tables and system list discovery.
 *
 * All integers are 32-bit unless said otherwise. Records handed out by the
 * library are freed through the library (qvFreeImage, qvFreeBunch,
 * free_vidinfhdr).
 */
#ifndef QUIVOX3_QUIVOX3_H
#define QUIVOX3_QUIVOX3_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(QUIVOX3_BUILDING)
#    define QV_API __declspec(dllexport)
#  else
#    define QV_API __declspec(dllimport)
#  endif
#else
#  define QV_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Image records                                                            */
/* ------------------------------------------------------------------------ */

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

/* Flag bits of frameHeader.imageFlags */
#define CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER 0x1u
#define CF_IMAGE_FLAG_IMAGE_LOSSLESS 0x2u
#define CF_IMAGE_FLAG_HORIZONTAL_FLIP_180 0x4u
#define CF_IMAGE_FLAG_VERTICAL_FLIP_180 0x8u
#define CF_IMAGE_FLAG_XYSTART_ONE_BASED 0x10u
#define CF_IMAGE_FLAG_GLOBAL_TIMESTAMP 0x20u
#define CF_IMAGE_FLAG_EVENTNUMBER_OUT_OF_SYNC 0x40u
#define CF_IMAGE_FLAG_TIMESTAMP_EXTRAPOLATED 0x80u
#define CF_IMAGE_FLAG_SCALE_OFFSET 0x100u
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

/* Legacy sequence record (IMM, IMC, BKG, BKC, BMP). */
typedef struct VIDINFHDR {
  int32_t width;
  int32_t height;
  int32_t bpp;  /* bits per stored pixel */
  int32_t ebpp; /* effective bits per pixel */
  double scale;
  int32_t numframes;
  int32_t type; /* -1 empty, 1 IMM, 2 IMC, 3 BKG, 4 BKC, 5 map, 6 BMP */
  unsigned char** framebits; /* numframes frame pointers (malloc) */
  double* framescales;       /* numframes scale factors (malloc) */
} VIDINFHDR;

/* TINE data container; its layout is the TINE client library's own. */
struct DTYPE;
typedef struct DTYPE DTYPE;

/* ------------------------------------------------------------------------ */
/* Runtime: verbosity, library information, time texts                      */
/* ------------------------------------------------------------------------ */

QV_API int qvGetVerbose(void);
QV_API int qvGetVerboseEx(int* apiVerbosity, char* asLogFileName, int* apiSize);
QV_API int qvSetVerbose(int aiLevel);
QV_API int qvSetVerboseEx(int aiLevel, const char* asLogFileName);
QV_API const char* qvLibraryInfoEx(unsigned* vMajor, unsigned* vMinor, unsigned* vSubMinor,
                                   char* buffer, unsigned* buflen);
QV_API const char* qvLibraryInfo(unsigned* vMajor, unsigned* vMinor, char* buffer,
                                 unsigned* buflen);
QV_API char* QVV3_INTERNAL_getTimeString(char* asBuffer, int aiBufferSize);
QV_API char* QVV3_INTERNAL_platformTimeToUTCString(int64_t aiSeconds, int aiFraction,
                                                   int aiMicroseconds, int aiBrackets,
                                                   int aiAmPm, char* asBuffer,
                                                   int aiBufferSize);

/* ------------------------------------------------------------------------ */
/* Images and bunches                                                       */
/* ------------------------------------------------------------------------ */

QV_API DIMAGE* qvInitializeImage(void);
QV_API DIMAGE* qvInitializeImageEx(int aiFrameBufferSizeBytes);
QV_API int qvFreeImage(DIMAGE* apImage);
QV_API int qvInitializeBunchStructure(QVBUNCHOFIMAGES* apImages);
QV_API int qvCreateBunchStructure(QVBUNCHOFIMAGES* apImages, uint32_t auiNumFrames,
                                  uint32_t auiFrameBufferSizeBytes);
QV_API int qvFreeBunch(QVBUNCHOFIMAGES* apImages);

QV_API int qvCheckImageValidity(DIMAGE* apImg, char* asOutErrorString, size_t aiOutErrorStringSize);
QV_API char* QVV3_INTERNAL_CDIMAGE_getFlagsAsString(uint32_t auiFlags, char* asBuffer,
                                                    size_t* apiSize);
QV_API char* QVV3_INTERNAL_CDIMAGE_getFormatAsString(int aiFormat, char* asBuffer,
                                                     size_t* apiSize);
QV_API int qvIsSequence(QVBUNCHOFIMAGES* aImages);
QV_API int qvIsCompleteSequence(QVBUNCHOFIMAGES* aImages);

/* Pixel kind: 0 GRAY 1 byte, 1 GRAY 2 bytes, 2 RGB. Returns TINE codes. */
QV_API int qvGetFrameFromDIMAGE(void* apDestination, int* apiInOutSize, DIMAGE* apImage,
                                int* apiOutWidth, int* apiOutHeight, int* apiOutPixelKind,
                                int* apiOutBytesPerPixel, int* apiOutEffectiveBits,
                                DIMAGE* apOutHeaderCopy);
QV_API int getFrameFromDIMAGE(void* apDestination, int* apiInOutSize, DIMAGE* apImage,
                              int* apiOutWidth, int* apiOutHeight, int* apiOutPixelKind,
                              int* apiOutBytesPerPixel, int* apiOutEffectiveBits,
                              DIMAGE* apOutHeaderCopy);

/* ------------------------------------------------------------------------ */
/* Video transfer over TINE                                                 */
/* ------------------------------------------------------------------------ */

QV_API int qvGrabFrame(DIMAGE* apInOutImage, DTYPE* apDOut, const char* asTineAddress,
                       const char* asTinePropertyName, int aiTineTimeoutMilliseconds,
                       int aiTineMode, int* apiOutTineReturnCode);
QV_API int qvGrabFrames(QVBUNCHOFIMAGES* aImages, const char* aTineAddress,
                        const char* aTinePropertyName, unsigned int aNumFrames,
                        int aTineTimeoutMilliseconds, int aTineMode);
QV_API int qvGrabFramesEx(QVBUNCHOFIMAGES* aImages, const char* aTineAddress,
                          const char* aTinePropertyName, unsigned int aNumFrames,
                          int aTineTimeoutMilliseconds, int aTineMode, int* apiOutError,
                          int* apiOutTineError, int* apiInInterrupt,
                          double* apdOutPercentageFinished);
QV_API int qvGrabFramesEx2(QVBUNCHOFIMAGES* aImages, DTYPE* aImagesDOut,
                           const char* aTineAddress, const char* aTinePropertyName,
                           unsigned int aNumFrames, int aTineTimeoutMilliseconds,
                           int aTineMode, int* apiOutError, int* apiOutTineError,
                           int* apiInInterrupt, double* apdOutPercentageFinished);
QV_API int qvEstimateMaxFrameSizeBytes(const char* asTineAddress, const char* asTinePropertyName);
QV_API int qvTineCodeToString(int aiCode, char* asBuffer, size_t* apiLength);
QV_API int QVV3_INTERNAL_tineCMtoCA(int aiMode, int* apiAccess);
QV_API int QVV3_INTERNAL_tineDecodeModeStringCMnew(const char* asText);
QV_API int QVV3_INTERNAL_tineModeToString(int aiMode, int aiShortForm, char* asBuffer,
                                          size_t* apiLength);

/* ------------------------------------------------------------------------ */
/* Sequence files: IMC2/BKC2 and dispatch to the legacy formats             */
/* ------------------------------------------------------------------------ */

/* 3 IMC2/BKC2, 2 IMC/BKC, 0 IMM, 1 BKG, -1 none */
QV_API int qvCheckFileFormat(const char* asFilePath, char* asOutErrorString,
                             size_t aiOutErrorStringSize);
QV_API int qvLoadImagesFromFile(const char* asFilePath, QVBUNCHOFIMAGES* apImages);
QV_API int qvLoadImagesFromFileEx(const char* asFilePath, QVBUNCHOFIMAGES* apImages,
                                  int* apiInInterrupt, double* apdOutPercentageFinished,
                                  char* asOutErrorString, unsigned int aiOutErrorStringSize);
QV_API int qvSaveImagesToFile(QVBUNCHOFIMAGES* apImages, const char* asFilePath);
QV_API int qvSaveImagesToFileEx(QVBUNCHOFIMAGES* apImages, const char* asFilePath,
                                char* asOutErrorString, unsigned int aiOutErrorStringSize,
                                int* apiInInterrupt, double* apdOutPercentageFinished);

/* ------------------------------------------------------------------------ */
/* Legacy sequences and files                                               */
/* ------------------------------------------------------------------------ */

QV_API void initialize_vidinfhdr(VIDINFHDR* vinf);
QV_API void free_vidinfhdr(VIDINFHDR* vinf);
QV_API const char* load_file__return_code_to_string(int code, char* buffer, int length);

QV_API int load_file(int type, const char* name, VIDINFHDR* vinf);
QV_API int load_imm_file(const char* name, VIDINFHDR* vinf);
QV_API int load_imc_file(const char* name, VIDINFHDR* vinf);
QV_API int load_bkc_file(const char* name, VIDINFHDR* vinf);
QV_API int load_imc_bkc_file(const char* name, VIDINFHDR* vinf, int type);
QV_API int load_bkg_file(const char* name, VIDINFHDR* vinf);
QV_API int load_bkg_file_arb(const char* name, VIDINFHDR* vinf);
QV_API int save_file(int type, const char* name, VIDINFHDR* vinf);
QV_API int save_imm_file(const char* name, VIDINFHDR* vinf);
QV_API int save_imm_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak, double* progress);
QV_API int save_imc_file(const char* name, VIDINFHDR* vinf);
QV_API int save_imc_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak, double* progress);
QV_API int save_bkc_file(const char* name, VIDINFHDR* vinf);
QV_API int save_bkc_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak, double* progress);
QV_API int save_bkg_file(const char* name, VIDINFHDR* vinf);

QV_API int load_bmp_file(const char* name, VIDINFHDR* vinf, int keepIndices);
QV_API int save_bmp_files(const char* name, VIDINFHDR* vinf, int palette, int digitsCode);

QV_API int qvBunchToVIDINFHDR(QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV);
QV_API int qvBunchToVIDINFHDREx(QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV,
                                int aiLowMemoryConsumption, int* apiOutBunchIntact);
QV_API int qvBunchToVIDINFHDREx2(QVBUNCHOFIMAGES* aImages, VIDINFHDR* aV, char* asOutErrorString,
                                 unsigned int aiOutErrorStringSize, int aiLowMemoryConsumption,
                                 int* apiOutBunchIntact);

/* ------------------------------------------------------------------------ */
/* Image processing                                                         */
/* ------------------------------------------------------------------------ */

QV_API int qvDecompressImage(DIMAGE* apOutImage, DIMAGE* apInImage);
QV_API int qvDecompressImageInPlace(DIMAGE* apImage);
QV_API int qvDecompressSequence(QVBUNCHOFIMAGES* apImages, int aiReleaseCompressed);

QV_API int normalizeframes(VIDINFHDR* vinf);
QV_API int normalizeframes_rect(VIDINFHDR* vinf, unsigned int x1, unsigned int y1,
                                unsigned int x2, unsigned int y2);
QV_API int xrayfilter(VIDINFHDR* vinf);
QV_API int convert_format(VIDINFHDR* vinf, int newType, int mode);
QV_API int calculate_significance_map(VIDINFHDR* seqA, VIDINFHDR* seqB, VIDINFHDR* map,
                                      double factor);

QV_API int QVV3_INTERNAL_qvCreateColourTable(unsigned char* apTable, int* apiInOutSize,
                                             int aiPalette, int aiBytesPerPixel,
                                             int aiEffectiveBits);
QV_API int QVV3_INTERNAL_qvGrayToRGB24(const unsigned char* apSource, int aiSourceLength,
                                       unsigned char* apDestination, int* apiInOutSize,
                                       const unsigned char* apTable, int aiBytesPerPixel,
                                       int aiPixelCount);

/* ------------------------------------------------------------------------ */
/* System list: image sources and raw video servers                          */
/* ------------------------------------------------------------------------ */

/* One image source pair: 64-byte name slot, then its 32-bit name id. */
typedef struct QVIMAGESOURCEPAIR {
  char name[64];
  int32_t nameId;
} QVIMAGESOURCEPAIR;

QV_API int qvGetAllImageSourceNames(const char* asSysListPath, char* asNameSlots,
                                    QVIMAGESOURCEPAIR* apPairs, unsigned int* apuiCount);
QV_API int qvGetAllRawVideoServerNames(const char* asSysListPath, char* asTineContext,
                                       char* asNameSlots, unsigned int* apuiCount);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUIVOX3_QUIVOX3_H */
