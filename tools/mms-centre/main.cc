// mms-centre: a loopback MMS centre for the library, its tools and tests.
//
// Options and the HTTP server live here; what a request does is centre.cc.
// SIGINT and SIGTERM are taken by one thread with sigwait (never in a
// handler), which stops the server; the pushes still queued are sent
// before the program ends.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tools/mms-centre/address.h"
#include "tools/mms-centre/centre.h"
#include "tools/mms-centre/log.h"
#include "tools/mms-centre/push_sender.h"
#include "transport/operator.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr char kDefaultPushTarget[] = "127.0.0.1:2948";
constexpr char kDefaultSender[] = "+8613800000000/TYPE=PLMN";
constexpr size_t kMaxPduBytes = 16 * 1024 * 1024;
constexpr int kPushDelayMs = 100;

constexpr char kUsageText[] =
    "usage: mms-centre [options]\n"
    "\n"
    "A loopback MMS centre. It accepts m-send-req posts (directly or through\n"
    "a WAP proxy), answers m-send-conf with a Message-ID, announces each\n"
    "recipient's copy by a WAP push (m-notification-ind over UDP), serves it\n"
    "at the location it announced, takes the m-acknowledge-ind (or an\n"
    "m-notifyresp-ind saying Retrieved) and pushes an m-delivery-ind back.\n"
    "A recipient that is no number or e-mail address is refused with\n"
    "X-Mms-Response-Status 132 and a Response-Text; an unknown or expired\n"
    "location gets 404. One log line per event on stdout.\n"
    "\n"
    "options:\n"
    "  --host ADDR          address to listen on: 127.0.0.1 (default), ::1\n"
    "                       or localhost; nothing else is accepted\n"
    "  --port N             TCP port (default from the library's MMS centre\n"
    "                       address, 8899); 0 picks a free port\n"
    "  --push-to HOST:PORT  the device's push router (default "
    "$MMS_PUSH_ADDR, else\n"
    "                       127.0.0.1:2948)\n"
    "  --sender-number TEXT From of messages whose sender left it to the\n"
    "                       centre (default +8613800000000/TYPE=PLMN)\n"
    "  --store DIR          also keep every PDU as a file in DIR, and serve\n"
    "                       kept messages after a restart\n"
    "  --location PATH      path and query of announced locations, with one\n"
    "                       {id} (default /{id}), e.g.\n"
    "                       '/mms/wapenc?location={id}&rid=027'\n"
    "  --expiry SECONDS     how long a message can be fetched (default 7 "
    "days)\n"
    "  --chunked            answer retrievals chunked, without Content-Length\n"
    "  --omit-transaction-id  leave X-Mms-Transaction-Id out of retrieved\n"
    "                       messages (the device then answers with an\n"
    "                       m-notifyresp-ind)\n"
    "  -h, --help           this text\n"
    "\n"
    "It prints \"listening on http://HOST:PORT/\" once ready, and stops\n"
    "cleanly on SIGINT or SIGTERM (exit 0). Exit 2: bad option; 1: the port\n"
    "or the push socket cannot be had.\n";

struct Options {
  std::string host = "127.0.0.1";
  int port = 0;
  std::string push_to;
  std::string sender = kDefaultSender;
  std::string store;
  std::string location = "/{id}";
  uint32_t expiry = 7 * 24 * 3600;
  bool chunked = false;
  bool omit_transaction_id = false;
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "mms-centre: %s\n", message.c_str());
  std::fprintf(stderr, "Try 'mms-centre --help'.\n");
  return kUsage;
}

// Port of the library's built-in centre address ("host:port").
// The push router's address: MMS_PUSH_ADDR, as the router itself reads it,
// else the WAP push port on loopback.
std::string DefaultPushTarget() {
  const char* env = std::getenv("MMS_PUSH_ADDR");
  return env != nullptr && env[0] != '\0' ? env : kDefaultPushTarget;
}

int DefaultPort() {
  const std::string host = mms::transport::kDefaultMmscHost;
  int port = 80;
  const size_t colon = host.rfind(':');
  if (colon != std::string::npos) {
    centre::ParsePort(host.substr(colon + 1), &port);
  }
  return port;
}

