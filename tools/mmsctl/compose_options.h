// compose_options.h: the composing options that `save` and `send` share:
// recipients, subject, slides with files and texts, durations and the
// sending options, parsed from the command line into a message record.
#ifndef MMS_TOOLS_MMSCTL_COMPOSE_OPTIONS_H_
#define MMS_TOOLS_MMSCTL_COMPOSE_OPTIONS_H_

#include <string>
#include <utility>
#include <vector>

#include "mms.h"
#include "tools/mmsctl/command.h"

namespace mmsctl {

// One addition to a slide, in command-line order.
struct Addition {
  int slide;
  bool is_text;       // typed text, else a host file
  std::string value;  // the text or the host path
};

struct ComposeRequest {
  std::string to;
  std::vector<std::string> cc;
  std::string subject;
  std::vector<Addition> additions;
  std::vector<std::pair<int, int>> durations;  // slide, ms
  MMS_Option option = {};
  bool has_option = false;
};

// Parses the composing options; errors are reported under command's name.
// Returns kOk or the exit code of a usage error (already reported).
int ParseCompose(const char* command, const Args& args, ComposeRequest* r);

// Fills the message (host files are copied into the device root first);
// returns kOk or the exit code of a reported error.
int ComposeMessage(const char* command, const ComposeRequest& r,
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
