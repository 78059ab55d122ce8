// listener_test.cc: CMMS's listener members against a scripted router put
// behind the six PushRouter_* calls: the result codes and retry counts,
// the order of calls, and what reaches HandMessage.
#include <stdlib.h>

#include <deque>
#include <string>
#include <vector>

#include "mms.h"
#include "push_bodies.h"
#include "pushrouter/push_router.h"
#include "support/mms_test_access.h"
#include "support/test_support.h"

namespace mms::pushrouter {
namespace {

using mms::testing::Bytes;
using mms::testing::NotificationBody;
using mms::testing::RegString;

constexpr HRESULT kFailure = static_cast<HRESULT>(0x80004005u);

// What the scripted router answers, and what it was asked. Results are
// taken from the front of each list; an empty list answers 0.
struct Script {
  std::deque<HRESULT> register_results;
  std::deque<HRESULT> unregister_results;
  std::deque<HRESULT> open_results;
  std::deque<HRESULT> get_results;
  HRESULT close_result = 0;
  std::deque<Bytes> pushes;  // waiting, handed out front first
  Bytes handed;              // body of the push handed out last
  HANDLE event = nullptr;    // set while pushes wait
  std::vector<std::string> calls;
  std::vector<std::wstring> registered;  // "type|app|program|params"
};

Script* g_script = nullptr;

HRESULT Next(std::deque<HRESULT>* results) {
  if (results->empty()) {
    return 0;
  }
  HRESULT r = results->front();
  results->pop_front();
  return r;
}

void SyncEvent() {
  if (g_script->pushes.empty()) {
    ResetEvent(g_script->event);
  } else {
    SetEvent(g_script->event);
  }
}

std::wstring Text(const wchar_t* text) {
  return text == nullptr ? L"(null)" : text;
}

const PushRouterCalls kScripted = {
    [](const wchar_t* type, const wchar_t* app, const wchar_t* program,
       const wchar_t* params) {
      g_script->calls.push_back("register");
      g_script->registered.push_back(Text(type) + L"|" + Text(app) + L"|" +
                                     Text(program) + L"|" + Text(params));
      return Next(&g_script->register_results);
    },
    [](const wchar_t*, const wchar_t*) {
      g_script->calls.push_back("unregister");
      return Next(&g_script->unregister_results);
    },
    [](const wchar_t*, const wchar_t*, HANDLE* event, HANDLE* router) {
      g_script->calls.push_back("open");
      HRESULT r = Next(&g_script->open_results);
      if (r == 0) {
        *event = g_script->event;
        *router = reinterpret_cast<HANDLE>(0x5150);
        SyncEvent();
      }
      return r;
    },
    [](HANDLE router, PUSHMSG* push) {
      g_script->calls.push_back("get");
      EXPECT_EQ(reinterpret_cast<HANDLE>(0x5150), router);
      EXPECT_EQ(sizeof(PUSHMSG), push->cbSize);
      EXPECT_EQ(nullptr, push->pbBody);
      HRESULT r = Next(&g_script->get_results);
      if (r >= 0 && !g_script->pushes.empty()) {
        g_script->handed = g_script->pushes.front();
        g_script->pushes.pop_front();
        push->pbBody = g_script->handed.data();
        push->cbBody = static_cast<DWORD>(g_script->handed.size());
      } else if (r < 0) {
        g_script->pushes.pop_front();  // a failed fetch loses that push
      }
      SyncEvent();
      return r;
    },
    [](PUSHMSG* push) {
      g_script->calls.push_back("free");
      push->pbBody = nullptr;
      return HRESULT{0};
    },
    [](HANDLE) {
      g_script->calls.push_back("close");
      return g_script->close_result;
    },
};

class ListenerTest : public mms::testing::DeviceTest {
 protected:
  void SetUp() override {
    script_.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_script = &script_;
    SetPushRouterCalls(&kScripted);
  }
  void TearDown() override {
    SetPushRouterCalls(nullptr);
    CloseHandle(script_.event);
    g_script = nullptr;
    DeviceTest::TearDown();
  }
  std::string Calls() const {
    std::string all;
    for (const std::string& c : script_.calls) {
      all += all.empty() ? c : " " + c;
    }
    return all;
  }

