// The sequence formats the tool writes, chosen by the output name's
// extension or by --format, what each cannot hold, and saving through a
// staging folder so the target appears only when the file is complete.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report.h"
#include "sequence.h"

namespace qvtool {

// Who writes a format: the library (IMC2/BKC2 directly, the legacy formats
// through their sequence record) or the formats component.
enum class Writer { kLibrary, kLegacy, kNexus, kTiff };

struct OutputFormat {
  const char* name;       // for --format
  const char* extension;  // selects the writer
  const char* title;      // as info names it
  Writer writer;
  const char* summary;
};

// What a save may choose beyond the format.
struct SaveChoices {
  bool shuffle = false;  // HDF5's byte shuffle before deflate
};

const std::vector<OutputFormat>& outputFormats();
const OutputFormat* formatNamed(const std::string& name);
const OutputFormat* formatOfFile(const std::string& path);  // by extension, letter case ignored
std::string formatList();                                   // ".imc2 .bkc2 .imc .bkc .imm .bkg"
std::string formatNames();                                  // "imc2, bkc2, ..."

// The writer for target: --format when given, else the extension. A usage
// problem (exit 2) names the formats when neither says.
std::optional<Problem> chooseFormat(const std::string& target, const std::string& formatOption,
                                    const OutputFormat*& format);

// Makes the frames fit the format (JPEG frames are decoded), refuses what it
// cannot hold and notes what it drops (one line each).
std::optional<Problem> prepareFor(const OutputFormat& format, Bunch& bunch,
                                  const std::string& target, std::vector<std::string>& warnings);

// Memory a save needs beyond the frames themselves (legacy formats copy them).
uint64_t saveMemoryFactor(const OutputFormat& format);

// Writes the bunch to target: into a staging folder next to it, renamed over
// target only after the library succeeded. interrupt (may be null) abandons
// the save; the problem's exit code is then 130.
std::optional<Problem> saveSequence(const Bunch& bunch, const OutputFormat& format,
                                    const std::string& target, bool force, int* interrupt,
                                    const SaveChoices& choices = {});

// Converts IMC2 to HDF5 or back by moving the stored frames as they are,
// through the same staging. False when the pair of files does not allow it
// (nothing was written; the caller loads and saves); otherwise true with
// the outcome in problem (none on success) and the frame count.
bool convertDirectly(const std::string& input, const OutputFormat& format,
                     const std::string& target, bool force, int* interrupt,
                     const SaveChoices& choices, std::optional<Problem>& problem, uint32_t& frames);

}  // namespace qvtool
