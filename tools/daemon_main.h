// daemon_main.h: the main of the service tools (mms-modem, mms-pushrouter):
// help text, options, then the service until it is told to stop.
#ifndef MMS_TOOLS_DAEMON_MAIN_H_
#define MMS_TOOLS_DAEMON_MAIN_H_

#include <cstdio>
#include <string>
#include <vector>

namespace mms::tools {

// Prints usage for -h or --help (exit 0) and a refused option as
// "name: why" (exit 2); otherwise runs the service and gives its status.
template <class Options>
int DaemonMain(int argc, char** argv, const char* name, const char* usage,
               bool (*parse)(const std::vector<std::string>&, Options*,
                             std::string*),
               int (*run)(const Options&)) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      std::puts(usage);
      return 0;
    }
  }
  Options options;
  std::string error;
  if (!parse(args, &options, &error)) {
    std::fprintf(stderr, "%s: %s\n", name, error.c_str());
    return 2;
  }
  return run(options);
}

}  // namespace mms::tools

#endif  // MMS_TOOLS_DAEMON_MAIN_H_
