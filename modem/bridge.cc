// bridge.cc: the bridge's event loop (sd-event) and what it does with each
// SMS.
//
// Signals, not polling, drive it: the bus's NameOwnerChanged tells when
// ModemManager comes and goes, the ObjectManager's InterfacesAdded and
// InterfacesRemoved when modems do, Messaging's Added when an SMS arrives,
// and the SMS's PropertiesChanged when one announced while still arriving
// is complete. The one timer retries the SMS the router could not take.
#include "modem/bridge.h"

#include <signal.h>
#include <systemd/sd-event.h>
#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "diag/log.h"
#include "modem/mm_client.h"
#include "modem/sms_push.h"
#include "platform/device_fs.h"
#include "pushrouter/push_handover.h"
#include "pushrouter/push_store.h"

namespace mms::modem {
namespace {

using pushrouter::HandoverOutcome;

constexpr char kNameOwnerChanged[] =
    "type='signal',sender='org.freedesktop.DBus',"
    "path='/org/freedesktop/DBus',interface='org.freedesktop.DBus',"
    "member='NameOwnerChanged',arg0='org.freedesktop.ModemManager1'";
constexpr char kSmsChanged[] =
    "type='signal',sender='org.freedesktop.ModemManager1',"
    "interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
    "arg0='org.freedesktop.ModemManager1.Sms'";
constexpr char kObjectManager[] = "org.freedesktop.DBus.ObjectManager";

class Bridge {
 public:
  explicit Bridge(const BridgeOptions& options) : options_(options) {}
  ~Bridge() {
    if (event_ != nullptr) {
      sd_event_unref(event_);
    }
  }
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  int Run();

 private:
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool Start();
  void Appeared();
  void Left();
  void AddModem(const std::string& modem);
  void RemoveModem(const std::string& modem);
  void Consider(const std::string& sms, const std::string& modem);
  HandoverOutcome HandOver(const SmsInfo& info);
  void Count(const std::string& name);
  void ArmRetry();

  static int OnOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*);
  static int OnInterfaces(sd_bus_message* m, void* self, sd_bus_error*);
  static int OnSmsAdded(sd_bus_message* m, void* self, sd_bus_error*);
  static int OnSmsChanged(sd_bus_message* m, void* self, sd_bus_error*);
  static int OnDisconnected(sd_bus_message* m, void* self, sd_bus_error*);
  static int OnRetry(sd_event_source*, uint64_t, void* self);
  static int OnStop(sd_event_source*, const signalfd_siginfo*, void* self);

  const BridgeOptions options_;
  MmClient mm_;
  pushrouter::PushStore store_;
  sd_event* event_ = nullptr;
  std::set<std::string> modems_;
  std::map<std::string, std::string> receiving_;  // SMS -> its modem
  std::map<std::string, std::string> later_;      // SMS -> its modem
  bool retry_armed_ = false;
  bool router_missing_told_ = false;
};

void Bridge::Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  diag::PrintProgramLine("mms-modem", format, args);
  va_end(args);
}

void Bridge::Count(const std::string& name) {
  // Counters live in the router's store, beside the router's own.
  if (!store_.AddCounts({{"modem." + name, 1}})) {
    Log("cannot count %s in %s", name.c_str(),
        pushrouter::PushStorePath().c_str());
  }
}

void Bridge::Appeared() {
  std::vector<std::string> modems;
  std::string error;
  if (!mm_.MessagingModems(&modems, &error)) {
    Log("%s", error.c_str());
    return;
  }
  Log("ModemManager is on the bus with %zu modem(s)", modems.size());
  for (const std::string& modem : modems) {
    AddModem(modem);
  }
}

void Bridge::Left() {
  modems_.clear();
  receiving_.clear();
  later_.clear();
}

void Bridge::AddModem(const std::string& modem) {
  if (!modems_.insert(modem).second) {
    return;
  }
  std::vector<std::string> stored;
  std::string error;
  if (!mm_.ListSms(modem, &stored, &error)) {
    Log("%s", error.c_str());
    return;
  }
  if (options_.verbose) {
    Log("modem %s holds %zu SMS", modem.c_str(), stored.size());
  }
  for (const std::string& sms : stored) {
    Consider(sms, modem);
  }
}

void Bridge::RemoveModem(const std::string& modem) {
  if (modems_.erase(modem) == 0) {
    return;
  }
  for (auto* pending : {&receiving_, &later_}) {
    for (auto it = pending->begin(); it != pending->end();) {
      it = it->second == modem ? pending->erase(it) : std::next(it);
    }
  }
  if (options_.verbose) {
    Log("modem %s is gone", modem.c_str());
  }
}

