// log.cc: the diagnostic log file "\KestLogDir\<program>_log.txt".
//
// One instance, made on the first GetLog and closed at unload. While
// closed, every GetLog looks for "\KestLogDir" again, so creating the
// folder switches logging on in a running process. Entries are converted
// to UTF-8, which keeps every character a path or a number may hold.
#include "diag/log.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <cstdio>
#include <mutex>

namespace {

constexpr wchar_t kLogFolder[] = L"\\KestLogDir";
constexpr int kEntryChars = 1024;  // a formatted entry, with NUL
constexpr int kLineBytes = 1024;   // a whole line, with NUL

std::once_flag g_create_once;
std::atomic<DiagnosticLog*> g_log{nullptr};

// Kept reachable and never freed: a worker that is still ending while the
// process exits may hold the pointer; after Close its entries are dropped.
DiagnosticLog* g_retired_log = nullptr;

void DestroyLog() {
  DiagnosticLog* log = g_log.exchange(nullptr);
  if (log != nullptr) {
    log->Close();
    g_retired_log = log;
  }
}

void CreateLog() {
  // Functions registered with atexit run before the destructors of
  // statics that were made earlier: touching the file layer first keeps
  // its state alive until the log has written its last line.
  GetFileAttributesW(kLogFolder);
  CloseHandle(nullptr);
  g_log.store(new DiagnosticLog());
  atexit(DestroyLog);
}

bool LogFolderExists() {
  DWORD attributes = GetFileAttributesW(kLogFolder);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// "\KestLogDir\" + the program's file name with everything from its last
// "." replaced by "_log.txt" (appended when it has none).
bool LogPath(const wchar_t* module_path, wchar_t (&log_path)[MAX_PATH]) {
  wchar_t name[MAX_PATH] = {};
  const wchar_t* slash = wcsrchr(module_path, L'\\');
  wcsncpy(name, slash != nullptr ? slash + 1 : module_path, MAX_PATH - 1);
  wchar_t* dot = wcsrchr(name, L'.');
  if (dot != nullptr) {
    *dot = L'\0';
  }
  int chars =
      swprintf(log_path, MAX_PATH, L"%ls\\%ls_log.txt", kLogFolder, name);
  return chars > 0;
}

}  // namespace

DiagnosticLog::DiagnosticLog() : file_(nullptr), open_(0) {
  InitializeCriticalSection(&lock_);
}

DiagnosticLog::~DiagnosticLog() {
  Close();
  DeleteCriticalSection(&lock_);
}

void DiagnosticLog::Open() {
  wchar_t module_path[MAX_PATH] = {};
  DWORD got = GetModuleFileNameW(nullptr, module_path, MAX_PATH);
  if (got == 0 || got >= static_cast<DWORD>(MAX_PATH) || !LogFolderExists()) {
    return;
  }
  wchar_t log_path[MAX_PATH] = {};
  if (!LogPath(module_path, log_path)) {
    return;
  }
  EnterCriticalSection(&lock_);
  if (open_.load() == 0) {
    if (file_ != nullptr && file_ != INVALID_HANDLE_VALUE) {
      CloseHandle(file_);
    }
    DeleteFileW(log_path);
    file_ =
        CreateFileW(log_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ != INVALID_HANDLE_VALUE) {
      SetFilePointer(file_, 0, nullptr, FILE_END);
      open_.store(1);
      SYSTEMTIME now = {};
      GetLocalTime(&now);
      LogText(this, L"=============================================");
      LogText(this,
              L"Log is started on %02u.%02u.%04u, at %02u:%02u:%02u:%03u, "
              L"executable: %ls (ProcID: 0x%08x), compile time : %hs %hs",
              unsigned{now.wDay}, unsigned{now.wMonth}, unsigned{now.wYear},
              unsigned{now.wHour}, unsigned{now.wMinute}, unsigned{now.wSecond},
              unsigned{now.wMilliseconds}, module_path,
              unsigned{GetCurrentProcessId()}, __DATE__, __TIME__);
    }
  }
  LeaveCriticalSection(&lock_);
}

void DiagnosticLog::WriteLogLine(const char* text) {
  if (text == nullptr) {
    return;
  }
  EnterCriticalSection(&lock_);
  if (file_ != nullptr && file_ != INVALID_HANDLE_VALUE) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char stamp[32];  // 12 bytes for real times; room for any WORD
    snprintf(stamp, sizeof stamp, "%02u:%02u:%02u:%03u", unsigned{now.wHour},
             unsigned{now.wMinute}, unsigned{now.wSecond},
             unsigned{now.wMilliseconds});
    char line[kLineBytes];
    int length = snprintf(line, sizeof line, "%s : %s\r\n", stamp, text);
    if (length > 0 && length < kLineBytes) {
      SetFilePointer(file_, 0, nullptr, FILE_END);
      DWORD written = 0;
      WriteFile(file_, line, static_cast<DWORD>(length), &written, nullptr);
      if (written < static_cast<DWORD>(length)) {
        FlushFileBuffers(file_);
      }
    }
  }
  LeaveCriticalSection(&lock_);
}

void DiagnosticLog::Close() {
  EnterCriticalSection(&lock_);
  if (open_.load() != 0) {
    LogText(this, L"Log finished");
    open_.store(0);
    CloseHandle(file_);
    file_ = nullptr;
  }
  LeaveCriticalSection(&lock_);
}

DiagnosticLog* GetLog(void) {
  std::call_once(g_create_once, CreateLog);
  DiagnosticLog* log = g_log.load();
  if (log != nullptr && !log->IsOpen()) {
    log->Open();
  }
  return log;
}

void LogText(DiagnosticLog* log, const wchar_t* format, ...) {
  if (log == nullptr || format == nullptr || !log->IsOpen()) {
    return;
  }
  wchar_t entry[kEntryChars];
  va_list args;
  va_start(args, format);
  int chars = vswprintf(entry, kEntryChars, format, args);
  va_end(args);
  if (chars < 0) {
    return;  // does not fit with its terminator: the entry is dropped
  }
  // Four bytes hold any character in UTF-8, so the whole entry fits.
  char text[kEntryChars * 4];
  if (WideCharToMultiByte(CP_UTF8, 0, entry, -1, text, sizeof text, nullptr,
                          nullptr) <= 0) {
    return;
  }
  log->WriteLogLine(text);
}

namespace mms::diag {

void CloseLog() {
  DiagnosticLog* log = g_log.load();
  if (log != nullptr) {
    log->Close();
  }
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

void PrintProgramLine(const char* program, const char* format, va_list args) {
  std::fprintf(stderr, "%s: ", program);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
}

}  // namespace mms::diag
