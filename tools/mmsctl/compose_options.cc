// compose_options.cc: parsing the composing options of `save` and `send`
// and filling a message record from them.
//
// Slides are numbered from 0; each --slide adds the next slide, --text and
// --duration name a slide by its number.
#include "tools/mmsctl/compose_options.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/winapi.h"
#include "tools/mmsctl/compose.h"

namespace mmsctl {
namespace {

constexpr int kMaxSlides = 32;

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

}  // namespace

bool ParseNumber(const std::string& text, long min, long max, int* value) {
  if (text.empty()) {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  long n = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || n < min || n > max) {
    return false;
  }
  *value = static_cast<int>(n);
  return true;
}

namespace {

// Returns kOk or the exit code of a usage error (already reported).
int ParseCompose(const char* command, const Args& args, ComposeRequest* r) {
  int next_slide = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto need = [&](size_t count) { return i + count < args.size(); };
    auto missing = [&]() {
      return Fail(command, a + " needs a value (see --help)", kUsage);
    };
    auto pick = [&](const char* const* words, int count, int* value) {
      for (int w = 0; w < count; ++w) {
        if (args[i + 1] == words[w]) {
          *value = w + 1;
          return true;
        }
      }
      return false;
    };
    int number = 0;
    if (a == "--to") {
      if (!need(1)) {
        return missing();
      }
      r->to = args[++i];
    } else if (a == "--cc") {
      if (!need(1)) {
        return missing();
      }
      r->cc.push_back(args[++i]);
    } else if (a == "--subject") {
      if (!need(1)) {
        return missing();
      }
      r->subject = args[++i];
    } else if (a == "--slide") {
      if (!need(1)) {
        return missing();
      }
      if (next_slide >= kMaxSlides) {
        return Fail(command, "at most 32 slides", kUsage);
      }
      std::string list = args[++i];
      size_t start = 0;
      for (;;) {
        size_t comma = list.find(',', start);
        std::string file = list.substr(start, comma - start);
        if (file.empty()) {
          return Fail(command, "empty file name in --slide " + list, kUsage);
        }
        r->additions.push_back({next_slide, false, file});
        if (comma == std::string::npos) {
          break;
        }
        start = comma + 1;
      }
      ++next_slide;
    } else if (a == "--text" || a == "--duration") {
      if (!need(2)) {
        return Fail(command, a + " needs a slide number and a value", kUsage);
      }
      int slide = 0;
      if (!ParseNumber(args[i + 1], 0, kMaxSlides - 1, &slide)) {
        return Fail(command, "bad slide number '" + args[i + 1] + "' (0-31)",
                    kUsage);
      }
      if (a == "--text") {
        r->additions.push_back({slide, true, args[i + 2]});
      } else {
        if (!ParseNumber(args[i + 2], 1, 3600000, &number)) {
          return Fail(command, "bad duration '" + args[i + 2] + "' (ms)",
                      kUsage);
        }
        r->durations.emplace_back(slide, number);
      }
      i += 2;
    } else if (a == "--priority") {
      static const char* const kWords[] = {"low", "high", "normal"};
      if (!need(1)) {
        return missing();
      }
      if (!pick(kWords, 3, &r->option.nPriority)) {
        return Fail(command,
                    "bad priority '" + args[i + 1] + "' (low, normal, high)",
                    kUsage);
      }
      ++i;
      r->has_option = true;
    } else if (a == "--expiry") {
      if (!need(1)) {
        return missing();
      }
      if (!ParseNumber(args[i + 1], 1, 596523, &r->option.nExpiry)) {
        return Fail(command, "bad expiry '" + args[i + 1] + "' (hours)",
                    kUsage);
      }
      ++i;
      r->has_option = true;
    } else if (a == "--delivery-time") {
      static const char* const kWords[] = {"hour", "day"};
      if (!need(1)) {
        return missing();
      }
      if (!pick(kWords, 2, &r->option.nDeliveryTime)) {
        return Fail(command,
                    "bad delivery time '" + args[i + 1] + "' (hour, day)",
                    kUsage);
      }
      ++i;
      r->has_option = true;
    } else if (a == "--class") {
      static const char* const kWords[] = {"advertisement", "informational",
                                           "auto", "personal"};
      if (!need(1)) {
        return missing();
      }
      if (!pick(kWords, 4, &r->option.nMessageClass)) {
        return Fail(command,
                    "bad class '" + args[i + 1] +
                        "' (personal, advertisement, informational, "
                        "auto)",
                    kUsage);
      }
      ++i;
      r->has_option = true;
    } else if (a == "--hide-sender") {
      r->option.bHideSender = 1;
      r->has_option = true;
    } else if (a == "--delivery-report") {
      r->option.bDeliveryReport = 1;
      r->has_option = true;
    } else if (a == "--read-report") {
      r->option.bReadReport = 1;
      r->has_option = true;
    } else {
      return Fail(command, "unknown argument '" + a + "' (see --help)", kUsage);
    }
  }
  if (r->to.empty()) {
    return Fail(command, "--to is required", kUsage);
  }
  return kOk;
}

// Fills the message; returns kOk or the reported exit code.
int ComposeMessage(const char* command, const ComposeRequest& r,
                   MMS_Custom_Data* m) {
  std::wstring to = Wide(r.to);
  if (m->SetPhoneNumber(to.data()) != 1) {
    return Fail(command, "not a phone number: '" + r.to + "'", kUsage);
  }
  for (const std::string& number : r.cc) {
    std::wstring cc = Wide(number);
    if (number.empty()) {
      return Fail(command, "empty --cc number", kUsage);
    }
    if (m->AddCcName(cc.data()) != 1) {
      return Fail(command, "too many Cc recipients at '" + number + "'",
                  kUsage);
    }
  }
  m->SetCcNumber(static_cast<int>(r.cc.size()));
  if (!r.subject.empty()) {
    std::wstring subject = Wide(r.subject);
    if (m->SetSubject(subject.data()) != 1) {
      return Fail(command, "subject not accepted (at most 259 UTF-8 bytes)",
                  kUsage);
    }
  }
  if (r.has_option) {
    auto* option =
        static_cast<MMS_Option*>(LocalAlloc(LPTR, sizeof(MMS_Option)));
    if (option == nullptr) {
      return Fail(command, "out of memory");
    }
    *option = r.option;
    m->m_pOption = option;
    if (r.option.bReadReport != 0) {
      m->SetReadReport(1);
    }
  }
  for (const Addition& add : r.additions) {
    if (add.is_text) {
      std::wstring text = Wide(add.value);
      if (m->AddPartTxt(add.slide, text.data(), 0) != 1) {
        return Fail(command, "cannot add the text of slide " +
                                 std::to_string(add.slide));
      }
      continue;
    }
    std::wstring device;
    std::string error;
    if (!CopyIntoDevice(add.value, &device, &error)) {
      return Fail(command, error);
    }
    if (m->AddPartFileName(add.slide, device.data()) != 1) {
      return Fail(command, "cannot add " + add.value + " to slide " +
                               std::to_string(add.slide));
    }
  }
  for (const auto& [slide, ms] : r.durations) {
    if (m->m_pSmilPart[slide] == nullptr) {
      return Fail(
          command,
          "--duration: slide " + std::to_string(slide) + " holds nothing",
          kUsage);
    }
    m->m_pSmilPart[slide]->SetPartTime(ms);
  }
  return kOk;
}

}  // namespace

int ComposeFromCommandLine(const char* command, const Args& args,
                           MMS_Custom_Data* m) {
  ComposeRequest request;
  const int code = ParseCompose(command, args, &request);
  return code != kOk ? code : ComposeMessage(command, request, m);
}

}  // namespace mmsctl
