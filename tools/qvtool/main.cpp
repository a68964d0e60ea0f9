// qvtool: look at, check, convert and export sequence files, grab frames and
// list the cameras of a system list, through the library's exported calls.
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "commands.h"
#include "library_log.h"
#include "quivox3/quivox3.h"
#include "report.h"

namespace {

std::string libraryVersionLine() {
  unsigned major = 0, minor = 0, sub = 0;
  char info[200] = "";
  unsigned length = sizeof info;
  const char* text = qvLibraryInfoEx(&major, &minor, &sub, info, &length);
  return text != nullptr ? text
                         : "quivox3 " + std::to_string(major) + "." + std::to_string(minor) + "." +
                               std::to_string(sub);
}

// Lists each command with the first sentence of its description; the whole
// description opens the command's own help.
class Formatter : public CLI::Formatter {
 public:
  std::string make_subcommand(const CLI::App* command) const override {
    std::string summary = command->get_description();
    const size_t end = summary.find(". ");
    if (end != std::string::npos) summary.resize(end + 1);
    std::stringstream out;
    CLI::detail::format_help(out, command->get_display_name(true), summary, get_column_width());
    return out.str();
  }
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "qvtool: look at, check, convert and export image sequence files, grab frames from "
      "video servers and list the cameras of a system list.",
      "qvtool"};
  app.formatter(std::make_shared<Formatter>());
  app.get_formatter()->column_width(24);
  app.fallthrough();  // global options may follow the command
  // The same options everywhere: "/name" is a path, never an option.
  app.allow_windows_style_options(false);
  app.require_subcommand(0, 1);
  bool verboseFlag = false;
  std::string logFile;
  app.add_flag("-v,--verbose", verboseFlag, "show the library's messages (on standard error)");
  app.add_option("--log", logFile, "append the library's messages to FILE")->type_name("FILE");
  app.set_version_flag("--version", libraryVersionLine, "print the library's version line");
  app.footer(
      "\nExit codes: 0 success, 1 failure, 2 usage error, 130 interrupted.\n"
      "Run 'qvtool COMMAND --help' for the options of a command.\n\n"
      "Examples:\n  qvtool demo\n  qvtool grab -n 10 -o cam1.imc2\n  qvtool info cam1.imc2\n");

  qvtool::Action action;
  qvtool::addInfoCommand(app, action);
  qvtool::addCheckCommand(app, action);
  qvtool::addConvertCommand(app, action);
  qvtool::addExportCommand(app, action);
  qvtool::addGrabCommand(app, action);
  qvtool::addNamesCommand(app, action);
  qvtool::addDemoCommand(app, action);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    std::fprintf(
        stderr,
        "qvtool: %s\n(qvtool --help lists the commands, qvtool COMMAND --help their options)\n",
        error.what());
    return qvtool::kUsage;
  }
  if (!action) {
    std::fprintf(stderr, "%s", app.help().c_str());
    return qvtool::kUsage;
  }
  qvtool::setVerbose(verboseFlag || !logFile.empty());
  std::string error;
  if (!qvtool::routeLibraryLog(verboseFlag, logFile, error)) return qvtool::fail(error);
  return action();
}
