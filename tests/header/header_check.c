/* Uses the public header the way a C application does: its version macros,
   named constants and records. The same source is compiled as C99, C11 and
   C++17 with every warning an error; the C99 build also runs against the
   library and checks that the constants mean what the calls return.

   Usage: header_check DIRECTORY [sim]
   DIRECTORY receives the files it writes; "sim" adds grabs from the default
   server of the stand-in TINE library. */
#include <quivox3/quivox3.h>
#include <quivox3/quivox3.h> /* the include guard holds */

#include <stddef.h>
#include <stdio.h>
#include <string.h>

/* ---- what the preprocessor and the compiler can tell -------------------- */

#if defined(QV_EXPECTED_MAJOR) && defined(QV_EXPECTED_MINOR) && defined(QV_EXPECTED_PATCH)
#if QUIVOX3_VERSION_MAJOR != QV_EXPECTED_MAJOR || QUIVOX3_VERSION_MINOR != QV_EXPECTED_MINOR || \
    QUIVOX3_VERSION_PATCH != QV_EXPECTED_PATCH
#error "the version macros differ from the project's version"
#endif
#endif

/* Constants are usable in #if, negative ones included. */
#if (QV_CM_TIMER | QV_CM_CONNECT) != 0x2003 || QV_CM_EVENT != 6 || QV_CA_READ != 1
#error "call modes or access codes changed"
#endif
#if QV_E_SAVE_FILE_EXISTS != -14 || QV_E_LOAD_ARGUMENT != -1 || QV_E_GRAB_INTERRUPTED != -7
#error "file or grab codes changed"
#endif
#if QV_FILE_UNKNOWN != -1 || QV_FILE_IMM != 0 || QV_FILE_BKG != 1 || QV_FILE_IMC != 2 || \
    QV_FILE_IMC2 != 3
#error "file types changed"
#endif
/* The IMC2/BKC2 writer and the legacy writers share the codes whose
   meaning overlaps. */
#if QV_E_SAVE_CREATE != QV_E_LEGACY_SAVE_CREATE || QV_E_SAVE_WRITE != QV_E_LEGACY_SAVE_WRITE || \
    QV_E_SAVE_NO_MEMORY != QV_E_LEGACY_SAVE_NO_MEMORY ||                                        \
    QV_E_SAVE_COMPRESSION != QV_E_LEGACY_SAVE_COMPRESSION ||                                    \
    QV_E_SAVE_INTERRUPTED != QV_E_LEGACY_SAVE_USER_BREAK
#error "shared writer codes differ"
#endif

/* Record layout (a negative array size stops the compiler). */
typedef char check_header_size[sizeof(IMAGEHEADER) == QV_HDR_IMAGE_SIZE ? 1 : -1];
typedef char check_dimage_size[sizeof(DIMAGE) == QV_DIMAGE_SIZE ? 1 : -1];
typedef char check_buffer_offset[offsetof(DIMAGE, frameBufferSize) == QV_HDR_IMAGE_SIZE ? 1 : -1];
typedef char check_frame_header[offsetof(DIMAGE, frameHeader) == 88 ? 1 : -1];
typedef char check_appended[offsetof(FRAMEHEADER, appendedFrameSize) == 184 - 88 ? 1 : -1];
typedef char check_pair_size[sizeof(QVIMAGESOURCEPAIR) == QV_NAME_SLOT_SIZE + 4 ? 1 : -1];

/* Each family is one switch: two constants of one family with the same value
   would be duplicate case labels. */
static const char* fileTypeName(int code) {
  switch (code) {
    case QV_FILE_UNKNOWN:
      return "unknown";
    case QV_FILE_IMM:
      return "IMM";
    case QV_FILE_BKG:
      return "BKG";
    case QV_FILE_IMC:
      return "IMC/BKC";
    case QV_FILE_IMC2:
      return "IMC2/BKC2";
    default:
      return "?";
  }
}

