// Loading a system list of a few hundred image sources, against the bare
// parse of the same file by the XML library.
#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "quivox3/quivox3.h"
#include "runtime/logging.h"
#include "syslist/syslist.h"

namespace {

std::string element(const std::string& tag, const std::string& content) {
  return "<" + tag + ">" + content + "</" + tag + ">";
}

// 400 image sources of four types, 20 groups of 10, 40 SGPs (half by group,
// half by type) and two converters.
std::string writeSysList() {
  const char* types[] = {"PCVision", "ProsilicaGigE", "DirectShow", "pleora-ebus"};
  std::string sources;
  for (int i = 0; i < 400; ++i) {
    sources += element("ImageSource", element("NameID", "camera" + std::to_string(i) + "=" +
                                                            std::to_string(100 + i)) +
                                          element("SGPType", types[i % 4]));
  }
  for (int g = 0; g < 20; ++g) {
    std::string list;
    for (int k = 0; k < 10; ++k) list += (k ? ":camera" : "camera") + std::to_string(g * 20 + k);
    sources += element("oImageSourceGroup", element("Name", "group" + std::to_string(g)) +
                                                element("ImageSourceNames", list));
  }
  std::string sgps;
  for (int s = 0; s < 40; ++s) {
    std::string refs = s < 20 ? element("oImageSourceGroupName", "group" + std::to_string(s)) : "";
    sgps += element(
        "SGP", element("Name", "sgp" + std::to_string(s)) + element("Type", types[s % 4]) + refs);
  }
  const std::string text =
      "<?xml version=\"1.0\" ?>\n<QVv3><Name>Bench</Name><TineContext>BENCH</TineContext>" +
      element("ComponentList",
              element("ImageSources", sources) + element("SGPs", sgps) +
                  element("oGS2CLs", element("GS2CL", "<Name>gs</Name><oSGPName>sgp1</oSGPName>")) +
                  element("oRaw2Jpegs", element("Raw2Jpeg", "<Name>rj</Name>"))) +
      "</QVv3>\n";
  const std::string path = "/tmp/qv_bench_syslist_" + std::to_string(::getpid()) + ".xml";
  FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  return path;
}

// The file lives as long as the benchmark process.
struct BenchFile {
  std::string path = writeSysList();
  ~BenchFile() { std::remove(path.c_str()); }
};

const std::string& sysListPath() {
  static const BenchFile file;
  return file.path;
}

void BM_BarePugixmlLoad(benchmark::State& state) {
  for (auto _ : state) {
    pugi::xml_document document;
    benchmark::DoNotOptimize(document.load_file(sysListPath().c_str()));
  }
}
BENCHMARK(BM_BarePugixmlLoad)->Unit(benchmark::kMicrosecond);

void BM_SysListLoad(benchmark::State& state) {
  CLogging log;
  log.Init(nullptr, false, nullptr);
  for (auto _ : state) {
    CSysList list;
    if (!list.load(sysListPath().c_str(), true, &log)) state.SkipWithError("load failed");
  }
  log.Done();
}
BENCHMARK(BM_SysListLoad)->Unit(benchmark::kMicrosecond);

void BM_GetAllImageSourceNames(benchmark::State& state) {
  std::string slots(400 * 64, '\0');
  for (auto _ : state) {
    unsigned count = 400;
    if (qvGetAllImageSourceNames(sysListPath().c_str(), &slots[0], nullptr, &count) != 1) {
      state.SkipWithError("listing failed");
    }
  }
}
BENCHMARK(BM_GetAllImageSourceNames)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
