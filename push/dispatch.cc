// dispatch.cc: what each push says: a notification or delivery report
// gives the values other programs are told of, the other MMS types a
// prompt. A notification whose location cannot be fetched gives nothing.
#include "push/dispatch.h"

#include <strings.h>

#include <atomic>
#include <cstring>
#include <string>

#include "codec/header_table.h"
#include "diag/log.h"
#include "platform/text_convert.h"
#include "platform/winapi.h"

namespace {

using mms::push::PushOutcome;

// 8-bit text in the ANSI code page; empty when it does not convert or fit.
std::wstring AnsiToWide(const char* text) {
  wchar_t out[MAX_PATH] = {};
  if (text != nullptr &&
      MultiByteToWideChar(CP_ACP, 0, text, -1, out, MAX_PATH) == 0) {
    out[0] = L'\0';
  }
  return out;
}

// Address without its "/TYPE=..." suffix, as wide text.
std::wstring AddressToWide(char* address) {
  char cut[MAX_PATH] = {};
  CutAddressType(address, cut);
  return AnsiToWide(cut);
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
bool ReadNotification(const WapPush_Message& push, PushOutcome* out) {
  if (const char* why = UnusableLocation(push.pszContentLocation)) {
    LogText(GetLog(), L"notification ignored: %hs\n", why);
    return false;
  }
  out->url = AnsiToWide(push.pszContentLocation);
  out->phone = AddressToWide(push.pszFrom);
  // For a retrieved message that does not repeat its transaction ID.
  out->has_transaction_id =
      push.pszTransactionId != nullptr &&
      mms::platform::WideToUtf8Text(out->url.c_str(), &out->url_text);
  if (out->has_transaction_id) {
    out->transaction_id = push.pszTransactionId;
  }
  return true;
}

void ReadDeliveryReport(const WapPush_Message& push, PushOutcome* out) {
  if (push.pszTo != nullptr) {
    out->report_phone = AddressToWide(push.pszTo);
  }
  if (push.pszMessageId != nullptr) {
    out->report_message_id = AnsiToWide(push.pszMessageId);
  }
  out->report_status = push.nStatus;
}

}  // namespace

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

namespace mms::push {

std::atomic<void (*)(const char*)> seams::handed_push_observer{nullptr};

void ReadPush(const WapPush_Message& push, PushOutcome* out) {
  if (auto* observe = seams::handed_push_observer.load()) {
    observe(push.pszTransactionId != nullptr ? push.pszTransactionId : "");
  }
  *out = PushOutcome();
  out->type = push.nMsgType;
  switch (push.nMsgType) {
    case codec::kMsgSendReq:
      out->prompt = L"Get the send request";
      break;
    case codec::kMsgSendConf:
      out->prompt = L"Get the Send Comfirmation";
      break;
    case codec::kMsgNotificationInd:
      out->publishes = ReadNotification(push, out);
      break;
    case codec::kMsgNotifyRespInd:
      out->prompt = L"Get the NotifyResp ind";
      break;
    case codec::kMsgRetrieveConf:
      out->prompt = L"Get the RetriveMessage";
      break;
    case codec::kMsgAcknowledgeInd:
      out->prompt = L"Get the Acknowlege ind";
      break;
    case codec::kMsgDeliveryInd:
      ReadDeliveryReport(push, out);
      break;
    default:
      break;
  }
}

}  // namespace mms::push
