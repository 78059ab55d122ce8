// submit.cc: posting a PDU to the MMS centre and reading its confirmation.
//
// Up to four attempts share one retry counter: a failed send, or a reply
// that is no MMS PDU for a PDU of more than 50 bytes, is retried. A short
// PDU (an acknowledgement) is never posted twice for a wrong reply.
#include <cstring>

#include "client/registry_values.h"
#include "transport/connection.h"
#include "transport/internet_handles.h"
#include "transport/operator.h"
#include "transport/transport.h"
#include "transport/wininet.h"

namespace {

constexpr uint8_t kMessageTypeCode = 0x0C;
constexpr uint8_t kMmsVersionCode = 0x0D;
constexpr uint8_t kMessageIdCode = 0x0B;
constexpr uint8_t kResponseStatusCode = 0x12;
constexpr uint8_t kResponseTextCode = 0x13;
constexpr uint8_t kTransactionIdCode = 0x18;
constexpr unsigned char kReplyStart = 0x8C;  // X-Mms-Message-Type as a code
constexpr int kMaxRetries = 3;
constexpr int kShortPduBytes = 50;
constexpr DWORD kReplyBytes = 1024;

char* NewText() {
  return static_cast<char*>(LocalAlloc(LPTR, SendConfirmation::kTextBytes));
}

}  // namespace

SendConfirmation::SendConfirmation(const unsigned char* data, int length)
    : length_(length),
      data_(data),
      transaction_id_(NewText()),
      message_id_(NewText()),
      response_text_(NewText()) {}

SendConfirmation::~SendConfirmation() { Release(); }

void SendConfirmation::Release() {
  for (char** text : {&transaction_id_, &message_id_, &response_text_}) {
    if (*text != nullptr) {
      LocalFree(*text);
      *text = nullptr;
    }
  }
}

void SendConfirmation::Parse() {
  if (data_ == nullptr) {
    return;
  }
  int pos = 0;
  while (pos < length_) {
    const uint8_t code = data_[pos++] & 0x7F;
    char* text = nullptr;
    uint8_t* value = nullptr;
    switch (code) {
      case kMessageIdCode:
        text = message_id_;
        break;
      case kResponseTextCode:
        text = response_text_;
        break;
      case kTransactionIdCode:
        text = transaction_id_;
        break;
      case kMessageTypeCode:
        value = &message_type_;
        break;
      case kMmsVersionCode:
        value = &mms_version_;
        break;
      case kResponseStatusCode:
        value = &response_status_;
        break;
      default:
        ++pos;  // one byte, whatever the field's real encoding
        continue;
    }
    if (value != nullptr) {
      if (pos < length_) {
        *value = data_[pos++];
      }
      continue;
    }
    // Text: bytes 0x01..0x80; a 0 ends it and is consumed, a byte above
    // 0x80 ends it and is the next field code. Cut at 259 bytes.
    size_t used = 0;
    while (pos < length_ && data_[pos] != 0 && data_[pos] <= 0x80) {
      if (text != nullptr && used + 1 < kTextBytes) {
        text[used++] = static_cast<char>(data_[pos]);
      }
      ++pos;
    }
    if (text != nullptr) {
      text[used] = '\0';
    }
    if (pos < length_ && data_[pos] == 0) {
      ++pos;
    }
  }
}

void SendConfirmation::CopyMessageId(char* out) const {
  if (out == nullptr) {
    return;
  }
  if (message_id_ == nullptr) {
    out[0] = '\0';
    return;
  }
  std::memcpy(out, message_id_, kTextBytes);
}

int SubmitMMS(const SendJob* job) {
  if (job == nullptr || job->pPdu == nullptr || job->nLength < 0) {
    return -1;
  }
  if (OpenSharedConnection() == 0) {
    return -1;
  }
  const std::wstring proxy = mms::transport::WapProxy();
  const std::wstring centre = mms::transport::MmscHost();
  const wchar_t* accept[] = {L"*/*", nullptr};
  static const wchar_t kHeader[] =
      L"Content-Type: application/vnd.wap.mms-message";

  int retries = 0;
  for (;;) {
    mms::transport::InternetHandles h;
    h.session = InternetOpenW(L"Corvix.exe", INTERNET_OPEN_TYPE_PROXY,
                              proxy.c_str(), nullptr, 0);
    if (h.session == nullptr) {
      return -1;
    }
    h.connection = InternetConnectW(h.session, centre.c_str(),
                                    INTERNET_INVALID_PORT_NUMBER, nullptr,
                                    nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (h.connection == nullptr) {
      return -1;
    }
    h.request = HttpOpenRequestW(h.connection, L"POST", L"//", L"HTTP/1.0",
                                 nullptr, accept, 0, 1);
    if (h.request == nullptr) {
      return -1;
    }
    if (!HttpSendRequestW(h.request, kHeader,
                          static_cast<DWORD>(wcslen(kHeader)), job->pPdu,
                          static_cast<DWORD>(job->nLength))) {
      if (retries == kMaxRetries) {
        return -1;
      }
      ++retries;
      continue;
    }
    unsigned char reply[kReplyBytes] = {};
    DWORD read = 0;
    if (!InternetReadFile(h.request, reply, kReplyBytes, &read)) {
      return -1;
    }
    if (reply[0] == kReplyStart) {
      SendConfirmation confirmation(reply, static_cast<int>(read));
      confirmation.Parse();
      char id[SendConfirmation::kTextBytes] = {};
      confirmation.CopyMessageId(id);
      wchar_t wide_id[SendConfirmation::kTextBytes] = {};
      MultiByteToWideChar(CP_ACP, 0, id, -1, wide_id,
                          static_cast<int>(SendConfirmation::kTextBytes));
      RegSetString(const_cast<wchar_t*>(mms::client::kMmsKey),
                   const_cast<wchar_t*>(mms::client::kMessageId), wide_id);
      return 0;
    }
    if (job->nLength <= kShortPduBytes || retries == kMaxRetries) {
      return -1;
    }
    ++retries;
  }
}
