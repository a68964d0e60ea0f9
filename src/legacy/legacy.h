// Legacy sequence files (IMM, IMC, BKG, BKC, BMP) and the conversion of a
// VIDINFHDR into a bunch: the entry points other subsystems use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "quivox3/quivox3.h"
#include "runtime/text.h"

// Readers with user break (read once per frame; 1 stops with -9) and progress
// (written progressScale x (i+1)/n after frame i). Both pointers may be null.
// Results are the reader codes of the legacy file functions; the record must
// be empty and is left empty on failure.
int load_imm_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak, double* progress,
                    double progressScale);
// IMC/BKC reader; stores type 2 (IMC).
int load_imc_fileEx(const char* name, VIDINFHDR* vinf, int* userbreak, double* progress,
                    double progressScale);
// Single-frame BKG reader; on success writes progressValue to *progress.
int load_bkg_fileEx(const char* name, VIDINFHDR* vinf, double* progress, double progressValue);

namespace qv::legacy {

// The legacy formats a file name selects by its extension (letter case
// ignored), with the record type each stores and its name in messages.
struct LegacyFileType {
  int32_t type;  // VIDINFHDR type: 1 IMM, 2 IMC, 3 BKG, 4 BKC
  const char* extension;
  const char* name;
};
// Null when the name ends in none of the legacy extensions.
const LegacyFileType* _internal_legacyFileTypeOf(const char* name);
// ".imm", ".imc", ".bkg" or ".bkc" for types 1 to 4, else null.
const char* _internal_legacyExtensionOf(int32_t type);

}  // namespace qv::legacy

// Content probes: true when the whole file has the layout of the format.
// None of them reads pixels.
bool _internal_isIMCFile(const char* asFilePath);
bool _internal_isIMMFile(const char* asFilePath);
bool _internal_isBKGFile(const char* asFilePath);

// Text for a legacy reader result code; stored into out and returned.
std::string _internal_legacyLoadResultString(int code, std::string& out);

// Builds a bunch of grey images from a filled record. file may be null (then
// no time stamp and no port name). out must be an empty bunch; on failure it
// is left empty and sErrorString holds the reason. Progress runs from
// progressStart to 1.
bool _internal_VIDINFHDRToBunch(const char* file, VIDINFHDR* in, QVBUNCHOFIMAGES* out,
                                int* userbreak, double* progress, double progressStart,
                                std::string& sErrorString);

// Writes one 8-bit BMP file of width x height pixels (rows top-down, no
// padding) with palette 0 (grey), 1 or 2. 0, -9 argument, -4 not created,
// -5 write or memory failure (the partial file is deleted).
int _internal_writeBmp8File(const char* asPath, int32_t aiWidth, int32_t aiHeight,
                            const uint8_t* apPixels, int aiPalette);
