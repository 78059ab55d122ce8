// net_wait.h: what mmsctl's network commands share: probing the WAP proxy,
// the MMS centre and the push router before starting (the library's own
// failures are silent result codes), reading the published values, waiting
// for a group's "state" value to change, and progress on a terminal.
#ifndef MMS_TOOLS_MMSCTL_NET_WAIT_H_
#define MMS_TOOLS_MMSCTL_NET_WAIT_H_

#include <string>
#include <vector>

#include "platform/winapi.h"
#include "tools/mmsctl/command.h"

namespace mmsctl {

// Checks that the WAP proxy and the MMS centre in use accept a TCP
// connection. Returns kOk, or reports the unreachable one and returns
// kFailed.
int ProbeOperator(const char* command);

// True when "host:port" (or "host" with default_port) accepts a TCP
// connection on a loopback or numeric address within a second.
bool CanConnect(const std::string& host_port, int default_port);

// True when a push router is running for this device root.
bool PushRouterRunning();

// A published value under the library's key, as another program reads
// it: its type and bytes; false when it is missing.
bool ReadValue(const wchar_t* name, DWORD* type, std::vector<uint8_t>* bytes);
// A published DWORD under the library's key; false when it is missing.
bool ReadDwordValue(const wchar_t* name, DWORD* value);
// A string or binary value as text ("" when missing).
std::string ReadTextValue(const wchar_t* name);

// The current value of a "state" value (0 when missing).
DWORD StateNow(const wchar_t* state);
// Waits until state differs from before; false after timeout_ms.
bool WaitForStateChange(const wchar_t* state, DWORD before, int timeout_ms);

// Takes "--timeout SECONDS" (1-86400) out of args: the value into
// *seconds, the other arguments, in order, into *rest. kOk or the exit
// code of a reported usage error.
int TakeTimeout(const char* command, const Args& args, int* seconds,
                Args* rest);

// While alive and stderr is a terminal, transfers show a progress line.
class ProgressLine {
 public:
  ProgressLine();
  ~ProgressLine();
  // Removes the hook and the line, before the results are printed.
  void Finish();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

 private:
  bool active_ = false;
};

}  // namespace mmsctl

#endif  // MMS_TOOLS_MMSCTL_NET_WAIT_H_
