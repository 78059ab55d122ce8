// push_router_service.h: the push router stand-in, run as its own process
// (mms-pushrouter, or mmsctl pushrouter).
//
// It receives connectionless WSP Push PDUs in UDP datagrams on a loopback
// address, queues each accepted push in the store under its content type,
// wakes the process that holds the content type, and when none does starts
// the program registered for it. Malformed and refused datagrams are only
// counted. The router keeps no state of its own beyond the store, so it
// may be killed at any moment and started again.
#ifndef MMS_PUSHROUTER_PUSH_ROUTER_SERVICE_H_
#define MMS_PUSHROUTER_PUSH_ROUTER_SERVICE_H_

#include <atomic>
#include <string>
#include <vector>

namespace mms::pushrouter {

constexpr int kDefaultPushPort = 2948;

struct RouterOptions {
  std::string address = "127.0.0.1";  // loopback only
  int port = kDefaultPushPort;        // 0 picks a free port
  bool verbose = false;               // one stderr line per datagram
};

// "host:port", "host" or ":port" over options; false when malformed or
// not a loopback address.
[[nodiscard]] bool ParseRouterAddress(const std::string& text,
                                      RouterOptions* options);

// Options from MMS_PUSH_ADDR, then the arguments "--address HOST[:PORT]",
// "--port N" and "--verbose". False with a one-line reason otherwise.
[[nodiscard]] bool RouterOptionsFromArgs(const std::vector<std::string>& args,
                                         RouterOptions* options,
                                         std::string* error);

// Runs until SIGTERM or SIGINT; the exit code of RunPushRouter.
int RunPushRouterUntilSignal(const RouterOptions& options);

// Runs until stop turns true. Prints "listening on ADDRESS:PORT" on stdout
// once ready; returns a process exit code (1 when it cannot start, for
// instance while another router runs for the same device root).
int RunPushRouter(const RouterOptions& options, const std::atomic<bool>& stop);

}  // namespace mms::pushrouter

#endif  // MMS_PUSHROUTER_PUSH_ROUTER_SERVICE_H_
