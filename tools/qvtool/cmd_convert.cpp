// convert: rewrite a sequence file in another format, never touching the
// input or an existing file unless --force says so.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "formats.h"
#include "interrupts.h"
#include "output.h"
#include "sequence.h"

namespace qvtool {

namespace {

struct ConvertOptions {
  std::string input;
  std::string output;
  std::string format;
  bool force = false;
  bool shuffle = false;
};

int runConvert(const ConvertOptions& options) {
  const OutputFormat* format = nullptr;
  if (auto problem = chooseFormat(options.output, options.format, format))
    return usageError("convert", problem->message);
  if (sameFile(options.input, options.output))
    return fail(options.input + " and " + options.output + " are the same file");
  if (auto problem = checkTarget(options.output, options.force)) return report(*problem);

  InterruptScope interrupts;
  const SaveChoices choices{options.shuffle};
  std::optional<Problem> outcome;
  uint32_t moved = 0;
  if (convertDirectly(options.input, *format, options.output, options.force,
                      interrupts.firstStage(), choices, outcome, moved)) {
    if (outcome) return report(*outcome);
    std::printf("%s -> %s (%s): %u frame(s), moved as stored\n", options.input.c_str(),
                options.output.c_str(), format->title, moved);
    return kSuccess;
  }
  Bunch bunch;
  Problem problem;
  if (!loadSequence(options.input, bunch, interrupts.firstStage(), problem)) return report(problem);
  std::vector<std::string> warnings;
  if (auto refusal = prepareFor(*format, bunch, options.output, warnings)) return report(*refusal);
  for (const std::string& warning : warnings) warn(warning);
  if (auto failure = saveSequence(bunch, *format, options.output, options.force,
                                  interrupts.firstStage(), choices))
    return report(*failure);
  std::printf("%s -> %s (%s): %u frame(s)\n", options.input.c_str(), options.output.c_str(),
              format->title, bunch.size());
  return kSuccess;
}

}  // namespace

void addConvertCommand(CLI::App& app, Action& action) {
  std::shared_ptr<ConvertOptions> options;
  const std::string description =
      "Convert a sequence file into another format. The output's extension chooses the format (" +
      formatList() +
      "), or --format does. The output appears only when complete; an existing file is replaced "
      "only with --force, and never the input.";
  CLI::App* command = addCommand(app, action, "convert", description.c_str(),
                                 "  qvtool convert cam1.imc2 cam1.imc\n"
                                 "  qvtool convert old.imm new.imc2\n"
                                 "  qvtool convert cam1.imc2 cam1.dat --format imc --force\n"
                                 "  qvtool convert cam1.imc2 cam1.nxs\n"
                                 "  qvtool convert cam1.h5 cam1.tif\n",
                                 options, runConvert);
  command->add_option("IN", options->input, "sequence file to read")->required();
  command->add_option("OUT", options->output, "file to write")->required();
  command->add_option("--format", options->format, "writer to use: " + formatNames())
      ->type_name("NAME");
  command->add_flag("--shuffle", options->shuffle,
                    "HDF5: shuffle the bytes of 16- and 32-bit samples before deflate (smaller "
                    "files; the frames are compressed again)");
  command->add_flag("-f,--force", options->force,
                    "replace OUT when it is an existing regular file");
}

}  // namespace qvtool