static const char* loadCodeName(int code) {
  switch (code) {
    case QV_E_NONE:
      return "QV_E_NONE";
    case QV_E_LOAD_ARGUMENT:
      return "QV_E_LOAD_ARGUMENT";
    case QV_E_LOAD_INVALID_IMAGE:
      return "QV_E_LOAD_INVALID_IMAGE";
    case QV_E_LOAD_NOT_IMC2:
      return "QV_E_LOAD_NOT_IMC2";
    case QV_E_LOAD_OPEN:
      return "QV_E_LOAD_OPEN";
    case QV_E_LOAD_READ:
      return "QV_E_LOAD_READ";
    case QV_E_LOAD_METADATA:
      return "QV_E_LOAD_METADATA";
    case QV_E_LOAD_NO_MEMORY:
      return "QV_E_LOAD_NO_MEMORY";
    case QV_E_LOAD_DECOMPRESSION:
      return "QV_E_LOAD_DECOMPRESSION";
    case QV_E_LOAD_INTERRUPTED:
      return "QV_E_LOAD_INTERRUPTED";
    case QV_E_LOAD_LENGTH:
      return "QV_E_LOAD_LENGTH";
    case QV_E_LOAD_IMM:
      return "QV_E_LOAD_IMM";
    case QV_E_LOAD_BKG:
      return "QV_E_LOAD_BKG";
    case QV_E_LOAD_IMC:
      return "QV_E_LOAD_IMC";
    case QV_E_LOAD_CONVERSION:
      return "QV_E_LOAD_CONVERSION";
    default:
      return "?";
  }
}

/* Everything qvSaveImagesToFileEx can return. */
static const char* saveCodeName(int code) {
  switch (code) {
    case QV_E_NONE:
      return "QV_E_NONE";
    case QV_E_LEGACY_SAVE_FRAMES:
      return "QV_E_LEGACY_SAVE_FRAMES";
    case QV_E_LEGACY_SAVE_TYPE:
      return "QV_E_LEGACY_SAVE_TYPE";
    case QV_E_LEGACY_SAVE_RECORD:
      return "QV_E_LEGACY_SAVE_RECORD";
    case QV_E_SAVE_CREATE:
      return "QV_E_SAVE_CREATE";
    case QV_E_SAVE_WRITE:
      return "QV_E_SAVE_WRITE";
    case QV_E_SAVE_NO_MEMORY:
      return "QV_E_SAVE_NO_MEMORY";
    case QV_E_SAVE_COMPRESSION:
      return "QV_E_SAVE_COMPRESSION";
    case QV_E_LEGACY_SAVE_NAME_TOO_LONG:
      return "QV_E_LEGACY_SAVE_NAME_TOO_LONG";
    case QV_E_SAVE_INTERRUPTED:
      return "QV_E_SAVE_INTERRUPTED";
    case QV_E_SAVE_ARGUMENT:
      return "QV_E_SAVE_ARGUMENT";
    case QV_E_SAVE_NOT_SEQUENCE:
      return "QV_E_SAVE_NOT_SEQUENCE";
    case QV_E_SAVE_FILE_EXISTS:
      return "QV_E_SAVE_FILE_EXISTS";
    case QV_E_SAVE_METADATA:
      return "QV_E_SAVE_METADATA";
    case QV_E_SAVE_CONVERSION:
      return "QV_E_SAVE_CONVERSION";
    default:
      return "?";
  }
}

static const char* legacyLoadName(int code) {
  switch (code) {
    case QV_E_NONE:
      return "QV_E_NONE";
    case QV_E_LEGACY_LOAD_EXTENSION:
      return "QV_E_LEGACY_LOAD_EXTENSION";
    case QV_E_LEGACY_LOAD_TYPE:
      return "QV_E_LEGACY_LOAD_TYPE";
    case QV_E_LEGACY_LOAD_OPEN:
      return "QV_E_LEGACY_LOAD_OPEN";
    case QV_E_LEGACY_LOAD_CONTENT:
      return "QV_E_LEGACY_LOAD_CONTENT";
    case QV_E_LEGACY_LOAD_READ:
      return "QV_E_LEGACY_LOAD_READ";
    case QV_E_LEGACY_LOAD_NOT_EMPTY:
      return "QV_E_LEGACY_LOAD_NOT_EMPTY";
    case QV_E_LEGACY_LOAD_NO_MEMORY:
      return "QV_E_LEGACY_LOAD_NO_MEMORY";
    case QV_E_LEGACY_LOAD_DECOMPRESSION:
      return "QV_E_LEGACY_LOAD_DECOMPRESSION";
    case QV_E_LEGACY_LOAD_USER_BREAK:
      return "QV_E_LEGACY_LOAD_USER_BREAK";
    case QV_E_LEGACY_LOAD_BMP_ARGUMENT:
      return "QV_E_LEGACY_LOAD_BMP_ARGUMENT";
    default:
      return "?";
  }
}

