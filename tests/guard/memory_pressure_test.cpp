// Every exported call answers memory shortage with its documented code.
// Each case first runs once with memory to spare, then again and again with
// the calling thread refusing allocations after N successful ones, N = 0, 1,
// 2, ... until a run needs no refused allocation. Every run must end in the
// call's success or one of its documented failure codes, give back every
// block it took (counted here; the sanitizer build also checks the C heap
// at exit) and leave its records as documented for a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "failing_allocations.h"
#include "guard_world.h"
#include "quivox3/quivox3.h"
#include "tine/grab_multi.h"
#include "tinesim/control.h"

namespace {

constexpr int64_t kMostAllocations = 20000;

struct PressureCase {
  const char* name;
  int success;
  std::vector<int> failures;  // documented results when memory is short
  bool allocates;             // its way to success asks operator new for memory
  std::function<int(GuardWorld&)> call;
  // Unarmed, after every run: what a failure must leave, and the clean-up.
  std::function<void(GuardWorld&, int)> after;
};

void expectEmptyBunch(const QVBUNCHOFIMAGES& b) {
  EXPECT_EQ(b.numFrames, 0u);
  EXPECT_EQ(b.imageArray, nullptr);
}

void expectEmptyRecord(const VIDINFHDR& v) {
  EXPECT_EQ(v.framebits, nullptr);
  EXPECT_EQ(v.framescales, nullptr);
}

// A save leaves its file only on success; a failure says why.
std::function<void(GuardWorld&, int)> afterSave(const char* asExtension) {
  return [asExtension](GuardWorld& w, int r) {
    const std::string& path = w.output(asExtension);
    if (r == QV_E_NONE) {
      EXPECT_TRUE(fileExists(path));
      std::remove(path.c_str());
    } else {
      EXPECT_FALSE(fileExists(path)) << path;
      EXPECT_NE(w.reason[0], '\0');
    }
  };
}

// A load fills the bunch only on success; a failure leaves it empty.
void afterLoad(GuardWorld& w, int r) {
  if (r == QV_E_NONE) {
    ASSERT_EQ(w.out.numFrames, kGuardFrames);
    for (uint32_t i = 0; i < kGuardFrames; ++i)
      EXPECT_EQ(std::memcmp(w.out.imageArray[i].frameBuffer, w.sequence.imageArray[i].frameBuffer,
                            w.sequence.imageArray[i].frameBufferSize),
                0);
    qvFreeBunch(&w.out);
  } else {
    expectEmptyBunch(w.out);
    EXPECT_NE(w.reason[0], '\0');
  }
}

void afterLegacyLoad(GuardWorld& w, int r) {
  if (r == QV_E_NONE) {
    EXPECT_EQ(w.record.numframes, static_cast<int32_t>(kGuardFrames));
    free_vidinfhdr(&w.record);
  }
  expectEmptyRecord(w.record);
}

// Test code run while allocations fail must not allocate itself: names are
// composed beforehand.
int saveTo(GuardWorld& w, const char* asExtension) {
  w.reason[0] = '\0';
  const std::string& path = w.output(asExtension);
  return qvSaveImagesToFileEx(&w.sequence, path.c_str(), w.reason, sizeof w.reason, nullptr,
                              nullptr);
}

int loadFrom(GuardWorld& w, const std::string& asPath) {
  w.reason[0] = '\0';
  return qvLoadImagesFromFileEx(asPath.c_str(), &w.out, nullptr, nullptr, w.reason,
                                sizeof w.reason);
}

// The multi-frame grab's result as one code: its error, with the frames
// checked in afterGrab.
int grabFrames(GuardWorld& w, DTYPE* apContainers = nullptr) {
  w.error = w.tineError = -99;
  const int n = qvGrabFramesEx2(&w.out, apContainers, kGuardCamera, "Frame", kGuardFrames, 5,
                                QV_CM_TIMER, &w.error, &w.tineError, nullptr, nullptr);
  if (n < 0 || static_cast<uint32_t>(n) != w.out.numFrames) return -1000;  // never documented
  if (w.error == QV_E_NONE && n != static_cast<int>(kGuardFrames)) return -1001;
  return w.error;
}

// Whatever way a grab ended, its link is closed and no callback is admitted.
void afterGrab(GuardWorld& w, int r) {
  EXPECT_EQ(tinesimOpenLinkCount(), 0);
  EXPECT_FALSE(qv::tine::_internal_grabCallbackAllowed());
  if (r == QV_E_NONE) {
    EXPECT_EQ(qvIsCompleteSequence(&w.out), 1);
  }
  for (uint32_t i = 0; i < w.out.numFrames; ++i)
    EXPECT_NE(w.out.imageArray[i].frameBuffer, nullptr);
  qvFreeBunch(&w.out);
}

std::vector<PressureCase> pressureCases() {
  return {
      {"SaveIMC2",
       QV_E_NONE,
       {QV_E_SAVE_NO_MEMORY},
       true,
       [](GuardWorld& w) { return saveTo(w, ".imc2"); },
       afterSave(".imc2")},
      {"SaveLegacyIMC",
       QV_E_NONE,
       {QV_E_SAVE_NO_MEMORY, QV_E_SAVE_CONVERSION},
       true,
       [](GuardWorld& w) { return saveTo(w, ".imc"); },
       afterSave(".imc")},
      {"SaveLegacyIMM",
       QV_E_NONE,
       {QV_E_SAVE_NO_MEMORY, QV_E_SAVE_CONVERSION},
       true,
       [](GuardWorld& w) { return saveTo(w, ".imm"); },
       afterSave(".imm")},
      {"LoadIMC2",
       QV_E_NONE,
       {QV_E_LOAD_NO_MEMORY},
       true,
       [](GuardWorld& w) { return loadFrom(w, w.imc2File); },
       afterLoad},
      {"LoadLegacyIMC",
       QV_E_NONE,
       {QV_E_LOAD_NO_MEMORY, QV_E_LOAD_IMC, QV_E_LOAD_CONVERSION},
       true,
       [](GuardWorld& w) { return loadFrom(w, w.imcFile); },
       afterLoad},
      {"LoadLegacyIMM",
       QV_E_NONE,
       {QV_E_LOAD_NO_MEMORY, QV_E_LOAD_IMM, QV_E_LOAD_CONVERSION},
       true,
       [](GuardWorld& w) { return loadFrom(w, w.immFile); },
       afterLoad},
      {"LegacyLoadFile",
       QV_E_NONE,
       {QV_E_LEGACY_LOAD_NO_MEMORY},
       false,
       [](GuardWorld& w) { return load_file(0, w.imcFile.c_str(), &w.record); },
       afterLegacyLoad},
      {"LegacySaveFile",
       QV_E_NONE,
       {QV_E_LEGACY_SAVE_NO_MEMORY},
       true,
       [](GuardWorld& w) { return save_file(QV_VINF_IMC, w.output(".imc").c_str(), &w.legacy); },
       [](GuardWorld& w, int r) {
         EXPECT_EQ(fileExists(w.output(".imc")), r == QV_E_NONE);
         std::remove(w.output(".imc").c_str());
       }},
      {"CheckFileFormat",
       QV_FILE_IMC2,
       {QV_FILE_UNKNOWN},
       false,
       [](GuardWorld& w) { return qvCheckFileFormat(w.imc2File.c_str(), nullptr, 0); },
       nullptr},
      {"ValidityOfAValidImage",
       1,
       {},
       false,
       [](GuardWorld& w) {
         w.reason[0] = '\0';
         return qvCheckImageValidity(&w.sequence.imageArray[0], w.reason, sizeof w.reason);
       },
       [](GuardWorld& w, int) { EXPECT_EQ(w.reason[0], '\0'); }},
      // An invalid image is answered -1 whether or not its reason could be
      // composed; either way a reason is given.
      {"ValidityOfAnInvalidImage",
       -1,
       {},
       true,
       [](GuardWorld& w) {
         w.reason[0] = '\0';
         return qvCheckImageValidity(&w.invalid, w.reason, sizeof w.reason);
       },
       [](GuardWorld& w, int) { EXPECT_NE(w.reason[0], '\0'); }},
      {"ValidityOfNoImage",
       0,
       {},
       false,
       [](GuardWorld& w) {
         w.reason[0] = '\0';
         return qvCheckImageValidity(nullptr, w.reason, sizeof w.reason);
       },
       [](GuardWorld& w, int) { EXPECT_STREQ(w.reason, "Parameter apImg must not be NULL."); }},
      {"IsSequence",
       1,
       {},
       false,
       [](GuardWorld& w) { return qvIsSequence(&w.sequence); },
       nullptr},
      {"IsCompleteSequence",
       1,
       {},
       false,
       [](GuardWorld& w) { return qvIsCompleteSequence(&w.sequence); },
       nullptr},
      {"IsSequenceWithAnInvalidImage",
       -1,
       {},
       true,
       [](GuardWorld& w) {
         const DIMAGE keep = w.sequence.imageArray[1];
         w.sequence.imageArray[1] = w.invalid;
         const int r = qvIsSequence(&w.sequence);
         w.sequence.imageArray[1] = keep;
         return r;
       },
       nullptr},
      {"BunchToVIDINFHDRLowMemoryMode",
       1,
       {-3},
       false,
       [](GuardWorld& w) {
         QVBUNCHOFIMAGES copy;
         if (!makeGreySequence(copy, kGuardFrames, 64, 48, 2)) return -1000;
         int intact = -1;
         const int r =
             qvBunchToVIDINFHDREx2(&copy, &w.record, w.reason, sizeof w.reason, 1, &intact);
         // Consumed or not, nothing of the bunch may stay behind unreleased.
         if (intact == 0 && (copy.imageArray != nullptr || copy.numFrames != 0)) return -1001;
         qvFreeBunch(&copy);
         return r;
       },
       [](GuardWorld& w, int r) {
         if (r == 1) free_vidinfhdr(&w.record);
         expectEmptyRecord(w.record);
       }},
      {"DecompressImage",
       1,
       {-1},
       false,
       [](GuardWorld& w) { return qvDecompressImage(&w.decoded, w.jpeg); },
       [](GuardWorld& w, int r) {
         if (r == 1) {
           EXPECT_EQ(w.decoded.frameHeader.imageFormat, CF_IMAGE_FORMAT_GRAY);
           std::free(w.decoded.frameBuffer);
         }
         w.decoded.frameBuffer = nullptr;
       }},
      {"FrameCopyOfAJpegImage",
       QV_E_NONE,
       {QV_E_COPY_DECOMPRESSION},
       false,
       [](GuardWorld& w) {
         static uint8_t pixels[64 * 48];
         int size = static_cast<int>(sizeof pixels);
         return qvGetFrameFromDIMAGE(pixels, &size, w.jpeg, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr);
       },
       nullptr},
      {"SingleGrab",
       1,
       {QV_E_SINGLE_GRAB_TIMEOUT},
       qvtest::kRefusalsReachTheStandIn,  // the library's part asks for no memory
       [](GuardWorld& w) {
         DIMAGE* image = w.jpeg;  // the caller's image and buffer stay the caller's
         uint8_t* buffer = image->frameBuffer;
         const int r =
             qvGrabFrame(image, nullptr, kGuardCamera, "Frame", 200, QV_CA_READ, &w.tineError);
         if (image->frameBuffer != buffer) return -1000;
         return r;
       },
       [](GuardWorld& w, int r) {
         if (r == 1) {
           EXPECT_EQ(w.jpeg->frameHeader.imageFormat, CF_IMAGE_FORMAT_GRAY);
         }
         int code = 0;  // the JPEG frame again for the next run
         ASSERT_EQ(qvGrabFrame(w.jpeg, nullptr, kGuardJpegCamera, "Frame", 1000, QV_CA_READ, &code),
                   1);
       }},
      {"MultiFrameGrab",
       QV_E_NONE,
       {QV_E_GRAB_NO_MEMORY},
       true,
       [](GuardWorld& w) { return grabFrames(w); },
       afterGrab},
      {"AllOrNothingGrab",
       1,
       {QV_E_GRAB_NO_MEMORY + 1},
       true,
       [](GuardWorld& w) {
         return qvGrabFrames(&w.out, kGuardCamera, "Frame", kGuardFrames, 5, QV_CM_TIMER);
       },
       [](GuardWorld& w, int r) {
         if (r != 1) expectEmptyBunch(w.out);
         afterGrab(w, r == 1 ? QV_E_NONE : r);
       }},
      {"ModeToString",
       1,
       {-1},
       true,
       [](GuardWorld&) {
         char text[64];
         size_t length = sizeof text;
         return QVV3_INTERNAL_tineModeToString(QV_CM_TIMER | QV_CM_CONNECT, 0, text, &length);
       },
       nullptr},
      {"FlagsAsString",
       1,
       {0},
       true,
       [](GuardWorld&) {
         char text[200];
         size_t size = sizeof text;
         return QVV3_INTERNAL_CDIMAGE_getFlagsAsString(0x3Fu, text, &size) != nullptr ? 1 : 0;
       },
       nullptr},
  };
}

class MemoryPressure : public ::testing::TestWithParam<PressureCase> {};

// Runs the call with the thread refusing allocations after aiAllowed
// successful ones; tells whether one was refused.
int runRefusingAfter(const PressureCase& c, GuardWorld& w, int64_t aiAllowed, bool& abRefused) {
  qvtest::FailingAllocations failing(aiAllowed);
  const int r = c.call(w);
  abRefused = failing.refused();
  return r;
}

TEST_P(MemoryPressure, EveryRunEndsInADocumentedCode) {
  const PressureCase& c = GetParam();
  GuardWorld w;
  qvSetVerbose(QV_VERBOSE_OFF);

  // With memory to spare first: the call works, and lazily made state (the
  // stand-in's tables, the grab's admission list) exists before counting.
  const int first = c.call(w);
  ASSERT_EQ(first, c.success);
  if (c.after) c.after(w, first);

  int64_t refusedRuns = 0;
  for (int64_t allowed = 0;; ++allowed) {
    ASSERT_LT(allowed, kMostAllocations) << "the call never finished without a refusal";
    SCOPED_TRACE("allowed allocations: " + std::to_string(allowed));
    const int64_t live = qvtest::liveAllocations();
    bool refused = false;
    const int r = runRefusingAfter(c, w, allowed, refused);
    EXPECT_EQ(qvtest::liveAllocations(), live) << "blocks not given back";
    const bool documented =
        r == c.success || std::find(c.failures.begin(), c.failures.end(), r) != c.failures.end();
    EXPECT_TRUE(documented) << "result " << r;
    if (c.after) c.after(w, r);
    if (::testing::Test::HasFailure()) break;
    if (!refused) {
      EXPECT_EQ(r, c.success);
      break;
    }
    ++refusedRuns;
  }
  RecordProperty("refused_runs", std::to_string(refusedRuns));
  if (c.allocates) {
    EXPECT_GT(refusedRuns, 0) << "no allocation of the call was ever refused";
  }
}

INSTANTIATE_TEST_SUITE_P(Calls, MemoryPressure, ::testing::ValuesIn(pressureCases()),
                         [](const ::testing::TestParamInfo<PressureCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
