// check: load a file and validate every frame.
#include <cstdio>
#include <string>

#include "commands.h"
#include "interrupts.h"
#include "sequence.h"

namespace qvtool {

namespace {

struct CheckOptions {
  std::string file;
};

int runCheck(const CheckOptions& options) {
  InterruptScope interrupts;
  Bunch bunch;
  Problem problem;
  if (!loadSequence(options.file, bunch, interrupts.firstStage(), problem)) return report(problem);
  for (uint32_t i = 0; i < bunch.size(); ++i) {
    char reason[512] = "";
    if (qvCheckImageValidity(&bunch[i], reason, sizeof reason) != 1)
      return fail(options.file + ": frame " + std::to_string(i + 1) + " of " +
                  std::to_string(bunch.size()) + " is invalid: " + reason);
  }
  std::printf("%s: %u frame(s), all valid\n", options.file.c_str(), bunch.size());
  return kSuccess;
}

}  // namespace

void addCheckCommand(CLI::App& app, Action& action) {
  std::shared_ptr<CheckOptions> options;
  CLI::App* command =
      addCommand(app, action, "check",
                 "Check every frame of a sequence file. Each frame's header is checked against its "
                 "pixels; exit 0 when all are valid, 1 naming the first that is not.",
                 "  qvtool check cam1.imc2\n", options, runCheck);
  command->add_option("FILE", options->file, "sequence file")->required();
}

}  // namespace qvtool
