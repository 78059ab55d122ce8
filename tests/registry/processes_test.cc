// processes_test.cc: the registry shared by several processes, as the
// maker's programs share it with the library: groups seen whole from
// another process, and writers killed mid-write.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_db.h"
#include "store/registry_values.h"
#include "support/test_support.h"

namespace {

using mms::testing::DeviceTest;
using mms::testing::kAbsent;
using mms::testing::RegDword;
using mms::testing::WBuf;

// In the child: counts up for ever, telling the parent each completed
// write through the pipe.
[[noreturn]] void CountForEver(int report_fd) {
  WBuf key(L"software\\varnholt\\MMS"), counter(L"Counter");
  for (DWORD i = 1;; ++i) {
    if (RegSetDword(HKEY_LOCAL_MACHINE, key, counter, i) != 1) {
      _exit(1);
    }
    if (write(report_fd, &i, sizeof(i)) != sizeof(i)) {
      _exit(1);
    }
  }
}

// In the child: retrieval groups whose name and number both carry the
// writer and the round, until killed or done.
[[noreturn]] void WriteTaggedGroups(int writer, DWORD rounds) {
  using namespace mms::store;
  for (DWORD i = 1; i <= rounds; ++i) {
    const DWORD tag = static_cast<DWORD>(writer) * 1000000 + i;
    const std::wstring name = L"m" + std::to_wstring(tag);
    const GroupValue group[] = {TextValue(kNewMmsName, name.c_str()),
                                DwordValue(kNewMms, tag)};
    // A group the busy database kept out is logged and its state not
    // raised; the next round goes on.
    (void)WriteStatusGroup(kReciveState, group, 2);
  }
  _exit(0);
}

// One value of a snapshot as raw bytes; empty when missing.
std::vector<uint8_t> Find(const std::vector<mms::platform::StoredValue>& all,
                          const wchar_t* name) {
  for (const auto& v : all) {
    if (wcscasecmp(v.name.c_str(), name) == 0) {
      return v.data;
    }
  }
  return {};
}

void ExpectIntact() {
  mms::platform::RegistryDb db;
  ASSERT_TRUE(db.Open());
  mms::platform::Statement check(db.get(), "PRAGMA integrity_check");
  ASSERT_EQ(check.Step(), SQLITE_ROW);
  EXPECT_STREQ(
      reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0)), "ok");
}

using RegistryProcessesTest = DeviceTest;

TEST_F(RegistryProcessesTest, KilledWriterLeavesEveryCompletedWrite) {
  ASSERT_EQ(RegDword(L"Counter"), kAbsent);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    close(fds[0]);
    CountForEver(fds[1]);
  }
  close(fds[1]);
  DWORD reported = 0;
  while (reported < 25) {
    ASSERT_EQ(read(fds[0], &reported, sizeof(reported)),
              static_cast<ssize_t>(sizeof(reported)));
  }
  ASSERT_EQ(kill(writer, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(writer, &status, 0), writer);
  EXPECT_TRUE(WIFSIGNALED(status));
  DWORD more = 0;
  while (read(fds[0], &more, sizeof(more)) == sizeof(more)) {
    reported = more;
  }
  close(fds[0]);

  // The write in flight may or may not have landed; none before it is lost.
  const DWORD counter = RegDword(L"Counter");
  EXPECT_GE(counter, reported);
  EXPECT_LE(counter, reported + 1);

  ExpectIntact();

  WBuf key(L"software\\varnholt\\MMS"), name(L"Counter");
  EXPECT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, key, name, 1), 1);
  EXPECT_EQ(RegDword(L"Counter"), 1u);
}

TEST_F(RegistryProcessesTest, SixteenWritersKilledAtRandomLeaveNoStateAlone) {
  constexpr int kWriters = 16;
  ASSERT_EQ(RegDword(L"ReciveState"), kAbsent);  // lays out the database first
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      WriteTaggedGroups(w, 40);
    }
    writers.push_back(child);
  }
  // The watcher: every snapshot with a state holds that state's whole
  // group; now and then a writer is killed mid-way.
  unsigned seed = 24;
  int killed = 0;
  int states_seen = 0;
  for (int look = 0; look < 300; ++look) {
    const std::vector<mms::platform::StoredValue> all =
        mms::testing::StoredValues();
    if (!Find(all, L"ReciveState").empty()) {
      ++states_seen;
      const std::vector<uint8_t> number = Find(all, L"NewMMS");
      const std::vector<uint8_t> name = Find(all, L"NewMMSName");
      ASSERT_EQ(number.size(), 4u);
      DWORD tag = 0;
      std::memcpy(&tag, number.data(), 4);
      std::string text;  // UTF-16LE, ASCII only here
      for (size_t i = 0; i < name.size(); i += 2) {
        text.push_back(static_cast<char>(name[i]));
      }
      EXPECT_EQ(text, "m" + std::to_string(tag));
    }
    if (killed < kWriters / 2 && rand_r(&seed) % 8 == 0) {
      kill(writers[rand_r(&seed) % kWriters], SIGKILL);
      ++killed;
    }
    usleep(2000);
  }
  for (pid_t writer : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFSIGNALED(status) ||
                (WIFEXITED(status) && WEXITSTATUS(status) == 0));
  }
  EXPECT_GT(states_seen, 0);
  ExpectIntact();
}

}  // namespace