// kOk, or the exit code (message printed); *help for --help.
int Parse(int argc, char** argv, Options* o, bool* help) {
  o->port = DefaultPort();
  o->push_to = DefaultPushTarget();
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      *help = true;
      return kOk;
    }
    if (a == "--chunked" || a == "--omit-transaction-id") {
      (a == "--chunked" ? o->chunked : o->omit_transaction_id) = true;
      continue;
    }
    if (a != "--host" && a != "--port" && a != "--push-to" &&
        a != "--sender-number" && a != "--store" && a != "--location" &&
        a != "--expiry") {
      return Usage("unknown option '" + a + "'");
    }
    if (i + 1 >= args.size()) {
      return Usage(a + " needs a value");
    }
    const std::string& v = args[++i];
    std::string why;
    if (a == "--host") {
      if (!centre::NormaliseLoopbackHost(v, &o->host, &why)) {
        return Usage(why);
      }
    } else if (a == "--port") {
      if (!centre::ParsePort(v, &o->port)) {
        return Usage("'" + v + "' is not a port number (0-65535)");
      }
    } else if (a == "--push-to") {
      std::string host;
      int port = 0;
      if (!centre::ParseLoopbackTarget(v, &host, &port, &why)) {
        return Usage(why);
      }
      o->push_to = v;
    } else if (a == "--sender-number") {
      if (v.empty() || v.find('\0') != std::string::npos) {
        return Usage("--sender-number needs a text");
      }
      o->sender = v;
    } else if (a == "--location") {
      const size_t mark = v.find(centre::kIdMark);
      if (v.empty() || v[0] != '/' || mark == std::string::npos ||
          v.find(centre::kIdMark, mark + 1) != std::string::npos ||
          v.find_first_of(" #\t\r\n") != std::string::npos) {
        return Usage(
            "--location needs a path starting with / and holding "
            "{id} once");
      }
      o->location = v;
    } else if (a == "--expiry") {
      if (v.empty() || v.size() > 9 ||
          v.find_first_not_of("0123456789") != std::string::npos) {
        return Usage("--expiry needs a number of seconds");
      }
      o->expiry = static_cast<uint32_t>(std::stoul(v));
    } else {
      o->store = v;
    }
  }
  return kOk;
}

// The path and query of a request target as sent, also of an absolute URI
// sent to the centre as if it were a proxy ("http://host:port//id" gives
// "//id").
std::string PathOf(const httplib::Request& req) {
  const std::string prefix = "http://";
  std::string path = req.target;
  if (path.compare(0, prefix.size(), prefix) == 0) {
    const size_t slash = path.find('/', prefix.size());
    path = slash == std::string::npos ? "/" : path.substr(slash);
  }
  return path;
}

void Answer(const centre::Reply& reply, httplib::Response& res) {
  res.status = reply.status;
  if (!reply.chunked) {
    res.set_content(reply.body, reply.content_type.c_str());
    return;
  }
  // In pieces of at most 512 bytes, so a reader sees several chunks.
  res.set_chunked_content_provider(
      reply.content_type,
      [body = reply.body](size_t offset, httplib::DataSink& sink) {
        if (offset >= body.size()) {
          sink.done();
          return true;
        }
        return sink.write(body.data() + offset,
                          std::min<size_t>(512, body.size() - offset));
      });
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool help = false;
  const int parsed = Parse(argc, argv, &options, &help);
  if (parsed != kOk) {
    return parsed;
  }
  if (help) {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  if (!options.store.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(options.store, ec);
    if (ec) {
      std::fprintf(stderr, "mms-centre: cannot make the store '%s': %s\n",
                   options.store.c_str(), ec.message().c_str());
      return kFailed;
    }
  }

  // Signals go to the waiting thread only, so block them before any thread
  // is made; every thread inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGUSR1);  // the server ended on its own
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  httplib::Server server;
  server.set_payload_max_length(kMaxPduBytes);
  // SO_REUSEADDR only: the library's default also sets SO_REUSEPORT, which
  // would let a second centre share a port that one already serves.
  server.set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port(options.host.c_str());
  } else if (!server.bind_to_port(options.host.c_str(), port)) {
    port = -1;
  }
  if (port <= 0) {
    std::fprintf(stderr, "mms-centre: cannot listen on %s\n",
                 centre::HostPort(options.host, options.port).c_str());
    return kFailed;
  }
  centre::Settings settings;
  settings.location_host = centre::HostPort(options.host, port);
  settings.sender_number = options.sender;
  settings.store = options.store;
  settings.location_template = options.location;
  settings.expiry_seconds = options.expiry;
  settings.chunked = options.chunked;
  settings.omit_transaction_id = options.omit_transaction_id;

  centre::PushSender push;
  std::string why;
  if (!push.Open(options.push_to, kPushDelayMs, &why)) {
    std::fprintf(stderr, "mms-centre: push router address: %s\n", why.c_str());
    return kFailed;
  }
  centre::Centre centre(settings, &push);

  server.Post(".*", [&](const httplib::Request& req, httplib::Response& res) {
    Answer(centre.Post(req.body), res);
  });
  server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
    Answer(centre.Get(PathOf(req)), res);
  });

  std::atomic<bool> asked_to_stop{false};
  std::atomic<bool> listen_ended{false};
  std::thread stopper([&] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    if (signal_number == SIGINT || signal_number == SIGTERM) {
      asked_to_stop = true;
      centre::Log(std::string("stopping on ") +
                  (signal_number == SIGINT ? "SIGINT" : "SIGTERM"));
    }
    // A stop before the server runs is a no-op, so a signal that comes
    // right after start-up waits until the server runs.
    while (!listen_ended && !server.is_running()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    server.stop();
  });

  centre::Log("listening on http://" + settings.location_host +
              "/ (pushes to " + push.target() + ")");
  const bool listened = server.listen_after_bind();
  listen_ended = true;
  if (!asked_to_stop) {
    pthread_kill(stopper.native_handle(), SIGUSR1);
  }
  stopper.join();
  push.Close();
  centre::Log("stopped");
  return listened || asked_to_stop ? kOk : kFailed;
}
