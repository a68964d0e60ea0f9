#include "acquire.h"

#include <cstdio>
#include <cstring>

#include "progress.h"
#include "system.h"

namespace qvtool {

namespace {

std::string tineCodeText(int code) {
  char text[128] = "";
  size_t length = sizeof text;
  qvTineCodeToString(code, text, &length);
  return text;
}

}  // namespace

std::optional<Problem> checkMemoryFor(const Grab& grab, uint64_t memoryFactor) {
  const int frameBytes = qvEstimateMaxFrameSizeBytes(grab.address.c_str(), grab.property.c_str());
  const uint64_t available = sys::availableMemory();
  if (frameBytes <= 0 || available == 0) return std::nullopt;  // the grab itself will say why
  const uint64_t needed = static_cast<uint64_t>(frameBytes) * grab.count * memoryFactor;
  if (needed <= available) return std::nullopt;
  return Problem{std::to_string(grab.count) + " frames of up to " + std::to_string(frameBytes) +
                     " bytes need " + byteCount(needed) + ", more than the " +
                     byteCount(available) + " of memory available; grab fewer frames at a time",
                 ""};
}

GrabOutcome acquire(const Grab& grab, Bunch& bunch, int* interrupt) {
  GrabOutcome outcome;
  outcome.received = withProgress("grabbing", [&](double* progress) {
    return qvGrabFramesEx(bunch.get(), grab.address.c_str(), grab.property.c_str(), grab.count,
                          grab.rateMs, grab.mode, &outcome.error, &outcome.tineError, interrupt,
                          progress);
  });
  return outcome;
}

std::string grabEnding(const Grab& grab, const GrabOutcome& outcome) {
  const std::string source = grab.address + " " + grab.property;
  const std::string tine = outcome.tineError != 0
                               ? " (TINE code " + std::to_string(outcome.tineError) + ": " +
                                     tineCodeText(outcome.tineError) + ")"
                               : "";
  switch (outcome.error) {
    case QV_E_GRAB_ARGUMENT:
      return source + " is not a valid TINE address and property name";
    case QV_E_GRAB_TIMEOUT:
      return source + " sent nothing for more than 5 seconds" + tine;
    case QV_E_GRAB_NO_MEMORY:
      return "out of memory while receiving from " + source;
    case QV_E_GRAB_ATTACH:
      return "cannot connect to " + source + tine;
    case QV_E_GRAB_INTERRUPTED:
      return "interrupted";
    default:
      return "the grab from " + source + " ended with error " + std::to_string(outcome.error) +
             tine;
  }
}

}  // namespace qvtool