static const char* grabErrorName(int code) {
  switch (code) {
    case QV_E_NONE:
      return "QV_E_NONE";
    case QV_E_GRAB_ARGUMENT:
      return "QV_E_GRAB_ARGUMENT";
    case QV_E_GRAB_TIMEOUT:
      return "QV_E_GRAB_TIMEOUT";
    case QV_E_GRAB_NO_MEMORY:
      return "QV_E_GRAB_NO_MEMORY";
    case QV_E_GRAB_ATTACH:
      return "QV_E_GRAB_ATTACH";
    case QV_E_GRAB_INTERRUPTED:
      return "QV_E_GRAB_INTERRUPTED";
    default:
      return "?";
  }
}

static const char* singleGrabName(int code) {
  switch (code) {
    case 1:
      return "frame";
    case 0:
      return "argument";
    case QV_E_SINGLE_GRAB_TIMEOUT:
      return "QV_E_SINGLE_GRAB_TIMEOUT";
    case QV_E_SINGLE_GRAB_INVALID_IMAGE:
      return "QV_E_SINGLE_GRAB_INVALID_IMAGE";
    case QV_E_SINGLE_GRAB_PROPERTY:
      return "QV_E_SINGLE_GRAB_PROPERTY";
    case QV_E_SINGLE_GRAB_ADDRESS:
      return "QV_E_SINGLE_GRAB_ADDRESS";
    default:
      return "?";
  }
}

static const char* copyCodeName(int code) {
  switch (code) {
    case QV_E_NONE:
      return "QV_E_NONE";
    case QV_E_COPY_NULL_ARGUMENT:
      return "QV_E_COPY_NULL_ARGUMENT";
    case QV_E_COPY_BUFFER_TOO_SMALL:
      return "QV_E_COPY_BUFFER_TOO_SMALL";
    case QV_E_COPY_UNSUPPORTED:
      return "QV_E_COPY_UNSUPPORTED";
    case QV_E_COPY_DECOMPRESSION:
      return "QV_E_COPY_DECOMPRESSION";
    default:
      return "?";
  }
}

static const char* modeCodeName(int code) {
  switch (code) {
    case QV_E_MODE_TOO_LONG:
      return "QV_E_MODE_TOO_LONG";
    case QV_E_MODE_EMPTY:
      return "QV_E_MODE_EMPTY";
    case QV_E_MODE_UNKNOWN:
      return "QV_E_MODE_UNKNOWN";
    case QV_E_MODE_CONFLICT:
      return "QV_E_MODE_CONFLICT";
    case QV_E_MODE_NO_BASE:
      return "QV_E_MODE_NO_BASE";
    default:
      return code >= 0 ? "mode" : "?";
  }
}

static const char* vinfTypeName(int type) {
  switch (type) {
    case QV_VINF_EMPTY:
      return "empty";
    case QV_VINF_IMM:
      return "IMM";
    case QV_VINF_IMC:
      return "IMC";
    case QV_VINF_BKG:
      return "BKG";
    case QV_VINF_BKC:
      return "BKC";
    case QV_VINF_MAP:
      return "map";
    case QV_VINF_BMP:
      return "BMP";
    default:
      return "?";
  }
}