HandoverOutcome Bridge::HandOver(const SmsInfo& info) {
  pushrouter::RouterRow router;
  bool live = false;
  if (!store_.Router(&router, &live) || !live) {
    if (!router_missing_told_) {
      Log("no push router runs for %s; MMS pushes stay on the modem",
          platform::DeviceRoot().c_str());
      router_missing_told_ = true;
    }
    return HandoverOutcome::kLater;
  }
  router_missing_told_ = false;
  HandoverOutcome outcome = HandoverOutcome::kLater;
  std::string error;
  if (!pushrouter::HandOverPush(router.address, router.port, HandoverKey(info),
                                info.data, &outcome, &error)) {
    Log("%s", error.c_str());
    return HandoverOutcome::kLater;
  }
  return outcome;
}

void Bridge::Consider(const std::string& sms, const std::string& modem) {
  receiving_.erase(sms);
  later_.erase(sms);
  SmsInfo info;
  std::string error;
  if (!mm_.ReadSms(sms, &info, &error)) {
    Log("%s", error.c_str());
    return;
  }
  if (info.pdu_type != kSmsPduDeliver) {
    return;  // sent, draft or status report: not ours
  }
  if (info.state == kSmsStateReceiving) {
    receiving_[sms] = modem;  // PropertiesChanged tells when it is complete
    return;
  }
  if (info.state != kSmsStateReceived) {
    return;
  }
  if (ClassifySms(info) != SmsKind::kMmsPush) {
    Count("left-alone");
    if (options_.verbose) {
      Log("left %s from %s alone: not an MMS push", sms.c_str(),
          info.number.c_str());
    }
    return;
  }
  const HandoverOutcome outcome = HandOver(info);
  Count(pushrouter::HandoverOutcomeName(outcome));
  if (outcome == HandoverOutcome::kLater) {
    later_[sms] = modem;
    ArmRetry();
    return;
  }
  if (outcome == HandoverOutcome::kRefused) {
    Log("the router refused the MMS push in %s from %s (%zu bytes); deleting "
        "it",
        sms.c_str(), info.number.c_str(), info.data.size());
  } else if (options_.verbose) {
    Log("%s from %s: %s", sms.c_str(), info.number.c_str(),
        pushrouter::HandoverOutcomeName(outcome));
  }
  if (!mm_.DeleteSms(modem, sms, &error)) {
    Count("delete-failed");
    Log("%s", error.c_str());
  }
}

void Bridge::ArmRetry() {
  if (retry_armed_) {
    return;
  }
  const uint64_t usec = static_cast<uint64_t>(options_.retry_seconds) * 1000000;
  retry_armed_ = sd_event_add_time_relative(event_, nullptr, CLOCK_MONOTONIC,
                                            usec, 0, OnRetry, this) >= 0;
}

int Bridge::OnRetry(sd_event_source*, uint64_t, void* self) {
  auto* bridge = static_cast<Bridge*>(self);
  bridge->retry_armed_ = false;
  const std::map<std::string, std::string> again = bridge->later_;
  for (const auto& [sms, modem] : again) {
    bridge->Consider(sms, modem);
  }
  return 0;
}

int Bridge::OnOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* bridge = static_cast<Bridge*>(self);
  const char* name = nullptr;
  const char* old_owner = nullptr;
  const char* new_owner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &old_owner, &new_owner) < 0) {
    return 0;
  }
  bridge->Left();
  if (new_owner[0] == '\0') {
    bridge->Log("ModemManager left the bus; waiting for it to come back");
  } else {
    bridge->Appeared();
  }
  return 0;
}

int Bridge::OnInterfaces(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* bridge = static_cast<Bridge*>(self);
  const char* path = nullptr;
  std::vector<std::string> interfaces;
  if (sd_bus_message_read_basic(m, 'o', &path) <= 0 ||
      !ReadInterfaceNames(m, &interfaces)) {
    return 0;
  }
  const bool added =
      sd_bus_message_is_signal(m, kObjectManager, "InterfacesAdded") > 0;
  for (const std::string& name : interfaces) {
    if (name == kMessagingInterface) {
      added ? bridge->AddModem(path) : bridge->RemoveModem(path);
    }
  }
  return 0;
}

int Bridge::OnSmsAdded(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* bridge = static_cast<Bridge*>(self);
  const char* sms = nullptr;
  int received = 0;
  const char* modem = sd_bus_message_get_path(m);
  if (sd_bus_message_read(m, "ob", &sms, &received) < 0 || !received ||
      modem == nullptr || bridge->modems_.count(modem) == 0) {
    return 0;
  }
  bridge->Consider(sms, modem);
  return 0;
}

