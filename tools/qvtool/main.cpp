// qvtool: command-line client of the quivox3 library (exported interface only).
#include <cstdio>
#include <cstring>
#include <ctime>

#include "quivox3/quivox3.h"

static int runDemo() {
  unsigned major = 0, minor = 0, subMinor = 0;
  char info[200];
  unsigned length = sizeof info;
  qvSetVerbose(2);
  std::printf("library: %s\n", qvLibraryInfoEx(&major, &minor, &subMinor, info, &length));
  std::printf("version: %u.%u.%u\n", major, minor, subMinor);
  char now[32];
  std::printf("local time: %s\n", QVV3_INTERNAL_getTimeString(now, sizeof now));
  char utc[64];
  std::printf("UTC (stored form): %s\n",
              QVV3_INTERNAL_platformTimeToUTCString(std::time(nullptr), 123456, 1, 0, 1, utc, sizeof utc));
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "demo") == 0) return runDemo();
  std::fprintf(stderr, "usage: qvtool demo\n");
  return 2;
}
