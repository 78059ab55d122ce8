// cmd_push.cc: `mmsctl push FILE`: sends a push from a file to the running
// push router, as a gateway would, in one UDP datagram.
//
// The file holds either a whole connectionless WSP Push PDU (second byte
// 0x06), sent as it is, or a bare MMS PDU (first byte 0x8C), which is
// wrapped in a Push PDU for "application/vnd.wap.mms-message".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "platform/whole_file.h"
#include "pushrouter/push_datagram.h"
#include "pushrouter/push_router_service.h"
#include "pushrouter/push_store.h"
#include "tools/mmsctl/command.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "push";

// The running router's address, else MMS_PUSH_ADDR, else the default.
bool RouterAddress(const std::string& given,
                   mms::pushrouter::RouterOptions* options) {
  if (!given.empty()) {
    return mms::pushrouter::ParseRouterAddress(given, options);
  }
  mms::pushrouter::PushStore store;
  mms::pushrouter::RouterRow row;
  bool live = false;
  if (store.Open(mms::pushrouter::PushStorePath()) &&
      store.Router(&row, &live) && live) {
    options->address = row.address;
    options->port = row.port;
    return true;
  }
  std::string error;
  return mms::pushrouter::RouterOptionsFromArgs({}, options, &error);
}

int Run(const Args& args) {
  std::string path;
  std::string address;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--address" && i + 1 < args.size()) {
      address = args[++i];
    } else if (path.empty() && args[i].rfind("--", 0) != 0) {
      path = args[i];
    } else {
      return Fail(kName, "unexpected argument: " + args[i], kUsage);
    }
  }
  if (path.empty()) {
    return Fail(kName, "which file?", kUsage);
  }
  std::vector<uint8_t> bytes;
  if (!mms::platform::ReadHostFile(path, &bytes)) {
    return Fail(kName, "cannot read " + path);
  }
  std::vector<uint8_t> datagram;
  switch (mms::pushrouter::ClassifyPushFile(bytes)) {
    case mms::pushrouter::PushFileKind::kPushPdu:
      datagram = bytes;
      break;
    case mms::pushrouter::PushFileKind::kMmsPdu:
      if (!mms::pushrouter::BuildPushDatagram(
              0, mms::pushrouter::kMmsMessageType, {}, bytes, &datagram)) {
        return Fail(kName, "too large for one push: " + path);
      }
      break;
    default:
      return Fail(kName, path + " holds neither a WSP Push PDU nor an MMS PDU");
  }
  mms::pushrouter::RouterOptions options;
  if (!RouterAddress(address, &options)) {
    return Fail(kName, "not a loopback HOST:PORT: " + address, kUsage);
  }
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(options.port));
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const bool sent =
      fd >= 0 &&
      inet_pton(AF_INET, options.address.c_str(), &to.sin_addr) == 1 &&
      sendto(fd, datagram.data(), datagram.size(), 0,
             reinterpret_cast<sockaddr*>(&to),
             sizeof(to)) == static_cast<ssize_t>(datagram.size());
  if (fd >= 0) {
    close(fd);
  }
  if (!sent) {
    return Fail(kName, "cannot send to " + options.address + ":" +
                           std::to_string(options.port));
  }
  std::printf("sent %zu bytes to %s:%d\n", datagram.size(),
              options.address.c_str(), options.port);
  return kOk;
}

const Registration kRegistration({
    kName,
    "send a push from a file to the push router",
    "usage: mmsctl push FILE [--address HOST:PORT]\n\n"
    "Sends FILE to the push router in one UDP datagram. FILE holds either\n"
    "a whole connectionless WSP Push PDU (its second byte is 0x06, Push),\n"
    "sent unchanged, or a bare MMS PDU (its first byte is 0x8C), which is\n"
    "wrapped in a Push PDU for application/vnd.wap.mms-message (sent as\n"
    "the well-known code 0xBE). The router's address is the running\n"
    "router's of this device root, else MMS_PUSH_ADDR, else\n"
    "127.0.0.1:2948; --address overrides it (loopback only).\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
