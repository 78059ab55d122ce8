// cmd_connections.cc: `mmsctl connections`: the device's connection
// entries as the Connection Manager stand-in sees them, and adding one.
//
// An added entry gets its own destination network (a fresh GUID unless
// --dest names one); a request for that destination then walks the entry's
// status script.
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "connmgr/connmgr_entries.h"
#include "platform/text_convert.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/compose.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "connections";

namespace connmgr = mms::connmgr;

std::string TypeName(DWORD type) {
  switch (type) {
    case CM_CONNTYPE_CELLULAR:
      return "cellular";
    case CM_CONNTYPE_NIC:
      return "nic";
    default:
      return "type " + std::to_string(type);
  }
}

GUID FreshGuid() {
  std::random_device random;
  GUID guid;
  guid.Data1 = random();
  guid.Data2 = static_cast<WORD>(random());
  guid.Data3 = static_cast<WORD>((random() & 0x0FFF) | 0x4000);  // v4
  for (BYTE& b : guid.Data4) {
    b = static_cast<BYTE>(random());
  }
  guid.Data4[0] = static_cast<BYTE>((guid.Data4[0] & 0x3F) | 0x80);
  return guid;
}

int List() {
  std::vector<connmgr::Entry> entries;
  std::vector<connmgr::Destination> destinations;
  if (!connmgr::ListEntries(&entries) ||
      !connmgr::ListDestinations(&destinations)) {
    return Fail(kName, "cannot read the registry database");
  }
  std::printf("%-20s %-9s %-10s %-38s %s\n", "NAME", "TYPE", "APN",
              "DESTINATION", "STATUS SCRIPT");
  for (const connmgr::Entry& e : entries) {
    const std::string script = e.script.empty()
                                   ? "connects"
                                   : Utf8(connmgr::StatusScriptText(e.script));
    std::printf("%-20s %-9s %-10s %-38s %s%s\n", Utf8(e.name).c_str(),
                TypeName(e.type).c_str(), Utf8(e.apn).c_str(),
                Utf8(connmgr::GuidText(e.dest)).c_str(), script.c_str(),
                e.provisioned ? " (provisioned)" : "");
  }
  std::printf("\ndestination networks:\n");
  for (const connmgr::Destination& d : destinations) {
    std::printf("  %-38s %s\n", Utf8(connmgr::GuidText(d.guid)).c_str(),
                Utf8(d.name).c_str());
  }
  return kOk;
}

int Add(const Args& args) {
  connmgr::Entry entry;
  bool has_apn = false;
  bool has_dest = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (i + 1 >= args.size() || a.rfind("--", 0) != 0) {
      if (a.rfind("--", 0) == 0) {
        return Fail(kName, a + " needs a value", kUsage);
      }
      return Fail(kName, "unknown argument '" + a + "' (see --help)", kUsage);
    }
    const std::string& value = args[++i];
    std::wstring wide;
    if (!mms::platform::Utf8ToWideText(value, &wide)) {
      return Fail(kName, "not UTF-8: " + value, kUsage);
    }
    if (a == "--apn") {
      entry.apn = wide;
      has_apn = true;
    } else if (a == "--status-script") {
      if (!connmgr::ParseStatusScript(wide, &entry.script)) {
        return Fail(kName,
                    "bad status script '" + value + "' (e.g. 0x40,0x40,0x10)",
                    kUsage);
      }
    } else if (a == "--dest") {
      if (!connmgr::ParseGuid(wide, &entry.dest)) {
        return Fail(kName, "bad GUID '" + value + "'", kUsage);
      }
      has_dest = true;
    } else if (a == "--type") {
      std::vector<DWORD> type;
      if (!connmgr::ParseStatusScript(wide, &type) || type.size() != 1) {
        return Fail(kName, "bad type '" + value + "'", kUsage);
      }
      entry.type = type[0];
    } else {
      return Fail(kName, "unknown argument '" + a + "' (see --help)", kUsage);
    }
  }
  if (args.empty() || !mms::platform::Utf8ToWideText(args[0], &entry.name) ||
      entry.name.empty() || entry.name.find(L'\\') != std::wstring::npos) {
    return Fail(kName, "add needs an entry name without '\\'", kUsage);
  }
  if (!has_apn) {
    return Fail(kName, "add needs --apn", kUsage);
  }
  if (!has_dest) {
    entry.dest = FreshGuid();
  }
  if (!connmgr::WriteEntry(entry)) {
    return Fail(kName, "cannot write the entry to the registry");
  }
  std::printf("%s %s\n", Utf8(entry.name).c_str(),
              Utf8(connmgr::GuidText(entry.dest)).c_str());
  return kOk;
}

int Run(const Args& args) {
  if (args.empty()) {
    return List();
  }
  if (args[0] == "add") {
    return Add(Args(args.begin() + 1, args.end()));
  }
  return Fail(kName, "unknown argument '" + args[0] + "' (see --help)", kUsage);
}

const Registration kRegistration({
    kName,
    "list or add the device's connection entries",
    "usage: mmsctl connections\n"
    "       mmsctl connections add NAME --apn APN [--status-script LIST]\n"
    "                              [--dest GUID] [--type N]\n"
    "\n"
    "Without arguments, lists the connection entries (name, type, access\n"
    "point, destination network, status script) and the destination\n"
    "networks. A new device has one cellular entry \"GPRS\" with access\n"
    "point \"cmwap\" that connects at once.\n"
    "\n"
    "  add NAME           add or rewrite a connection entry\n"
    "  --apn APN          its access point name\n"
    "  --status-script L  statuses a connection walks through, one per\n"
    "                     status read, the last repeating: e.g.\n"
    "                     0x40,0x40,0x10 (waiting twice, then connected);\n"
    "                     0x22 canceled, 0x81 aborted, 0x26 phone busy.\n"
    "                     Default: connected at once\n"
    "  --dest GUID        destination network, {XXXXXXXX-XXXX-...};\n"
    "                     default a new one\n"
    "  --type N           connection type (default 1, cellular)\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
