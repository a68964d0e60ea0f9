// Acquisition from a video server through the library's multi-frame grab,
// with the checks that keep a long acquisition from being lost at its end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "report.h"
#include "sequence.h"

namespace qvtool {

constexpr char kDefaultAddress[] = "/SIM/VIDEO/CAM1";
constexpr char kDefaultProperty[] = "Frame";
constexpr int kDefaultRateMs = 300;  // inside the library's recommended 300..4000 ms

struct Grab {
  std::string address = kDefaultAddress;
  std::string property = kDefaultProperty;
  uint32_t count = 1;
  int rateMs = kDefaultRateMs;
  int mode = QV_CM_TIMER;
};

struct GrabOutcome {
  int received = 0;
  int error = 0;      // the library's error code, 0 when all frames came
  int tineError = 0;  // the last TINE completion code
};

// Refuses a grab whose frames (times memoryFactor) would not fit in the
// memory the machine has available.
std::optional<Problem> checkMemoryFor(const Grab& grab, uint64_t memoryFactor);

GrabOutcome acquire(const Grab& grab, Bunch& bunch, int* interrupt);

// Why a grab ended early, in plain words ("the server sent nothing for more
// than 5 seconds").
std::string grabEnding(const Grab& grab, const GrabOutcome& outcome);

}  // namespace qvtool