static const char* pixelKindName(int kind) {
  switch (kind) {
    case QV_PIXEL_GRAY8:
      return "GRAY8";
    case QV_PIXEL_GRAY16:
      return "GRAY16";
    case QV_PIXEL_RGB24:
      return "RGB24";
    default:
      return "?";
  }
}

/* ---- checks at run time ------------------------------------------------- */

static int g_passed = 0;
static int g_failed = 0;

static void expectInt(const char* what, int got, int expected, const char* (*name)(int)) {
  if (got == expected) {
    ++g_passed;
    return;
  }
  ++g_failed;
  if (name != NULL)
    printf("FAILED %s: %d (%s), expected %d (%s)\n", what, got, name(got), expected,
           name(expected));
  else
    printf("FAILED %s: %d, expected %d\n", what, got, expected);
}

static void expectText(const char* what, const char* got, const char* expected) {
  if (got != NULL && strcmp(got, expected) == 0) {
    ++g_passed;
    return;
  }
  ++g_failed;
  printf("FAILED %s: \"%s\", expected \"%s\"\n", what, got != NULL ? got : "(null)", expected);
}

#define TEST_WIDTH 64
#define TEST_HEIGHT 48
#define TEST_FRAME_BYTES (TEST_WIDTH * TEST_HEIGHT)
#define TEST_FRAMES 3

/* A valid GRAY image of one byte per pixel, frame number n. */
static void fillGrayImage(DIMAGE* img, uint32_t n) {
  int i;
  memset(img, 0, offsetof(DIMAGE, frameBufferSize));
  img->sourceHeader.baseTag = QV_BASE_TAG;
  img->sourceHeader.versionTag = 1;
  img->sourceHeader.totalLength = QV_HDR_IMAGE_SIZE + TEST_FRAME_BYTES;
  img->sourceHeader.timestampSeconds = 1690380185u + n;
  strcpy(img->sourceHeader.cameraPortName, "header check");
  img->frameHeader.sourceWidth = TEST_WIDTH;
  img->frameHeader.sourceHeight = TEST_HEIGHT;
  img->frameHeader.aoiWidth = -1;
  img->frameHeader.aoiHeight = -1;
  img->frameHeader.bytesPerPixel = 1;
  img->frameHeader.effectiveBitsPerPixel = 8;
  img->frameHeader.horizontalBinning = 1;
  img->frameHeader.verticalBinning = 1;
  img->frameHeader.sourceFormat = CF_IMAGE_FORMAT_GRAY;
  img->frameHeader.imageFormat = CF_IMAGE_FORMAT_GRAY;
  img->frameHeader.frameNumber = n;
  img->frameHeader.eventNumber = n;
  img->frameHeader.xScale = 0.25f;
  img->frameHeader.yScale = 0.25f;
  img->frameHeader.imageFlags =
      CF_IMAGE_FLAG_LITTLE_ENDIAN_BYTE_ORDER | CF_IMAGE_FLAG_IMAGE_LOSSLESS;
  img->frameHeader.appendedFrameSize = TEST_FRAME_BYTES;
  for (i = 0; i < TEST_FRAME_BYTES; ++i) img->frameBuffer[i] = (uint8_t)((i + (int)n) & 0xFF);
}

static const char* g_directory = ".";

static const char* pathOf(char* buffer, size_t size, const char* name) {
  snprintf(buffer, size, "%s/%s", g_directory, name);
  remove(buffer); /* a rerun starts afresh */
  return buffer;
}

static int fileExists(const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) return 0;
  fclose(file);
  return 1;
}

