// Common set-up of the transfer tests: a fresh stand-in and a captured log.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "support/environment.h"
#include "support/log_capture.h"
#include "tinesim/control.h"

constexpr char kCam1[] = "/SIM/VIDEO/CAM1";

class TineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tinesimReset();
    qvtest::unsetEnvironment("KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_RATE_MILLISECONDS_FORCE");
    qvtest::unsetEnvironment("KELTA_CLIENTLIB_VIDEO_TRANSFER_TINE_ACCESS_MODE_FORCE");
    log = std::make_unique<LogCapture>();
  }
  void TearDown() override {
    log.reset();
    tinesimReset();
  }
  std::unique_ptr<LogCapture> log;
};
