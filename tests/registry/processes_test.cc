// processes_test.cc: the registry shared by several processes, as the
// maker's programs share it with the library: groups seen whole from
// another process while writers are killed mid-write.
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

using RegistryProcessesTest = DeviceTest;

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
  mms::platform::RegistryDb db;
  ASSERT_TRUE(db.Open());
  mms::platform::Statement check(db.get(), "PRAGMA integrity_check");
  ASSERT_EQ(check.Step(), SQLITE_ROW);
  EXPECT_STREQ(
      reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0)), "ok");
}

}  // namespace
