// cmd_reg.cc: `mmsctl reg`: the library's registry values, listed once or
// watched as the maker's programs watch them.
//
// --watch polls the key in one read transaction each time (a fresh read,
// as another process would make it) and prints a group whenever its state
// changes, with the values read in that same transaction: the library
// writes each group in one transaction, so a group is never printed mixed
// from two writes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/text_convert.h"
#include "store/registry_values.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/compose.h"
#include "tools/mmsctl/dump_values.h"
#include "tools/mmsctl/net_wait.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "reg";

namespace store = mms::store;

struct Group {
  const wchar_t* state;
  std::vector<const wchar_t*> values;  // in the order they are written
};

const std::vector<Group>& Groups() {
  static const std::vector<Group> groups = {
      {store::kReciveState, {store::kNewMmsName, store::kNewMms}},
      {store::kSendState, {store::kMessageId, store::kSendOk}},
      {store::kWapState,
       {store::kWapPhone, store::kWapUrl, store::kDeliveryReportPhone,
        store::kDeliveryReportMsgId, store::kDeliveryReportStatue,
        store::kWapType}},
  };
  return groups;
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
      return "REG_SZ      \"" + dump::Escaped(Utf8(wide)) + "\"";
    }
    case REG_BINARY:
      return "REG_BINARY  " + Hex(bytes);
    default:
      return "type " + std::to_string(type) + "  " + Hex(bytes);
  }
}

int List() {
  std::vector<mms::platform::StoredValue> values;
  if (!mms::platform::ListStoredValues(store::kMmsKey, &values)) {
    return Fail(kName, "cannot read the registry database");
  }
  for (const auto& v : values) {
    DWORD type = REG_NONE;
    std::vector<uint8_t> bytes;
    const std::string shown = ReadValue(v.name.c_str(), &type, &bytes)
                                  ? Describe(type, bytes)
                                  : "<unreadable>";
    std::printf("%-22s %s\n", dump::Escaped(Utf8(v.name)).c_str(),
                shown.c_str());
  }
  return kOk;
}

// The key's values as one read transaction saw them.
class Snapshot {
 public:
  bool Read() {
    return mms::platform::ListStoredValues(store::kMmsKey, &values_);
  }
  // "" when the value is missing.
  std::string Describe(const wchar_t* name) const {
    for (const auto& v : values_) {
      if (wcscasecmp(v.key.c_str(), store::kMmsKey) == 0 &&
          wcscasecmp(v.name.c_str(), name) == 0) {
        return mmsctl::Describe(v.type, ReaderBytes(v));
      }
    }
    return "";
  }

 private:
  // The bytes a registry reader gets: REG_SZ as wchar_t.
  static std::vector<uint8_t> ReaderBytes(const mms::platform::StoredValue& v) {
    std::string wide;
    if (v.type != REG_SZ || mms::platform::ConvertText(
                                "UTF-16LE", mms::platform::kWideCharset,
                                v.data.data(), v.data.size() & ~size_t{1},
                                &wide) != mms::platform::ConvertResult::kOk) {
      return v.data;
    }
    return std::vector<uint8_t>(wide.begin(), wide.end());
  }

  std::vector<mms::platform::StoredValue> values_;
};

int Watch(long interval_ms, long count) {
  std::vector<std::string> last;
  Snapshot snapshot;
  (void)snapshot.Read();
  for (const Group& g : Groups()) {
    last.push_back(snapshot.Describe(g.state));
  }
  std::printf("watching %ls (interrupt to stop)\n", store::kMmsKey);
  std::fflush(stdout);
  long printed = 0;
  while (count == 0 || printed < count) {
    std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms));
    if (!snapshot.Read()) {
      continue;
    }
    for (size_t i = 0; i < Groups().size(); ++i) {
      const Group& g = Groups()[i];
      const std::string state = snapshot.Describe(g.state);
      if (state == last[i]) {
        continue;
      }
      last[i] = state;
      const std::time_t now = std::time(nullptr);
      char stamp[16];
      std::strftime(stamp, sizeof(stamp), "%H:%M:%S", std::localtime(&now));
      std::printf("%s %ls changed\n", stamp, g.state);
      for (const wchar_t* name : g.values) {
        const std::string shown = snapshot.Describe(name);
        if (!shown.empty()) {
          std::printf("  %-22ls %s\n", name, shown.c_str());
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
