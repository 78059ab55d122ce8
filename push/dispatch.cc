// dispatch.cc: HandMessage, what the library does with each push.
//
// Nothing is fetched here: a notification or delivery report is published
// as registry values for other programs, the other MMS types are shown in
// a prompt. "WapType" and then "WapState" close every push, so readers
// that watch "WapState" always find the push's other values already there.
#include <cstring>
#include <memory>

#include "client/registry_values.h"
#include "codec/header_table.h"
#include "platform/prompt.h"
#include "platform/winapi.h"
#include "push/wap_push.h"

namespace {

namespace client = mms::client;

constexpr int kTextChars = 260;
constexpr wchar_t kPromptCaption[] = L"Prompt";

struct PushFreer {
  void operator()(WapPush_Message* message) const {
    mms::push::FreeWapPushMessage(message);
  }
};

// Writable copies of names, for the C-style registry routines.
struct Names {
  explicit Names(const wchar_t* value) {
    std::wcsncpy(key, client::kMmsKey, kTextChars - 1);
    std::wcsncpy(name, value, kTextChars - 1);
  }
  wchar_t key[kTextChars] = {};
  wchar_t name[kTextChars] = {};
};

void SetDword(const wchar_t* name, DWORD value) {
  Names names(name);
  RegSetDword(HKEY_LOCAL_MACHINE, names.key, names.name, value);
}

void SetString(const wchar_t* name, wchar_t* text) {
  Names names(name);
  RegSetString(names.key, names.name, text);
}

// 8-bit text in the ANSI code page into out (kTextChars); empty when it
// does not convert or fit.
void AnsiToWide(const char* text, wchar_t* out) {
  out[0] = L'\0';
  if (text != nullptr &&
      MultiByteToWideChar(CP_ACP, 0, text, -1, out, kTextChars) == 0) {
    out[0] = L'\0';
  }
}

// Address without its "/TYPE=..." suffix, as wide text.
void AddressToWide(char* address, wchar_t* out) {
  char cut[kTextChars] = {};
  CutAddressType(address, cut);
  AnsiToWide(cut, out);
}

// Shows the prompt for a push type, then logs the same text.
void Announce(const wchar_t* text) {
  MessageBoxW(nullptr, text, kPromptCaption, MB_OK);
  LogText(GetLog(), L"%ls\n", text);
}

void PublishNotification(const WapPush_Message& push) {
  if (push.pszContentLocation == nullptr || push.pszContentLocation[0] == 0) {
    return;
  }
  wchar_t url[kTextChars];
  AnsiToWide(push.pszContentLocation, url);
  wchar_t phone[kTextChars];
  AddressToWide(push.pszFrom, phone);
  SetString(client::kWapPhone, phone);
  SetString(client::kWapUrl, url);
}

void PublishDeliveryReport(const WapPush_Message& push) {
  if (push.pszTo != nullptr) {
    wchar_t phone[kTextChars];
    AddressToWide(push.pszTo, phone);
    if (phone[0] != L'\0') {
      SetString(client::kDeliveryReportPhone, phone);
    }
  }
  if (push.pszMessageId != nullptr) {
    wchar_t id[kTextChars];
    AnsiToWide(push.pszMessageId, id);
    if (id[0] != L'\0') {
      SetString(client::kDeliveryReportMsgId, id);
    }
  }
  if (push.nStatus != 0) {
    SetDword(client::kDeliveryReportStatue, push.nStatus);
  }
}

}  // namespace

int CutAddressType(char* source, char* dest) {
  if (source == nullptr || dest == nullptr) {
    return 0;
  }
  size_t n = 0;
  while (n < kTextChars - 1 && source[n] != '\0' && source[n] != '/') {
    dest[n] = source[n];
    ++n;
  }
  dest[n] = '\0';
  return 1;
}

int CMMS::HandMessage(tagPushMsg* push) {
  namespace codec = mms::codec;
  // Owned here, so that a thread ended inside a prompt still frees it.
  std::unique_ptr<WapPush_Message, PushFreer> message(DecodeWapPush(push));
  if (message == nullptr) {
    return -1;
  }
  switch (message->nMsgType) {
    case codec::kMsgSendReq:
      Announce(L"Get the send request");
      break;
    case codec::kMsgSendConf:
      Announce(L"Get the Send Comfirmation");
      break;
    case codec::kMsgNotificationInd:
      PublishNotification(*message);
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
      PublishDeliveryReport(*message);
      break;
    default:
      break;
  }
  SetDword(client::kWapType, message->nMsgType);
  SetDword(client::kWapState, Random());
  return 0;
}
