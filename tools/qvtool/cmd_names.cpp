// names: the image sources and raw video servers of a system list file.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "quivox3/quivox3.h"
#include "report.h"

namespace qvtool {

namespace {

struct NamesOptions {
  std::string list;
};

constexpr size_t kNameSlot = 64;

int runNames(const NamesOptions& options) {
  const char* path = options.list.c_str();
  unsigned count = 0;
  if (qvGetAllImageSourceNames(path, nullptr, nullptr, &count) != 1) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return fail(options.list + ": " + systemReason(errno));
    std::fclose(file);
    return fail(options.list +
                ": not a system list file this tool reads (run with -v for the library's reason)");
  }
  std::vector<QVIMAGESOURCEPAIR> pairs(count);
  if (count > 0 && qvGetAllImageSourceNames(path, nullptr, pairs.data(), &count) != 1)
    return fail(options.list + ": cannot read its image sources");
  char context[kNameSlot + 1] = "";
  unsigned servers = 0;
  if (qvGetAllRawVideoServerNames(path, context, nullptr, &servers) != 1)
    return fail(options.list + ": cannot read its raw video servers");
  std::vector<char> names(static_cast<size_t>(servers) * kNameSlot);
  if (servers > 0 && qvGetAllRawVideoServerNames(path, nullptr, names.data(), &servers) != 1)
    return fail(options.list + ": cannot read its raw video servers");
  std::printf("TINE context: %.64s\n", context);
  std::printf("image sources (%u):\n", count);
  for (unsigned i = 0; i < count; ++i)
    std::printf("  %-40.64s id %d\n", pairs[i].name, pairs[i].nameId);
  std::printf("raw video servers (%u):\n", servers);
  for (unsigned i = 0; i < servers; ++i)
    std::printf("  %.64s\n", &names[static_cast<size_t>(i) * kNameSlot]);
  return kSuccess;
}

}  // namespace

void addNamesCommand(CLI::App& app, Action& action) {
  std::shared_ptr<NamesOptions> options;
  CLI::App* command = addCommand(
      app, action, "names",
      "List the cameras of a system list file. Prints its TINE context, the image sources "
      "with their name ids and the raw video servers.",
      "  qvtool names system.xml\n", options, runNames);
  command->add_option("SYSTEMLIST", options->list, "system list XML file")->required();
}

}  // namespace qvtool
