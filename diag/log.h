// log.h: the one process-wide diagnostic log, active while the device
// folder "\KestLogDir" exists.
//
// Callers take the instance with GetLog() for every entry and pass it to
// LogText (both declared in mms.h). Formats are wide printf formats, and
// in a wide format glibc reads "%s" as 8-bit text: every wide argument
// must be passed as "%ls" (8-bit ones as "%hs"). Data (a URL, a path) is
// always an argument, never the format: LogText(GetLog(), L"%ls", url).
// Entries made while the log is closed are dropped without a trace.
#ifndef MMS_DIAG_LOG_H_
#define MMS_DIAG_LOG_H_

#include <atomic>
#include <cstdarg>
#include <string>

#include "mms.h"
#include "platform/winapi.h"

class DiagnosticLog {
 public:
  DiagnosticLog();
  virtual ~DiagnosticLog();
  DiagnosticLog(const DiagnosticLog&) = delete;
  DiagnosticLog& operator=(const DiagnosticLog&) = delete;

  // Opens the log when "\KestLogDir" exists and the log is not open yet:
  // replaces the previous file and writes the two header entries.
  void Open();
  // Appends "hh:mm:ss:mmm : text\r\n" (local time); a line past 1023
  // bytes is dropped.
  void WriteLogLine(const char* text);
  // Writes "Log finished" and closes the file; the next GetLog may reopen.
  void Close();

  bool IsOpen() const { return open_.load() != 0; }

 private:
  HANDLE file_;              // null until opened, INVALID_HANDLE_VALUE
                             // after a failed open; guarded by lock_
  CRITICAL_SECTION lock_;    // re-entrant: Open logs its header under it
  std::atomic<DWORD> open_;  // 1 while open; changed only under lock_
};

namespace mms::diag {

// Closes the log if it is open, without looking for the folder. Tests use
// it before switching the device root, so the next GetLog opens afresh.
void CloseLog();

// Bytes from the network for a log line: printable ASCII kept, every other
// byte as \xNN, so a hostile text cannot forge lines or control a terminal.
std::string Printable(const std::string& text);

// One line on stderr, "<program>: " in front, for the service programs.
void PrintProgramLine(const char* program, const char* format, va_list args);

}  // namespace mms::diag

#endif  // MMS_DIAG_LOG_H_