static void checkVersionAndRuntime(void) {
  unsigned major = 99, minor = 99, patch = 99, length = 256;
  char info[256];
  char numbers[32];
  const char* text = qvLibraryInfoEx(&major, &minor, &patch, info, &length);
  expectInt("qvLibraryInfoEx major", (int)major, QUIVOX3_VERSION_MAJOR, NULL);
  expectInt("qvLibraryInfoEx minor", (int)minor, QUIVOX3_VERSION_MINOR, NULL);
  expectInt("qvLibraryInfoEx patch", (int)patch, QUIVOX3_VERSION_PATCH, NULL);
  expectInt("qvLibraryInfoEx buflen", (int)length, QV_LIBRARY_INFO_SIZE, NULL);
  snprintf(numbers, sizeof numbers, "%u.%u.%u", major, minor, patch);
  expectText("QUIVOX3_VERSION_STRING", QUIVOX3_VERSION_STRING, numbers);
  expectInt("banner names the version",
            text != NULL && strstr(text, "v" QUIVOX3_VERSION_STRING) != NULL, 1, NULL);

  expectInt("qvSetVerbose(QV_VERBOSE_FILE) needs a name", qvSetVerbose(QV_VERBOSE_FILE), 0, NULL);
  expectInt("qvSetVerbose(QV_VERBOSE_OFF)", qvSetVerbose(QV_VERBOSE_OFF), 1, NULL);
  expectInt("qvGetVerbose", qvGetVerbose(), QV_VERBOSE_OFF, NULL);
  {
    char name[QV_LOG_FILE_NAME_SIZE];
    char stamp[QV_TIME_STRING_SIZE];
    int verbosity = -1, size = (int)sizeof name;
    expectInt("qvGetVerboseEx", qvGetVerboseEx(&verbosity, name, &size), 1, NULL);
    expectInt("qvGetVerboseEx verbosity", verbosity, QV_VERBOSE_OFF, NULL);
    expectInt("QVV3_INTERNAL_getTimeString fits QV_TIME_STRING_SIZE",
              QVV3_INTERNAL_getTimeString(stamp, QV_TIME_STRING_SIZE) == stamp, 1, NULL);
  }
}

static void checkModes(void) {
  int access = -1;
  char text[64];
  size_t length = sizeof text;
  expectInt("decode TIMER|CONNECT", QVV3_INTERNAL_tineDecodeModeStringCMnew("TIMER|CONNECT"),
            QV_CM_TIMER | QV_CM_CONNECT, modeCodeName);
  expectInt("decode CM_EVENT,CM_SYNCNOTIFY",
            QVV3_INTERNAL_tineDecodeModeStringCMnew("CM_EVENT,CM_SYNCNOTIFY"),
            QV_CM_EVENT | QV_CM_SYNCNOTIFY, modeCodeName);
  expectInt("decode EVENT TIMER", QVV3_INTERNAL_tineDecodeModeStringCMnew("EVENT TIMER"),
            QV_E_MODE_CONFLICT, modeCodeName);
  expectInt("decode empty", QVV3_INTERNAL_tineDecodeModeStringCMnew(" | "), QV_E_MODE_EMPTY,
            modeCodeName);
  expectInt("decode TIMER FOO", QVV3_INTERNAL_tineDecodeModeStringCMnew("TIMER FOO"),
            QV_E_MODE_UNKNOWN, modeCodeName);
  expectInt("decode SYNCNOTIFY", QVV3_INTERNAL_tineDecodeModeStringCMnew("SYNCNOTIFY"),
            QV_E_MODE_NO_BASE, modeCodeName);
  expectInt("CMtoCA(TIMER|STREAM)", QVV3_INTERNAL_tineCMtoCA(QV_CM_TIMER | QV_CM_STREAM, &access),
            1, NULL);
  expectInt("access of TIMER|STREAM", access, QV_CA_READ | QV_CA_STREAM, NULL);
  expectInt("CMtoCA(TIMER|MCAST|CONNECT)",
            QVV3_INTERNAL_tineCMtoCA(QV_CM_TIMER | QV_CM_MCAST | QV_CM_CONNECT, &access), 0, NULL);
  expectInt("modeToString",
            QVV3_INTERNAL_tineModeToString(QV_CM_TIMER | QV_CM_CONNECT, 1, text, &length), 1, NULL);
  expectText("modeToString text", text, "TIMER|CONNECT");
  expectInt("base of EVENT|SYNCNOTIFY", (QV_CM_EVENT | QV_CM_SYNCNOTIFY) & QV_CM_BASE_MASK,
            QV_CM_EVENT, NULL);
}

