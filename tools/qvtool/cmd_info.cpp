// info: what a sequence file holds, as text or as one JSON object.
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "interrupts.h"
#include "sequence.h"

namespace qvtool {

namespace {

struct InfoOptions {
  std::string file;
  bool json = false;
};

struct FrameFacts {
  uint32_t number, event;
  std::string time;
};

FrameFacts factsOf(const DIMAGE& image) {
  return {image.frameHeader.frameNumber, image.frameHeader.eventNumber,
          utcText(image.sourceHeader.timestampSeconds, image.sourceHeader.timestampMicroseconds)};
}

std::string frameLine(const FrameFacts& facts) {
  return "#" + std::to_string(facts.number) + ", event " + std::to_string(facts.event) + ", " +
         (facts.time.empty() ? std::string("no time stamp") : "at " + facts.time);
}

int printJson(const InfoOptions& options, const Bunch& bunch, const std::string& format) {
  const DIMAGE& first = bunch[0];
  const FRAMEHEADER& f = first.frameHeader;
  const FrameFacts head = factsOf(first), tail = factsOf(bunch[bunch.size() - 1]);
  const nlohmann::ordered_json info = {
      {"file", options.file},
      {"format", format},
      {"frames", bunch.size()},
      {"width", frameWidth(first)},
      {"height", frameHeight(first)},
      {"source_width", f.sourceWidth},
      {"source_height", f.sourceHeight},
      {"pixel_format", pixelFormatName(f.imageFormat)},
      {"source_pixel_format", pixelFormatName(f.sourceFormat)},
      {"bytes_per_pixel", f.bytesPerPixel},
      {"effective_bits", f.effectiveBitsPerPixel},
      {"flags", flagWords(f.imageFlags)},
      {"x_scale_mm_per_pixel", f.xScale},
      {"y_scale_mm_per_pixel", f.yScale},
      {"camera_port_name", cameraPortName(first)},
      {"camera_port_id", first.sourceHeader.cameraPortId},
      {"first_frame_number", head.number},
      {"last_frame_number", tail.number},
      {"first_event_number", head.event},
      {"last_event_number", tail.event},
      {"first_timestamp", head.time},
      {"last_timestamp", tail.time},
      {"sequence", qvIsSequence(const_cast<QVBUNCHOFIMAGES*>(bunch.get())) == 1},
      {"complete_sequence", qvIsCompleteSequence(const_cast<QVBUNCHOFIMAGES*>(bunch.get())) == 1},
  };
  // Names come from the file system and the file: escape, and replace what is not UTF-8.
  std::printf("%s\n", info.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  return kSuccess;
}

int printText(const InfoOptions& options, const Bunch& bunch, const std::string& format) {
  const DIMAGE& first = bunch[0];
  const FRAMEHEADER& f = first.frameHeader;
  auto* records = const_cast<QVBUNCHOFIMAGES*>(bunch.get());
  const bool sequence = qvIsSequence(records) == 1, complete = qvIsCompleteSequence(records) == 1;
  std::printf("file:            %s\n", options.file.c_str());
  std::printf("format:          %s\n", format.c_str());
  std::printf("frames:          %u\n", bunch.size());
  std::printf("geometry:        %d x %d (source %d x %d)\n", frameWidth(first), frameHeight(first),
              f.sourceWidth, f.sourceHeight);
  std::printf("pixel format:    %s, %d byte(s) per pixel, %d effective bits\n",
              pixelFormatName(f.imageFormat).c_str(), f.bytesPerPixel, f.effectiveBitsPerPixel);
  std::printf("flags:           %s\n", flagWords(f.imageFlags).c_str());
  std::printf("scales:          x %g, y %g mm/pixel\n", f.xScale, f.yScale);
  const std::string port = cameraPortName(first);
  std::printf("camera port:     %s (id %d)\n", port.empty() ? "-" : port.c_str(),
              first.sourceHeader.cameraPortId);
  std::printf("first frame:     %s\n", frameLine(factsOf(first)).c_str());
  std::printf("last frame:      %s\n", frameLine(factsOf(bunch[bunch.size() - 1])).c_str());
  std::printf("sequence:        %s\n", !sequence  ? "no (frames differ in geometry or format)"
                                       : complete ? "complete sequence"
                                                  : "sequence (frame numbers not continuous)");
  return kSuccess;
}

int runInfo(const InfoOptions& options) {
  InterruptScope interrupts;
  Bunch bunch;
  Problem problem;
  if (!loadSequence(options.file, bunch, interrupts.firstStage(), problem)) return report(problem);
  const std::string format = fileFormatOf(options.file);
  return options.json ? printJson(options, bunch, format) : printText(options, bunch, format);
}

}  // namespace

void addInfoCommand(CLI::App& app, Action& action) {
  std::shared_ptr<InfoOptions> options;
  CLI::App* command = addCommand(
      app, action, "info",
      "Show what a sequence file holds. Format, frame count, geometry, pixel format, flags, "
      "scales, camera port, first and last frame with their numbers and times.",
      "  qvtool info cam1.imc2\n  qvtool info --json cam1.imc2 > cam1.json\n", options, runInfo);
  command
      ->add_option("FILE", options->file,
                   "sequence file (IMC2/BKC2, IMC, BKC, IMM, BKG, HDF5/NeXus or TIFF)")
      ->required();
  command->add_flag("--json", options->json, "print one JSON object instead of text");
}

}  // namespace qvtool
