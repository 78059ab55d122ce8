// compose_options.h: the composing options that `save` and `send` share:
// recipients, subject, slides with files and texts, durations and the
// sending options, parsed from the command line into a message record.
#ifndef MMS_TOOLS_MMSCTL_COMPOSE_OPTIONS_H_
#define MMS_TOOLS_MMSCTL_COMPOSE_OPTIONS_H_

#include <string>

#include "mms.h"
#include "tools/mmsctl/command.h"

namespace mmsctl {

// Parses the composing options and fills the message from them (host
// files are copied into the device root first); errors are reported under
// command's name. Returns kOk or the exit code of the reported error.
int ComposeFromCommandLine(const char* command, const Args& args,
                           MMS_Custom_Data* m);

// The composing options' help lines, spliced into each command's usage.
#define MMSCTL_COMPOSE_OPTIONS_HELP                                      \
  "  --to NUMBER             recipient (digits and '+'; +86 is added)\n" \
  "  --cc NUMBER             a Cc recipient (repeatable)\n"              \
  "  --subject TEXT          subject\n"                                  \
  "  --slide FILE[,FILE...]  the next slide's files (repeatable)\n"      \
  "  --text SLIDE TEXT       typed text on a slide\n"                    \
  "  --duration SLIDE MS     a slide's duration (default 30000)\n"       \
  "  --priority low|normal|high\n"                                       \
  "  --expiry HOURS          expires this many hours after sending\n"    \
  "  --delivery-time hour|day  deliver after one hour or one day\n"      \
  "  --class personal|advertisement|informational|auto\n"                \
  "  --hide-sender           ask the centre to hide the sender\n"        \
  "  --delivery-report       ask for a delivery report\n"                \
  "  --read-report           ask for a read report\n"

// A whole number in [min, max]; false for anything else.
bool ParseNumber(const std::string& text, long min, long max, int* value);

}  // namespace mmsctl

#endif  // MMS_TOOLS_MMSCTL_COMPOSE_OPTIONS_H_