/* Images, sequences, copy-out, names. */
static void checkImages(QVBUNCHOFIMAGES* bunch) {
  uint8_t pixels[TEST_FRAME_BYTES];
  int size = TEST_FRAME_BYTES - 1, width = 0, height = 0, kind = -1;
  char words[181];
  char format[32];
  size_t wordsSize = sizeof words, formatSize = sizeof format;
  uint32_t i;

  expectInt("qvCreateBunchStructure", qvCreateBunchStructure(bunch, TEST_FRAMES, TEST_FRAME_BYTES),
            1, NULL);
  for (i = 0; i < TEST_FRAMES; ++i) fillGrayImage(&bunch->imageArray[i], i + 1);
  expectInt("qvCheckImageValidity", qvCheckImageValidity(&bunch->imageArray[0], NULL, 0), 1, NULL);
  expectInt("qvIsSequence", qvIsSequence(bunch), 1, NULL);
  expectInt("qvIsCompleteSequence", qvIsCompleteSequence(bunch), 1, NULL);

  expectInt("copy-out into a small buffer",
            qvGetFrameFromDIMAGE(pixels, &size, &bunch->imageArray[0], NULL, NULL, NULL, NULL, NULL,
                                 NULL),
            QV_E_COPY_BUFFER_TOO_SMALL, copyCodeName);
  expectInt(
      "copy-out without a destination",
      qvGetFrameFromDIMAGE(NULL, &size, &bunch->imageArray[0], NULL, NULL, NULL, NULL, NULL, NULL),
      QV_E_COPY_NULL_ARGUMENT, copyCodeName);
  size = (int)sizeof pixels;
  expectInt("copy-out",
            qvGetFrameFromDIMAGE(pixels, &size, &bunch->imageArray[0], &width, &height, &kind, NULL,
                                 NULL, NULL),
            QV_E_NONE, copyCodeName);
  expectInt("copy-out pixel kind", kind, QV_PIXEL_GRAY8, pixelKindName);
  expectInt("copy-out geometry", width * height, TEST_FRAME_BYTES, NULL);

  expectText("flag words",
             QVV3_INTERNAL_CDIMAGE_getFlagsAsString(bunch->imageArray[0].frameHeader.imageFlags,
                                                    words, &wordsSize),
             "LITTLE_ENDIAN LOSSLESS XYSTART_ZERO_BASED LOCAL_TIMESTAMP");
  expectText("format name",
             QVV3_INTERNAL_CDIMAGE_getFormatAsString(CF_IMAGE_FORMAT_BAYER, format, &formatSize),
             "BAYER");
}

