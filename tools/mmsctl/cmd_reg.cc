// cmd_reg.cc: `mmsctl reg`: the library's registry values, listed once or
// watched as the maker's programs watch them.
//
// --watch polls the "state" values through the registry calls (a fresh
// read each time, as another process would make it) and prints a group
// whenever its state changes; the group's other values are read after the
// state, so what is printed is what a reader acting on the change sees.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "client/registry_values.h"
#include "platform/registry.h"
#include "platform/text_convert.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/net_wait.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "reg";

namespace client = mms::client;

struct Group {
  const wchar_t* state;
  std::vector<const wchar_t*> values;  // in the order they are written
};

const std::vector<Group>& Groups() {
  static const std::vector<Group> groups = {
      {client::kReciveState, {client::kNewMmsName, client::kNewMms}},
      {client::kSendState, {client::kMessageId, client::kSendOk}},
      {client::kWapState,
       {client::kWapPhone, client::kWapUrl, client::kDeliveryReportPhone,
        client::kDeliveryReportMsgId, client::kDeliveryReportStatue,
        client::kWapType}},
  };
  return groups;
}

std::string Utf8(const std::wstring& wide) {
  std::string out;
  if (!mms::platform::WideToUtf8Text(wide, &out)) {
    out = "<not convertible>";
  }
  return out;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char part[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(part, sizeof(part), i == 0 ? "%02x" : " %02x", bytes[i]);
    out += part;
  }
  return out;
}

// "REG_DWORD  130 (0x00000082)" and the like; bytes as a reader gets them
// (wchar_t for REG_SZ).
std::string Describe(DWORD type, const std::vector<uint8_t>& bytes) {
  char text[64];
  switch (type) {
    case REG_DWORD: {
      if (bytes.size() != 4) {
        return "REG_DWORD   <" + std::to_string(bytes.size()) + " bytes>";
      }
      const DWORD v = bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                      static_cast<DWORD>(bytes[3]) << 24;
      std::snprintf(text, sizeof(text), "REG_DWORD   %u (0x%08x)", v, v);
      return text;
    }
    case REG_SZ: {
      std::wstring wide(bytes.size() / sizeof(wchar_t), L'\0');
      std::copy(bytes.begin(), bytes.begin() + wide.size() * sizeof(wchar_t),
                reinterpret_cast<uint8_t*>(wide.data()));
      return "REG_SZ      \"" + Utf8(wide) + "\"";
    }
    case REG_BINARY:
      return "REG_BINARY  " + Hex(bytes);
    default:
      return "type " + std::to_string(type) + "  " + Hex(bytes);
  }
}

int List() {
  std::vector<mms::platform::StoredValue> values;
  if (!mms::platform::ListStoredValues(client::kMmsKey, &values)) {
    return Fail(kName, "cannot read the registry database");
  }
  for (const auto& v : values) {
    DWORD type = REG_NONE;
    std::vector<uint8_t> bytes;
    const std::string shown = ReadValue(v.name.c_str(), &type, &bytes)
                                  ? Describe(type, bytes)
                                  : "<unreadable>";
    std::printf("%-22s %s\n", Utf8(v.name).c_str(), shown.c_str());
  }
  return kOk;
}

std::string StateOf(const wchar_t* name) {
  DWORD type = REG_NONE;
  std::vector<uint8_t> bytes;
  return ReadValue(name, &type, &bytes) ? Describe(type, bytes) : "";
}

int Watch(long interval_ms, long count) {
  std::vector<std::string> last;
  for (const Group& g : Groups()) {
    last.push_back(StateOf(g.state));
  }
  std::printf("watching %ls (interrupt to stop)\n", client::kMmsKey);
  std::fflush(stdout);
  long printed = 0;
  while (count == 0 || printed < count) {
    std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms));
    for (size_t i = 0; i < Groups().size(); ++i) {
      const Group& g = Groups()[i];
      const std::string state = StateOf(g.state);
      if (state == last[i]) {
        continue;
      }
      last[i] = state;
      const std::time_t now = std::time(nullptr);
      char stamp[16];
      std::strftime(stamp, sizeof(stamp), "%H:%M:%S", std::localtime(&now));
      std::printf("%s %ls changed\n", stamp, g.state);
      for (const wchar_t* name : g.values) {
        DWORD type = REG_NONE;
        std::vector<uint8_t> bytes;
        if (ReadValue(name, &type, &bytes)) {
          std::printf("  %-22ls %s\n", name, Describe(type, bytes).c_str());
        }
      }
      std::printf("  %-22ls %s\n", g.state, state.c_str());
      std::fflush(stdout);
      if (++printed == count) {
        break;
      }
    }
  }
  return kOk;
}

bool ParseNumber(const std::string& text, long low, long* value) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < low) {
    return false;
  }
  *value = v;
  return true;
}

int Run(const Args& args) {
  bool watch = false;
  long interval_ms = 200;
  long count = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--watch") {
      watch = true;
    } else if ((a == "--interval" || a == "--count") && i + 1 < args.size()) {
      long* target = a == "--interval" ? &interval_ms : &count;
      if (!ParseNumber(args[++i], a == "--interval" ? 10 : 1, target)) {
        return Fail(kName, "bad number for " + a + ": " + args[i], kUsage);
      }
    } else {
      return Fail(kName, "unknown argument '" + a + "' (see --help)", kUsage);
    }
  }
  if (!watch && (interval_ms != 200 || count != 0)) {
    return Fail(kName, "--interval and --count go with --watch", kUsage);
  }
  return watch ? Watch(interval_ms, count) : List();
}

const Registration kRegistration({
    kName,
    "list or watch the library's registry values",
    "usage: mmsctl reg [--watch [--interval MS] [--count N]]\n"
    "\n"
    "Lists the values under HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnholt\\MMS in\n"
    "the order they were last written: name, type and value.\n"
    "\n"
    "  --watch        print a group each time its state value (ReciveState,\n"
    "                 SendState, WapState) changes, with the values it\n"
    "                 announces as a reader of the registry sees them\n"
    "  --interval MS  poll every MS milliseconds (default 200, at least 10)\n"
    "  --count N      stop after N groups\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
