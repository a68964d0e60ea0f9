// grab: frames from a video server into a file. Everything that could make
// the save fail is checked before acquiring; Ctrl-C stops the acquisition and
// keeps what arrived, a second Ctrl-C abandons the save.
#include <cstdio>
#include <string>

#include "acquire.h"
#include "commands.h"
#include "formats.h"
#include "interrupts.h"
#include "output.h"
#include "sim_camera.h"

namespace qvtool {

namespace {

struct GrabOptions {
  std::string address = kDefaultAddress;
  std::string property = kDefaultProperty;
  uint32_t count = 0;
  std::string output;
  std::string format;
  int rate = kDefaultRateMs;
  std::string mode = "TIMER";
  bool force = false;
  bool shuffle = false;
  SimulatedCamera camera;
};

// The output must be writable before a single frame is acquired.
std::optional<Problem> checkOutput(const std::string& output, bool force) {
  if (auto problem = checkTarget(output, force)) return problem;
  StagingFolder probe;
  return probe.create(folderOf(output));
}

int runGrab(const GrabOptions& options) {
  Grab grab;
  grab.address = options.address;
  grab.property = options.property;
  grab.count = options.count;
  grab.rateMs = options.rate;
  grab.mode = QVV3_INTERNAL_tineDecodeModeStringCMnew(options.mode.c_str());
  if (grab.mode < 0)
    return usageError("grab", "--mode '" + options.mode + "' is not a TINE call mode");
  const OutputFormat* format = nullptr;
  if (auto problem = chooseFormat(options.output, options.format, format))
    return usageError("grab", problem->message);
  if (auto problem = shapeSimulatedCamera(options.camera, grab.address, grab.property))
    return problem->exitCode == kUsage ? usageError("grab", problem->message) : report(*problem);
  if (auto problem = checkOutput(options.output, options.force)) return report(*problem);
  if (auto problem = checkMemoryFor(grab, saveMemoryFactor(*format))) return report(*problem);

  InterruptScope interrupts;
  Bunch bunch;
  const GrabOutcome outcome = acquire(grab, bunch, interrupts.firstStage());
  const bool interrupted = interrupts.interrupted();
  const std::string ofCount =
      std::to_string(outcome.received) + " of " + std::to_string(grab.count);
  if (outcome.received <= 0 || bunch.empty()) {
    if (interrupted)
      return report({"interrupted before any frame arrived; nothing saved", "", kInterrupted});
    return fail("no frame received: " + grabEnding(grab, outcome));
  }
  std::vector<std::string> warnings;
  if (auto refusal = prepareFor(*format, bunch, options.output, warnings)) return report(*refusal);
  for (const std::string& warning : warnings) warn(warning);
  // A first Ctrl-C during the save must not throw the acquisition away.
  if (auto failure = saveSequence(bunch, *format, options.output, options.force,
                                  interrupts.secondStage(), SaveChoices{options.shuffle})) {
    if (interrupted && failure->exitCode != kInterrupted) failure->exitCode = kInterrupted;
    return report(*failure);
  }
  const std::string saved =
      "saved " + std::to_string(bunch.size()) + " frames to " + options.output;
  if (interrupted) {
    note("interrupted after " + ofCount + " frames; " + saved);
    return kInterrupted;
  }
  if (outcome.error != 0 || static_cast<uint32_t>(outcome.received) < grab.count)
    return fail("grab stopped after " + ofCount + " frames: " + grabEnding(grab, outcome) + "; " +
                saved);
  std::printf("grabbed %u frame(s) from %s %s into %s\n", bunch.size(), grab.address.c_str(),
              grab.property.c_str(), options.output.c_str());
  return kSuccess;
}

}  // namespace

void addGrabCommand(CLI::App& app, Action& action) {
  std::shared_ptr<GrabOptions> options;
  CLI::App* command = addCommand(
      app, action, "grab",
      "Grab N frames from a video server property into a file. The output is checked (folder "
      "writable, name free, frames fit in memory) before acquiring. Ctrl-C stops the acquisition "
      "and saves the frames received so far (exit 130); a second Ctrl-C abandons the save.",
      "  qvtool grab -n 100 -o cam1.imc2\n"
      "  qvtool grab /LAB/VIDEO/CAM2 Frame -n 20 --rate 500 -o cam2.imc2\n"
      "  qvtool grab -n 5 -o small.imc2 --sim-size 320x240 --sim-format gray8\n",
      options, runGrab);
  command->add_option("ADDRESS", options->address, "TINE address /context/server/device")
      ->capture_default_str();
  command->add_option("PROPERTY", options->property, "image property")->capture_default_str();
  command->add_option("-n,--frames", options->count, "number of frames")
      ->type_name("N")
      ->required()
      ->check(CLI::Range(1u, 1000000u));
  command->add_option("-o,--output", options->output, "file to write (" + formatList() + ")")
      ->type_name("FILE")
      ->required();
  command
      ->add_option("--format", options->format, "writer to use whatever the name: " + formatNames())
      ->type_name("NAME");
  command
      ->add_option("--rate", options->rate,
                   "delivery interval of the link in ms (recommended 300..4000)")
      ->type_name("MS")
      ->check(CLI::Range(1, 60000))
      ->capture_default_str();
  command->add_option("--mode", options->mode, "TINE call mode: TIMER, EVENT, DATACHANGE, ...")
      ->type_name("MODE")
      ->capture_default_str();
  command->add_flag("-f,--force", options->force,
                    "replace the output when it is an existing regular file");
  command->add_flag("--shuffle", options->shuffle,
                    "HDF5: shuffle the bytes of 16- and 32-bit samples before deflate");
  command
      ->add_option("--sim-size", options->camera.size,
                   "simulated camera only: frame size WIDTHxHEIGHT")
      ->type_name("WxH");
  command
      ->add_option("--sim-format", options->camera.format,
                   std::string("simulated camera only: ") + kSimulatedFormats)
      ->type_name("FORMAT");
}

}  // namespace qvtool
