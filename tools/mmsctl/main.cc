// mmsctl: the library's operations from the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/mmsctl/command.h"

namespace mmsctl {

namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}
}  // namespace

Registration::Registration(const Command& command) {
  Registry().push_back(command);
}

const std::vector<Command>& Commands() { return Registry(); }

int Fail(const char* command, const std::string& message, int code) {
  std::fprintf(stderr, "mmsctl %s: %s\n", command, message.c_str());
  return code;
}

bool WantsHelp(const Args& args) {
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      return true;
    }
  }
  return false;
}

}  // namespace mmsctl

namespace {

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: mmsctl <command> [options]\n\n"
               "The device root is $MMS_DEVICE_ROOT "
               "(default ~/.local/share/mms-device).\n\ncommands:\n");
  for (const mmsctl::Command& c : mmsctl::Commands()) {
    std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
  }
  std::fprintf(out, "\n'mmsctl <command> --help' tells more.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return mmsctl::kUsage;
  }
  const std::string name = argv[1];
  if (name == "-h" || name == "--help" || name == "help") {
    PrintUsage(stdout);
    return mmsctl::kOk;
  }
  for (const mmsctl::Command& c : mmsctl::Commands()) {
    if (name == c.name) {
      mmsctl::Args args(argv + 2, argv + argc);
      if (mmsctl::WantsHelp(args)) {
        std::fputs(c.usage, stdout);
        return mmsctl::kOk;
      }
      return c.run(args);
    }
  }
  std::fprintf(stderr, "mmsctl: unknown command '%s'\n", name.c_str());
  PrintUsage(stderr);
  return mmsctl::kUsage;
}