int Bridge::OnSmsChanged(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* bridge = static_cast<Bridge*>(self);
  const char* sms = sd_bus_message_get_path(m);
  if (sms == nullptr) {
    return 0;
  }
  const auto it = bridge->receiving_.find(sms);
  if (it != bridge->receiving_.end()) {
    const std::string modem = it->second;
    bridge->Consider(sms, modem);
  }
  return 0;
}

int Bridge::OnDisconnected(sd_bus_message*, void* self, sd_bus_error*) {
  auto* bridge = static_cast<Bridge*>(self);
  bridge->Log("lost the system bus");
  sd_event_exit(bridge->event_, 1);
  return 0;
}

int Bridge::OnStop(sd_event_source*, const signalfd_siginfo*, void* self) {
  sd_event_exit(static_cast<Bridge*>(self)->event_, 0);
  return 0;
}

bool Bridge::Start() {
  std::string error;
  if (!mm_.Connect(&error)) {
    Log("%s", error.c_str());
    return false;
  }
  pushrouter::ProcessId other;
  bool running = false;
  const std::string path = pushrouter::PushStorePath();
  if (!store_.Open(path) || !store_.Bridge(&other, &running)) {
    Log("cannot open %s", path.c_str());
    return false;
  }
  if (running && other.pid != pushrouter::SelfProcess().pid) {
    Log("a bridge already runs for %s (pid %u)", platform::DeviceRoot().c_str(),
        other.pid);
    return false;
  }
  sd_bus* bus = mm_.bus();
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  const bool ok =
      store_.SetBridge(pushrouter::SelfProcess()) &&
      sigprocmask(SIG_BLOCK, &stop, nullptr) == 0 &&
      sd_event_new(&event_) >= 0 &&
      sd_event_add_signal(event_, nullptr, SIGTERM, OnStop, this) >= 0 &&
      sd_event_add_signal(event_, nullptr, SIGINT, OnStop, this) >= 0 &&
      sd_bus_attach_event(bus, event_, SD_EVENT_PRIORITY_NORMAL) >= 0 &&
      sd_bus_add_match(bus, nullptr, kNameOwnerChanged, OnOwnerChanged, this) >=
          0 &&
      sd_bus_add_match(bus, nullptr, kSmsChanged, OnSmsChanged, this) >= 0 &&
      sd_bus_match_signal(bus, nullptr, kMmService, kMmRoot, kObjectManager,
                          "InterfacesAdded", OnInterfaces, this) >= 0 &&
      sd_bus_match_signal(bus, nullptr, kMmService, kMmRoot, kObjectManager,
                          "InterfacesRemoved", OnInterfaces, this) >= 0 &&
      sd_bus_match_signal(bus, nullptr, kMmService, nullptr,
                          kMessagingInterface, "Added", OnSmsAdded,
                          this) >= 0 &&
      sd_bus_match_signal(bus, nullptr, nullptr, "/org/freedesktop/DBus/Local",
                          "org.freedesktop.DBus.Local", "Disconnected",
                          OnDisconnected, this) >= 0;
  if (!ok) {
    Log("cannot watch the system bus");
    return false;
  }
  bool present = false;
  if (!mm_.Present(&present, &error)) {
    Log("%s", error.c_str());
    return false;
  }
  std::printf("bridging ModemManager to the push router of %s\n",
              platform::DeviceRoot().c_str());
  std::fflush(stdout);
  if (present) {
    Appeared();
  } else {
    Log("waiting for ModemManager on the system bus");
  }
  return true;
}

int Bridge::Run() {
  if (!Start()) {
    return 1;
  }
  const int rc = sd_event_loop(event_);
  return rc == 0 ? 0 : 1;
}

}  // namespace

bool BridgeOptionsFromArgs(const std::vector<std::string>& args,
                           BridgeOptions* options, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--verbose") {
      options->verbose = true;
    } else if (args[i] == "--retry" && i + 1 < args.size()) {
      char* end = nullptr;
      const long value = std::strtol(args[++i].c_str(), &end, 10);
      if (args[i].empty() || *end != '\0' || value < 1 || value > 86400) {
        *error = "--retry needs seconds (1-86400): " + args[i];
        return false;
      }
      options->retry_seconds = static_cast<int>(value);
    } else {
      *error = "unexpected argument: " + args[i];
      return false;
    }
  }
  return true;
}

int RunBridge(const BridgeOptions& options) {
  Bridge bridge(options);
  return bridge.Run();
}

}  // namespace mms::modem
