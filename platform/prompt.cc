// prompt.cc: the three ways a prompt reaches a user (host handler,
// terminal, pending row answered through mmsctl) and the wait for the
// answer, which checks for cancellation between short polls.
//
// Pending prompts are rows of the prompts table of the registry database;
// the waiting process removes its row once answered or ended.
#include "platform/prompt.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform/registry_db.h"
#include "platform/text_convert.h"
#include "platform/thread.h"

namespace mms::platform {

namespace {

constexpr int kPollMs = 50;

std::mutex g_handler_mu;
PromptHandler g_handler;  // guarded by g_handler_mu

// Only one prompt at a time on the terminal.
std::mutex g_terminal_mu;

std::string Printable(const std::wstring& wide) {
  std::string utf8;
  if (WideToUtf8Text(wide, &utf8)) {
    return utf8;
  }
  utf8.clear();
  for (wchar_t c : wide) {
    utf8.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  }
  return utf8;
}

std::wstring FromColumn(sqlite3_stmt* stmt, int column) {
  const auto* text =
      reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  std::wstring wide;
  if (text != nullptr && !Utf8ToWideText(text, &wide)) {
    wide.clear();
  }
  return wide;
}

bool ProcessRuns(uint32_t pid) {
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

void Nap() { std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs)); }

// Waits for a terminal lock without missing a request to end.
std::unique_lock<std::mutex> LockTerminal() {
  std::unique_lock<std::mutex> lock(g_terminal_mu, std::defer_lock);
  while (!lock.try_lock()) {
    CancellationPoint();
    Nap();
  }
  return lock;
}

int PromptOnTerminal(const std::wstring& text, const std::wstring& caption) {
  std::unique_lock<std::mutex> lock = LockTerminal();
  std::fprintf(stderr, "\n[%s] %s\nPress Enter to continue. ",
               Printable(caption).c_str(), Printable(text).c_str());
  std::fflush(stderr);
  for (;;) {
    CancellationPoint();
    pollfd in = {STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&in, 1, kPollMs);
    if (ready < 0 && errno != EINTR) {
      return IDOK;
    }
    if (ready <= 0) {
      continue;
    }
    char c = 0;
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got <= 0 || c == '\n') {
      return IDOK;  // Enter, or the terminal went away
    }
  }
}

// Removes the pending row when the wait ends, answered or cancelled.
class PendingRow {
 public:
  explicit PendingRow(int64_t id) : id_(id) {}
  ~PendingRow() {
    RegistryDb db;
    if (db.Open()) {
      Statement stmt(db.get(), "DELETE FROM prompts WHERE id = ?1");
      sqlite3_bind_int64(stmt.get(), 1, id_);
      (void)stmt.Step();
    }
  }
  PendingRow(const PendingRow&) = delete;
  PendingRow& operator=(const PendingRow&) = delete;

 private:
  int64_t id_;
};

// True once the row is answered or gone.
bool Answered(int64_t id) {
  RegistryDb db;
  if (!db.Open()) {
    return false;  // busy or briefly unreadable: ask again next time
  }
  Statement stmt(db.get(), "SELECT answered FROM prompts WHERE id = ?1");
  sqlite3_bind_int64(stmt.get(), 1, id);
  const int rc = stmt.Step();
  if (rc == SQLITE_ROW) {
    return sqlite3_column_int(stmt.get(), 0) != 0;
  }
  return rc == SQLITE_DONE;
}

}  // namespace

void SetPromptHandler(PromptHandler handler) {
  std::lock_guard<std::mutex> lock(g_handler_mu);
  g_handler = std::move(handler);
}

bool ListPendingPrompts(std::vector<PendingPrompt>* prompts) {
  prompts->clear();
  RegistryDb db;
  if (!db.Open()) {
    return false;
  }
  std::vector<int64_t> stale;
  {
    Statement stmt(db.get(),
                   "SELECT id, pid, caption, text, shown_at FROM prompts "
                   "WHERE answered = 0 ORDER BY id");
    int rc;
    while ((rc = stmt.Step()) == SQLITE_ROW) {
      PendingPrompt prompt;
      prompt.id = sqlite3_column_int64(stmt.get(), 0);
      prompt.pid = static_cast<uint32_t>(sqlite3_column_int64(stmt.get(), 1));
      prompt.caption = FromColumn(stmt.get(), 2);
      prompt.text = FromColumn(stmt.get(), 3);
      prompt.shown_at = sqlite3_column_int64(stmt.get(), 4);
      if (ProcessRuns(prompt.pid)) {
        prompts->push_back(std::move(prompt));
      } else {
        stale.push_back(prompt.id);
      }
    }
    if (rc != SQLITE_DONE) {
      return false;
    }
  }
  for (int64_t id : stale) {
    Statement stmt(db.get(), "DELETE FROM prompts WHERE id = ?1");
    sqlite3_bind_int64(stmt.get(), 1, id);
    (void)stmt.Step();
  }
  return true;
}

bool AnswerPrompt(int64_t id) {
  RegistryDb db;
  if (!db.Open()) {
    return false;
  }
  Statement stmt(db.get(),
                 "UPDATE prompts SET answered = 1 "
                 "WHERE id = ?1 AND answered = 0");
  sqlite3_bind_int64(stmt.get(), 1, id);
  return stmt.Step() == SQLITE_DONE && sqlite3_changes(db.get()) == 1;
}

int WaitForPendingAnswer(const std::wstring& text,
                         const std::wstring& caption) {
  const std::string caption_utf8 = Printable(caption);
  const std::string text_utf8 = Printable(text);
  int64_t id = 0;
  {
    RegistryDb db;
    if (db.Open()) {
      Statement stmt(db.get(),
                     "INSERT INTO prompts(pid, caption, text, shown_at) "
                     "VALUES(?1, ?2, ?3, ?4)");
      sqlite3_bind_int64(stmt.get(), 1, getpid());
      sqlite3_bind_text(stmt.get(), 2, caption_utf8.c_str(), -1,
                        SQLITE_TRANSIENT);
      sqlite3_bind_text(stmt.get(), 3, text_utf8.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(stmt.get(), 4, static_cast<int64_t>(time(nullptr)));
      if (stmt.Step() == SQLITE_DONE) {
        id = sqlite3_last_insert_rowid(db.get());
      }
    }
  }
  if (id == 0) {
    // Nowhere to keep it: say it on stderr rather than block for ever.
    std::fprintf(stderr, "[%s] %s\n", caption_utf8.c_str(), text_utf8.c_str());
    return IDOK;
  }
  PendingRow row(id);
  for (;;) {
    CancellationPoint();
    if (Answered(id)) {
      return IDOK;
    }
    Nap();
  }
}

}  // namespace mms::platform

int MessageBoxW(HANDLE /*owner*/, const wchar_t* text, const wchar_t* caption,
                UINT type) {
  using namespace mms::platform;
  const std::wstring text_copy = text != nullptr ? text : L"";
  const std::wstring caption_copy = caption != nullptr ? caption : L"";
  PromptHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_handler_mu);
    handler = g_handler;
  }
  if (handler) {
    return handler(text_copy, caption_copy, type);
  }
  if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
    return PromptOnTerminal(text_copy, caption_copy);
  }
  return WaitForPendingAnswer(text_copy, caption_copy);
}
