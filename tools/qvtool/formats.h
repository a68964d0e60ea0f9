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

struct OutputFormat {
  const char* name;       // for --format
  const char* extension;  // selects the library's writer
  const char* title;      // as info names it
  bool legacy;            // goes through the legacy sequence record
  const char* summary;
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
                                    const std::string& target, bool force, int* interrupt);

}  // namespace qvtool
