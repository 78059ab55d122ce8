// cmd_save.cc: `mmsctl save`: composes a message from the command line and
// saves it with CMMS::MMS_Save. Host files are copied into the device root
// first (the library reads device paths only).
#include <memory>
#include <string>

#include "mms.h"
#include "platform/winapi.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/compose.h"
#include "tools/mmsctl/compose_options.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "save";

int Run(const Args& args) {
  auto message = std::make_unique<MMS_Custom_Data>();
  const int code = ComposeFromCommandLine(kName, args, message.get());
  if (code != kOk) {
    return code;
  }
  wchar_t saved[MAX_PATH] = {};
  if (CMMS::MMS_Save(message.get(), saved, nullptr) != 0) {
    return Fail(kName, "the message could not be encoded or stored");
  }
  message.release();  // MMS_Save deleted it
  PrintSaved(saved, stdout);
  return kOk;
}

const Registration kRegistration({
    kName,
    "compose a message from files and text and save it",
    "usage: mmsctl save --to NUMBER [options]\n"
    "\n"
    "Composes a message and saves it in \\Windows\\Messaging\\ of the device\n"
    "root; prints its device path, host path and size. Files are copied\n"
    "into \\Temp\\mmsctl\\ of the device root first. Slides count from 0.\n"
    "\n" MMSCTL_COMPOSE_OPTIONS_HELP
    "\n"
    "Exit codes: 0 saved, 1 failed (missing file, encoding, storing),\n"
    "2 bad usage.\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
