// command.h: how mmsctl's subcommands plug in.
//
// Each subcommand lives in its own cmd_<name>.cc and registers itself with
// a static Registration; main.cc only dispatches. Every subcommand answers
// --help, prints errors as one line on stderr and returns an exit code
// (0 success, 1 failure of the operation, 2 bad usage).
#ifndef MMS_TOOLS_MMSCTL_COMMAND_H_
#define MMS_TOOLS_MMSCTL_COMMAND_H_

#include <string>
#include <vector>

namespace mmsctl {

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* summary;           // one line for the command list
  const char* usage;             // full --help text
  int (*run)(const Args& args);  // args after the subcommand name
};

class Registration {
 public:
  explicit Registration(const Command& command);
};

const std::vector<Command>& Commands();

// Exit codes.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// Prints "mmsctl <command>: <message>" on stderr; returns code.
int Fail(const char* command, const std::string& message, int code = kFailed);

// True when args hold -h or --help.
bool WantsHelp(const Args& args);

}  // namespace mmsctl

#endif  // MMS_TOOLS_MMSCTL_COMMAND_H_