static void checkFiles(QVBUNCHOFIMAGES* bunch) {
  char imc2[512], imm[512], imc[512], bkg[512], bkgMany[512], text[512], missing[512];
  char bmp[512], bmpFile[512];
  char reason[256];
  QVBUNCHOFIMAGES loaded, first;
  FILE* file;

  first.imageArray = bunch->imageArray;
  first.numFrames = 1;
  pathOf(imc2, sizeof imc2, "sequence.imc2");
  pathOf(imm, sizeof imm, "sequence.imm");
  pathOf(imc, sizeof imc, "sequence.imc");
  pathOf(bkg, sizeof bkg, "first.bkg");
  pathOf(bkgMany, sizeof bkgMany, "many.bkg");
  pathOf(text, sizeof text, "text.dat");
  pathOf(missing, sizeof missing, "missing.imc2");

  expectInt("save IMC2", qvSaveImagesToFileEx(bunch, imc2, reason, sizeof reason, NULL, NULL),
            QV_E_NONE, saveCodeName);
  expectInt("save IMC2 again", qvSaveImagesToFile(bunch, imc2), QV_E_SAVE_FILE_EXISTS,
            saveCodeName);
  expectInt("save without bunch", qvSaveImagesToFile(NULL, imc2), QV_E_SAVE_ARGUMENT, saveCodeName);
  expectInt("save IMM", qvSaveImagesToFile(bunch, imm), QV_E_NONE, saveCodeName);
  expectInt("save IMC", qvSaveImagesToFile(bunch, imc), QV_E_NONE, saveCodeName);
  expectInt("save BKG", qvSaveImagesToFile(&first, bkg), QV_E_NONE, saveCodeName);
  expectInt("save three frames as BKG", qvSaveImagesToFile(bunch, bkgMany), QV_E_LEGACY_SAVE_FRAMES,
            saveCodeName);

  expectInt("type of IMC2", qvCheckFileFormat(imc2, NULL, 0), QV_FILE_IMC2, fileTypeName);
  expectInt("type of IMM", qvCheckFileFormat(imm, NULL, 0), QV_FILE_IMM, fileTypeName);
  expectInt("type of IMC", qvCheckFileFormat(imc, NULL, 0), QV_FILE_IMC, fileTypeName);
  expectInt("type of BKG", qvCheckFileFormat(bkg, NULL, 0), QV_FILE_BKG, fileTypeName);
  expectInt("type of a missing file", qvCheckFileFormat(missing, reason, sizeof reason),
            QV_FILE_UNKNOWN, fileTypeName);

  qvInitializeBunchStructure(&loaded);
  expectInt("load into a filled bunch", qvLoadImagesFromFile(imc2, bunch), QV_E_LOAD_ARGUMENT,
            loadCodeName);
  expectInt("load IMC2", qvLoadImagesFromFileEx(imc2, &loaded, NULL, NULL, reason, sizeof reason),
            QV_E_NONE, loadCodeName);
  expectInt("images loaded", (int)loaded.numFrames, TEST_FRAMES, NULL);
  qvFreeBunch(&loaded);
  expectInt("load IMC", qvLoadImagesFromFile(imc, &loaded), QV_E_NONE, loadCodeName);
  qvFreeBunch(&loaded);
  expectInt("load a missing file", qvLoadImagesFromFile(missing, &loaded), QV_E_LOAD_OPEN,
            loadCodeName);
  file = fopen(text, "wb");
  if (file != NULL) {
    fputs("abcdefgh", file);
    fclose(file);
  }
  expectInt("load a text file", qvLoadImagesFromFile(text, &loaded), QV_E_LOAD_NOT_IMC2,
            loadCodeName);
  expectInt("bunch empty after failures", (int)loaded.numFrames, 0, NULL);

  /* The same files through the legacy calls. */
  {
    VIDINFHDR v;
    char message[64];
    initialize_vidinfhdr(&v);
    expectInt("initialize_vidinfhdr", v.type, QV_VINF_EMPTY, vinfTypeName);
    expectInt("load_file by extension", load_file(0, imm, &v), QV_E_NONE, legacyLoadName);
    expectInt("load_file type", v.type, QV_VINF_IMM, vinfTypeName);
    expectInt("load_file into a filled record", load_file(QV_VINF_IMM, imm, &v),
              QV_E_LEGACY_LOAD_NOT_EMPTY, legacyLoadName);
    expectInt("convert_format without a mode", convert_format(&v, QV_VINF_BKG, QV_CONVERT_NONE), -4,
              NULL);
    expectInt("convert_format averaging", convert_format(&v, QV_VINF_BKG, QV_CONVERT_AVERAGE), 0,
              NULL);
    expectInt("one frame left", v.numframes, 1, NULL);
    pathOf(bmpFile, sizeof bmpFile, "frame001.bmp");
    snprintf(bmp, sizeof bmp, "%s/frame", g_directory);
    expectInt("save_bmp_files",
              save_bmp_files(bmp, &v, QV_PALETTE_BLUE_CYAN_YELLOW_RED, QV_BMP_DIGITS_3), QV_E_NONE,
              saveCodeName);
    expectInt("BMP file named with three digits", fileExists(bmpFile), 1, NULL);
    free_vidinfhdr(&v);
    expectInt("free_vidinfhdr", v.type, QV_VINF_EMPTY, vinfTypeName);
    expectInt("load_file of a missing BMP", load_file(QV_VINF_BMP, missing, &v),
              QV_E_LEGACY_LOAD_OPEN, legacyLoadName);
    expectInt("load_file without extension", load_file(0, text, &v), QV_E_LEGACY_LOAD_EXTENSION,
              legacyLoadName);
    expectInt("load_file with type 5", load_file(QV_VINF_MAP, imm, &v), QV_E_LEGACY_LOAD_TYPE,
              legacyLoadName);
    expectInt("save_file without record", save_file(0, imm, NULL), QV_E_LEGACY_SAVE_RECORD,
              saveCodeName);
    expectText("reader code text",
               load_file__return_code_to_string(QV_E_LEGACY_LOAD_OPEN, message, sizeof message),
               "File could not be opened.");
  }
  {
    unsigned char table[256 * 4];
    int size = (int)sizeof table;
    expectInt("grey colour table",
              QVV3_INTERNAL_qvCreateColourTable(table, &size, QV_PALETTE_GREY, 1, 8), 256, NULL);
  }
}

