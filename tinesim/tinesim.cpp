// Stand-in for the TINE client library, in-process.
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "tine/tine_api.h"
#include "tinesim/control.h"

#define TINESIM_API extern "C" __attribute__((visibility("default")))

namespace {

std::mutex g_mutex;
int g_feclogCount = 0;
std::string g_lastFeclog;

struct CodeText {
  int code;
  const char* text;
};

// Completion-code texts of the stand-in; codes without an entry are "unknown".
constexpr CodeText kCodeTexts[] = {
    {0, "success"},
    {1, "operation busy"},
    {2, "out of range"},
    {3, "illegal property"},
    {4, "no such device"},
    {5, "server not responding"},
    {6, "property not available"},
    {7, "operation timed out"},
    {8, "link error"},
    {9, "illegal format"},
    {10, "illegal access"},
    {12, "link not open"},
    {20, "argument list error"},
    {23, "dimension error"},
    {25, "not supported"},
    {26, "illegal context"},
    {40, "non existent elements"},
    {43, "buffer too small"},
    {62, "illegal protocol"},
    {103, "invalid data"},
    {513, "decompression error"},
    {516, "not signalled"},
    {517, "link blacklisted"},
};
constexpr int kErrorListSize = 600;

}  // namespace

TINESIM_API const char* GetSystemVersionString(void) { return "5.2.1-sim"; }

TINESIM_API int GetErrorListSize(void) { return kErrorListSize; }

TINESIM_API const char* cc2str(int aCode) {
  for (const CodeText& entry : kCodeTexts)
    if (entry.code == aCode) return entry.text;
  return "unknown error";
}

TINESIM_API int feclog(const char* aFormat, ...) {
  char line[1024];
  va_list args;
  va_start(args, aFormat);
  std::vsnprintf(line, sizeof line, aFormat, args);
  va_end(args);
  std::lock_guard<std::mutex> lock(g_mutex);
  ++g_feclogCount;
  g_lastFeclog = line;
  return 0;
}

TINESIM_API int tinesimFeclogCount(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_feclogCount;
}

TINESIM_API void tinesimLastFeclog(char* asBuffer, int aiSize) {
  if (asBuffer == nullptr || aiSize < 1) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  std::snprintf(asBuffer, static_cast<size_t>(aiSize), "%s", g_lastFeclog.c_str());
}

TINESIM_API void tinesimReset(void) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_feclogCount = 0;
  g_lastFeclog.clear();
}