  Script script_;
  CMMS mms_;
};

TEST_F(ListenerTest, AnAlreadyRegisteredClientIsRegisteredAgain) {
  const HRESULT kExists = kPushAlreadyRegistered;
  struct Case {
    std::deque<HRESULT> register_results;
    int result;
    const char* calls;
  };
  const Case cases[] = {
      {{0}, 0, "register"},
      {{kExists, 0}, 0, "register unregister register"},
      {{kExists, kFailure}, 1, "register unregister register"},
      {{kFailure}, -1, "register"},
  };
  for (const Case& c : cases) {
    script_.calls.clear();
    script_.register_results = c.register_results;
    script_.unregister_results = {kPushNotFound};
    mms_.m_lResult = 7;
    EXPECT_EQ(c.result, mms_.RegisterClient());
    EXPECT_EQ(c.calls, Calls());
    // Only the unregistration's result is kept.
    EXPECT_EQ(script_.calls.size() > 1 ? kPushNotFound : 7, mms_.m_lResult);
  }
  // The listener program, for MMS pushes.
  EXPECT_EQ(
      L"application/vnd.wap.mms-message|(null)|\\program files\\"
      L"Varnholt\\Tallow.exe|/run",
      script_.registered.back());
  // Unregistering gives 0 or the router's code.
  script_.unregister_results = {0, kPushNotFound};
  EXPECT_EQ(0, MmsTestAccess::UnRegisterClient(mms_));
  EXPECT_EQ(kPushNotFound, MmsTestAccess::UnRegisterClient(mms_));
}

TEST_F(ListenerTest, AnUnregisteredOpenRegistersOnceOtherFailuresEndAtOnce) {
  const struct {
    std::deque<HRESULT> open_results;
    int result;
    const char* calls;
  } cases[] = {
      {{kPushNotRegistered, 0}, 0, "open register open close"},
      {{kFailure}, -1, "open"},
      {{kPushNoRouter}, -1, "open"},
  };
  for (const auto& c : cases) {
    script_.calls.clear();
    script_.open_results = c.open_results;
    EXPECT_EQ(c.result, mms_.GetMMS_WapPush(20));
    EXPECT_EQ(c.calls, Calls());
    EXPECT_EQ(c.result == 0 ? 0 : c.open_results.front(), mms_.m_lResult);
  }
}

TEST_F(ListenerTest, AHundredFailedOpensGiveOne) {
  for (HRESULT code : {kPushNotRegistered, kPushHeldElsewhere}) {
    script_.calls.clear();
    script_.registered.clear();
    script_.open_results.assign(101, code);
    // A retry may meet other failures on the way; only the count matters.
    script_.open_results[50] = kFailure;
    EXPECT_EQ(1, mms_.GetMMS_WapPush(20));
    EXPECT_EQ(100u, script_.registered.size());
    EXPECT_EQ(101, std::count(script_.calls.begin(), script_.calls.end(),
                              std::string("open")));
    EXPECT_EQ("open register open", Calls().substr(0, 18));
  }
}

// A failed fetch is not handled but still freed; a close that fails is
// told on the debug output and kept in m_lResult.
TEST_F(ListenerTest, AFailedFetchIsFreedAndAFailedCloseIsTold) {
  script_.pushes = {NotificationBody("http://mmsc/lost"),
                    NotificationBody("http://mmsc/b")};
  script_.get_results = {kFailure, 0};
  EXPECT_EQ(0, mms_.GetMMS_WapPush(20));
  EXPECT_EQ("open get free get free close", Calls());
  EXPECT_EQ(L"http://mmsc/b", RegString(L"WapUrl"));
  EXPECT_EQ(0, mms_.m_lResult);

  setenv("MMS_DEBUG", "1", 1);
  script_.close_result = kFailure;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(0, mms_.GetMMS_WapPush(10));
  EXPECT_EQ("PushRouter_Close Not close\n",
            ::testing::internal::GetCapturedStderr());
  EXPECT_EQ(kFailure, mms_.m_lResult);
  unsetenv("MMS_DEBUG");
}

}  // namespace
}  // namespace mms::pushrouter