/* Grabs from the stand-in's default server /SIM/VIDEO/CAM1 "Frame". */
static void checkGrabs(void) {
  QVBUNCHOFIMAGES frames;
  int error = 99, tineError = 0, interrupt = 1, code = 0, received;
  double progress = 0.0;
  DIMAGE* image;

  qvInitializeBunchStructure(&frames);
  received = qvGrabFramesEx(&frames, "/SIM/VIDEO/CAM1", "Frame", 0, 300, QV_CM_TIMER, &error,
                            &tineError, NULL, NULL);
  expectInt("grab of no frames", error, QV_E_GRAB_ARGUMENT, grabErrorName);
  expectInt("frames of that grab", received, 0, NULL);

  received = qvGrabFramesEx(&frames, "/SIM/VIDEO/CAM1", "Frame", 2, 100, QV_CM_TIMER, &error,
                            &tineError, NULL, &progress);
  expectInt("grab of two frames", error, QV_E_NONE, grabErrorName);
  expectInt("frames received", received, 2, NULL);
  expectInt("bunch of the grab", (int)frames.numFrames, received, NULL);
  expectInt("progress at the end", progress == 1.0, 1, NULL);
  expectInt("grabbed frames are a sequence", qvIsSequence(&frames), 1, NULL);
  qvFreeBunch(&frames);

  received = qvGrabFramesEx(&frames, "/SIM/VIDEO/CAM1", "Frame", 5, 100, QV_CM_TIMER, &error,
                            &tineError, &interrupt, NULL);
  expectInt("interrupted grab", error, QV_E_GRAB_INTERRUPTED, grabErrorName);
  qvFreeBunch(&frames);

  expectInt("qvGrabFrames", qvGrabFrames(&frames, "/SIM/VIDEO/CAM1", "Frame", 1, 100, QV_CM_TIMER),
            1, NULL);
  qvFreeBunch(&frames);

  image = qvInitializeImageEx(qvEstimateMaxFrameSizeBytes("/SIM/VIDEO/CAM1", NULL));
  expectInt("single grab",
            qvGrabFrame(image, NULL, "/SIM/VIDEO/CAM1", "Frame", 1000, QV_CA_READ, &code), 1,
            singleGrabName);
  expectInt("TINE code of the single grab", code, 0, NULL);
  expectInt("single grab, short address",
            qvGrabFrame(image, NULL, "/a/b", "Frame", 1000, QV_CA_READ, &code),
            QV_E_SINGLE_GRAB_ADDRESS, singleGrabName);
  expectInt("qvFreeImage", qvFreeImage(image), 1, NULL);
}

int main(int argc, char** argv) {
  QVBUNCHOFIMAGES bunch;
  if (argc > 1) g_directory = argv[1];

  checkVersionAndRuntime();
  checkModes();
  qvInitializeBunchStructure(&bunch);
  checkImages(&bunch);
  checkFiles(&bunch);
  qvFreeBunch(&bunch);
  expectInt("bunch empty after qvFreeBunch", bunch.imageArray == NULL && bunch.numFrames == 0, 1,
            NULL);
  if (argc > 2 && strcmp(argv[2], "sim") == 0) checkGrabs();

  printf("header: %d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
