// dispatch.cc: HandMessage, what the library does with each push.
//
// Nothing is fetched here: a notification or delivery report is published
// as registry values for other programs, the other MMS types are shown in
// a prompt (queued: a prompt never holds up the pushes behind it). A
// push's values, then "WapType" and "WapState", are written as one group
// in one transaction, so readers that watch "WapState" always find the
// push's other values with it. A notification whose location cannot be
// fetched publishes nothing.
#include <strings.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "codec/header_table.h"
#include "diag/log.h"
#include "platform/announcements.h"
#include "platform/owned.h"
#include "platform/prompt.h"
#include "platform/text_convert.h"
#include "platform/winapi.h"
#include "push/prompts.h"
#include "push/wap_push.h"
#include "store/registry_values.h"

namespace {

namespace client = mms::client;

// The values one push publishes, written together with its state.
class PushGroup {
 public:
  // Room for a text value; the group holds it until it is written.
  wchar_t* NewText() { return texts_[text_count_++]; }
  void AddText(const wchar_t* name, const wchar_t* text) {
    values_[count_++] = client::TextValue(name, text);
  }
  void AddDword(const wchar_t* name, DWORD value) {
    values_[count_++] = client::DwordValue(name, value);
  }
  void Write() {
    (void)client::WriteStatusGroup(client::kWapState, values_, count_);
  }

 private:
  client::GroupValue values_[6];
  size_t count_ = 0;
  wchar_t texts_[3][MAX_PATH];
  size_t text_count_ = 0;
};

// 8-bit text in the ANSI code page into out (MAX_PATH); empty when it
// does not convert or fit.
void AnsiToWide(const char* text, wchar_t* out) {
  out[0] = L'\0';
  if (text != nullptr &&
      MultiByteToWideChar(CP_ACP, 0, text, -1, out, MAX_PATH) == 0) {
    out[0] = L'\0';
  }
}

// Address without its "/TYPE=..." suffix, as wide text.
void AddressToWide(char* address, wchar_t* out) {
  char cut[MAX_PATH] = {};
  CutAddressType(address, cut);
  AnsiToWide(cut, out);
}

// Queues the prompt for a push type (shown on the prompt thread, so push
// handling goes on) and logs the same text.
void Announce(const wchar_t* text) {
  mms::push::QueuePrompt(text);
  LogText(GetLog(), L"%ls\n", text);
}

// Why a notification's location cannot be fetched, or null when it can.
const char* UnusableLocation(const char* location) {
  constexpr size_t kMaxUrlBytes = 259;
  if (location == nullptr || location[0] == '\0') {
    return "no Content-Location";
  }
  if (std::strlen(location) > kMaxUrlBytes) {
    return "a Content-Location longer than 259 characters";
  }
  if (strncasecmp(location, "http://", 7) != 0) {
    return "a Content-Location that is not an http:// URL";
  }
  return nullptr;
}

// False when the notification publishes nothing at all (logged).
bool PublishNotification(const WapPush_Message& push, PushGroup* group) {
  if (const char* why = UnusableLocation(push.pszContentLocation)) {
    LogText(GetLog(), L"notification ignored: %hs\n", why);
    return false;
  }
  wchar_t* url = group->NewText();
  AnsiToWide(push.pszContentLocation, url);
  wchar_t* phone = group->NewText();
  AddressToWide(push.pszFrom, phone);
  group->AddText(client::kWapPhone, phone);
  group->AddText(client::kWapUrl, url);
  // For a retrieved message that does not repeat its transaction ID.
  std::string key;
  if (push.pszTransactionId != nullptr &&
      mms::platform::WideToUtf8Text(url, &key)) {
    mms::platform::RememberAnnouncement(key, push.pszTransactionId);
  }
  return true;
}

void PublishDeliveryReport(const WapPush_Message& push, PushGroup* group) {
  if (push.pszTo != nullptr) {
    wchar_t* phone = group->NewText();
    AddressToWide(push.pszTo, phone);
    if (phone[0] != L'\0') {
      group->AddText(client::kDeliveryReportPhone, phone);
    }
  }
  if (push.pszMessageId != nullptr) {
    wchar_t* id = group->NewText();
    AnsiToWide(push.pszMessageId, id);
    if (id[0] != L'\0') {
      group->AddText(client::kDeliveryReportMsgId, id);
    }
  }
  if (push.nStatus != 0) {
    group->AddDword(client::kDeliveryReportStatue, push.nStatus);
  }
}

std::atomic<void (*)(const char*)> g_observer{nullptr};

}  // namespace

namespace mms::push::test {

void ObserveHandedPushes(void (*observer)(const char* transaction_id)) {
  g_observer = observer;
}

}  // namespace mms::push::test

int CutAddressType(char* source, char* dest) {
  if (source == nullptr || dest == nullptr) {
    return 0;
  }
  size_t n = 0;
  while (n < MAX_PATH - 1 && source[n] != '\0' && source[n] != '/') {
    dest[n] = source[n];
    ++n;
  }
  dest[n] = '\0';
  return 1;
}

int CMMS::HandMessage(tagPushMsg* push) {
  namespace codec = mms::codec;
  // Owned here, so that a thread ended inside a prompt still frees it.
  mms::platform::Owned<WapPush_Message, mms::push::FreeWapPushMessage> message(
      DecodeWapPush(push));
  if (message == nullptr) {
    return -1;
  }
  if (auto* observe = g_observer.load()) {
    observe(message->pszTransactionId != nullptr ? message->pszTransactionId
                                                 : "");
  }
  PushGroup group;
  switch (message->nMsgType) {
    case codec::kMsgSendReq:
      Announce(L"Get the send request");
      break;
    case codec::kMsgSendConf:
      Announce(L"Get the Send Comfirmation");
      break;
    case codec::kMsgNotificationInd:
      if (!PublishNotification(*message, &group)) {
        return 0;
      }
      break;
    case codec::kMsgNotifyRespInd:
      Announce(L"Get the NotifyResp ind");
      break;
    case codec::kMsgRetrieveConf:
      Announce(L"Get the RetriveMessage");
      break;
    case codec::kMsgAcknowledgeInd:
      Announce(L"Get the Acknowlege ind");
      break;
    case codec::kMsgDeliveryInd:
      PublishDeliveryReport(*message, &group);
      break;
    default:
      break;
  }
  group.AddDword(client::kWapType, message->nMsgType);
  group.Write();
  return 0;
}
