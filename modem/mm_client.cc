// mm_client.cc: ModemManager calls and the reading of their answers.
#include "modem/mm_client.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace mms::modem {
namespace {

struct MessageUnref {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// Frees the error's texts when it goes.
class BusError {
 public:
  BusError() = default;
  ~BusError() { sd_bus_error_free(&error_); }
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;
  sd_bus_error* get() { return &error_; }
  std::string Text(int rc) const {
    return error_.message != nullptr ? error_.message : std::strerror(-rc);
  }

 private:
  sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

bool Fail(const std::string& what, const std::string& why, std::string* error) {
  *error = what + ": " + why;
  return false;
}

bool Decoded(int rc, const std::string& what, std::string* error) {
  return rc >= 0 || Fail(what, "unexpected answer", error);
}

// One property value of an a{sv} entry, the key already read.
int ReadSmsProperty(sd_bus_message* m, const char* key, SmsInfo* info) {
  const char* type = nullptr;
  if (std::strcmp(key, "State") == 0 || std::strcmp(key, "PduType") == 0) {
    type = "u";
  } else if (std::strcmp(key, "Number") == 0 ||
             std::strcmp(key, "Timestamp") == 0) {
    type = "s";
  } else if (std::strcmp(key, "Data") == 0) {
    type = "ay";
  } else {
    return sd_bus_message_skip(m, "v");
  }
  int rc = sd_bus_message_enter_container(m, 'v', type);
  if (rc <= 0) {
    return rc < 0 ? rc : -EINVAL;
  }
  if (type[0] == 'u') {
    rc = sd_bus_message_read_basic(
        m, 'u',
        std::strcmp(key, "State") == 0 ? &info->state : &info->pdu_type);
  } else if (type[0] == 's') {
    const char* text = nullptr;
    rc = sd_bus_message_read_basic(m, 's', &text);
    if (rc > 0) {
      (std::strcmp(key, "Number") == 0 ? info->number : info->timestamp) = text;
    }
  } else {
    const void* bytes = nullptr;
    size_t size = 0;
    rc = sd_bus_message_read_array(m, 'y', &bytes, &size);
    if (rc >= 0) {
      const auto* b = static_cast<const uint8_t*>(bytes);
      info->data.assign(b, b + size);
    }
  }
  return rc < 0 ? rc : sd_bus_message_exit_container(m);
}

}  // namespace

MmClient::~MmClient() {
  if (bus_ != nullptr) {
    sd_bus_flush_close_unref(bus_);
  }
}

bool MmClient::Connect(std::string* error) {
  const int rc = sd_bus_open_system(&bus_);
  if (rc < 0) {
    bus_ = nullptr;
    return Fail("cannot connect to the system bus", std::strerror(-rc), error);
  }
  return true;
}

bool MmClient::Present(bool* present, std::string* error) {
  BusError e;
  sd_bus_message* raw = nullptr;
  const int rc = sd_bus_call_method(
      bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
      "org.freedesktop.DBus", "NameHasOwner", e.get(), &raw, "s", kMmService);
  Message reply(raw);
  if (rc < 0) {
    return Fail("cannot ask the bus for ModemManager", e.Text(rc), error);
  }
  int has = 0;
  if (!Decoded(sd_bus_message_read(reply.get(), "b", &has), "NameHasOwner",
               error)) {
    return false;
  }
  *present = has != 0;
  return true;
}

bool ReadInterfaceNames(sd_bus_message* m, std::vector<std::string>* names) {
  char type = 0;
  const char* contents = nullptr;
  if (sd_bus_message_peek_type(m, &type, &contents) <= 0 || type != 'a') {
    return false;
  }
  const bool dict = std::strcmp(contents, "{sa{sv}}") == 0;
  if (!dict && std::strcmp(contents, "s") != 0) {
    return false;
  }
  if (sd_bus_message_enter_container(m, 'a', contents) <= 0) {
    return false;
  }
  int rc = 0;
  for (;;) {
    const char* name = nullptr;
    if (dict) {
      rc = sd_bus_message_enter_container(m, 'e', "sa{sv}");
      if (rc <= 0) {
        break;
      }
      rc = sd_bus_message_read_basic(m, 's', &name);
      if (rc < 0 || (rc = sd_bus_message_skip(m, "a{sv}")) < 0 ||
          (rc = sd_bus_message_exit_container(m)) < 0) {
        break;
      }
    } else if ((rc = sd_bus_message_read_basic(m, 's', &name)) <= 0) {
      break;
    }
    names->push_back(name);
  }
  return rc >= 0 && sd_bus_message_exit_container(m) >= 0;
}

bool MmClient::MessagingModems(std::vector<std::string>* modems,
                               std::string* error) {
  BusError e;
  sd_bus_message* raw = nullptr;
  const int rc = sd_bus_call_method(
      bus_, kMmService, kMmRoot, "org.freedesktop.DBus.ObjectManager",
      "GetManagedObjects", e.get(), &raw, nullptr);
  Message reply(raw);
  if (rc < 0) {
    return Fail("cannot list ModemManager's objects", e.Text(rc), error);
  }
  modems->clear();
  sd_bus_message* m = reply.get();
  int step = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
  while (step > 0 &&
         (step = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
    const char* path = nullptr;
    std::vector<std::string> interfaces;
    if (sd_bus_message_read_basic(m, 'o', &path) <= 0 ||
        !ReadInterfaceNames(m, &interfaces) ||
        sd_bus_message_exit_container(m) < 0) {
      step = -EINVAL;
      break;
    }
    for (const std::string& name : interfaces) {
      if (name == kMessagingInterface) {
        modems->push_back(path);
      }
    }
  }
  return Decoded(step, "GetManagedObjects", error);
}

bool MmClient::ListSms(const std::string& modem, std::vector<std::string>* sms,
                       std::string* error) {
  BusError e;
  sd_bus_message* raw = nullptr;
  const int rc =
      sd_bus_call_method(bus_, kMmService, modem.c_str(), kMessagingInterface,
                         "List", e.get(), &raw, nullptr);
  Message reply(raw);
  if (rc < 0) {
    return Fail("cannot list the SMS of " + modem, e.Text(rc), error);
  }
  sms->clear();
  int step = sd_bus_message_enter_container(reply.get(), 'a', "o");
  const char* path = nullptr;
  while (step > 0 &&
         (step = sd_bus_message_read_basic(reply.get(), 'o', &path)) > 0) {
    sms->push_back(path);
  }
  return Decoded(step, "List", error);
}

bool MmClient::ReadSms(const std::string& sms, SmsInfo* info,
                       std::string* error) {
  BusError e;
  sd_bus_message* raw = nullptr;
  const int rc = sd_bus_call_method(bus_, kMmService, sms.c_str(),
                                    "org.freedesktop.DBus.Properties", "GetAll",
                                    e.get(), &raw, "s", kSmsInterface);
  Message reply(raw);
  if (rc < 0) {
    return Fail("cannot read " + sms, e.Text(rc), error);
  }
  *info = SmsInfo();
  sd_bus_message* m = reply.get();
  int step = sd_bus_message_enter_container(m, 'a', "{sv}");
  while (step > 0 &&
         (step = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    if (sd_bus_message_read_basic(m, 's', &key) <= 0 ||
        ReadSmsProperty(m, key, info) < 0 ||
        sd_bus_message_exit_container(m) < 0) {
      step = -EINVAL;
      break;
    }
  }
  return Decoded(step, "the properties of " + sms, error);
}

bool MmClient::DeleteSms(const std::string& modem, const std::string& sms,
                         std::string* error) {
  BusError e;
  sd_bus_message* raw = nullptr;
  const int rc =
      sd_bus_call_method(bus_, kMmService, modem.c_str(), kMessagingInterface,
                         "Delete", e.get(), &raw, "o", sms.c_str());
  Message reply(raw);
  return rc >= 0 || Fail("cannot delete " + sms, e.Text(rc), error);
}

}  // namespace mms::modem
