// submit.cc: posting a PDU to the MMS centre and reading its confirmation.
//
// A PDU is posted again, up to four attempts in all, only while it could
// not be sent whole (no connection, or one that broke before the body
// went out): once the centre may hold it, a missing, late or wrong answer
// fails the submission, so a message is never delivered twice. A send
// request counts as accepted only when an m-send-conf says Ok.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "codec/byte_reader.h"
#include "codec/header_fields.h"
#include "codec/header_table.h"
#include "diag/log.h"
#include "transport/connection.h"
#include "transport/internet_handles.h"
#include "transport/operator.h"
#include "transport/transport.h"
#include "transport/wininet.h"

namespace {

namespace codec = mms::codec;
using mms::transport::SubmissionReport;

constexpr int kMaxRetries = 3;
constexpr DWORD kReplyBytes = 1024;
constexpr uint8_t kResponseOk = 128;

std::mutex g_hook_mu;
mms::transport::SubmissionHook g_hook;  // guarded by g_hook_mu

char* NewText() { return static_cast<char*>(LocalAlloc(LPTR, MAX_PATH)); }

// Copies up to 259 bytes of text, ended by 0, into out.
void CopyText(codec::ByteReader text, char* out) {
  if (out == nullptr) {
    return;
  }
  size_t used = 0;
  uint8_t b = 0;
  while (used + 1 < MAX_PATH && text.ReadByte(&b) && b != 0) {
    out[used++] = static_cast<char>(b);
  }
  out[used] = '\0';
}

using mms::diag::Printable;

// Fills the report from the answer to a PDU of the report's type.
void Judge(long http_status, const unsigned char* reply, DWORD length,
           SubmissionReport* report) {
  report->http_status = http_status;
  const bool ok_status = http_status >= 200 && http_status <= 299;
  if (report->message_type != codec::kMsgSendReq) {
    report->accepted = ok_status;
    report->reason = ok_status ? "" : "the centre did not take it";
    return;
  }
  SendConfirmation confirmation(reply, static_cast<int>(length));
  confirmation.Parse();
  report->response_status = confirmation.response_status();
  report->response_text = confirmation.response_text();
  report->message_id = confirmation.message_id();
  if (confirmation.message_type() != codec::kMsgSendConf) {
    report->reason = "the answer is no m-send-conf";
  } else if (report->response_status != kResponseOk) {
    report->reason = "the centre refused the message";
  } else if (!ok_status) {
    report->reason = "an m-send-conf with a failing HTTP status";
  } else {
    report->accepted = true;
  }
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
  if (data_ == nullptr || length_ <= 0) {
    return;
  }
  codec::ByteReader r(data_, static_cast<size_t>(length_));
  codec::HeaderField f;
  for (;;) {
    const codec::FieldStep step = codec::NextHeaderField(r, &f);
    if (step == codec::FieldStep::kTruncated) {
      // A text the reply ends inside (read up to its first kilobyte) is
      // still used as far as it goes.
      uint8_t code = 0;
      codec::ByteReader rest;
      if (r.ReadByte(&code) && r.Split(r.remaining(), &rest)) {
        f.code = code & 0x7F;
        f.value = rest;
      } else {
        return;
      }
    } else if (step != codec::FieldStep::kField) {
      return;
    }
    codec::ByteReader text;
    uint32_t charset = 0;
    uint8_t octet = 0;
    switch (f.code) {
      case codec::kMessageType:
      case codec::kResponseStatus:
        if (f.value.ReadByte(&octet)) {
          *(f.code == codec::kMessageType ? &message_type_
                                          : &response_status_) = octet;
        }
        break;
      case codec::kMessageId:
      case codec::kTransactionId:
        if (!codec::ReadTextValue(f.value, &text)) {
          text = f.value;  // unended: the bytes as they are
        }
        CopyText(text,
                 f.code == codec::kMessageId ? message_id_ : transaction_id_);
        break;
      case codec::kResponseText:
        if (!codec::ReadEncodedStringValue(f.value, &charset, &text)) {
          text = f.value;
        }
        CopyText(text, response_text_);
        break;
      default:
        break;  // stepped over by the form of its value
    }
    if (step == codec::FieldStep::kTruncated) {
      return;
    }
  }
}

namespace mms::transport {

void SetSubmissionHook(SubmissionHook hook) {
  std::lock_guard<std::mutex> lock(g_hook_mu);
  g_hook = std::move(hook);
}

int FinishSubmission(const SubmissionReport* report) {
  if (!report->accepted) {
    std::string line = "submission failed: " + report->reason;
    if (report->http_status != 0) {
      line += "; HTTP status " + std::to_string(report->http_status);
    }
    if (report->response_status != 0) {
      line +=
          "; X-Mms-Response-Status " + std::to_string(report->response_status);
    }
    if (!report->response_text.empty()) {
      line +=
          "; X-Mms-Response-Text \"" + Printable(report->response_text) + "\"";
    }
    LogText(GetLog(), L"%hs\n", line.c_str());
  }
  std::lock_guard<std::mutex> lock(g_hook_mu);
  if (g_hook) {
    g_hook(*report);
  }
  return report->accepted ? 0 : -1;
}

void PostPdu(const SendJob* job, SubmissionReport* report) {
  *report = SubmissionReport();
  if (job->nLength >= 2 && job->pPdu[0] == (0x80 | codec::kMessageType)) {
    report->message_type = job->pPdu[1];
  }
  if (OpenSharedConnection() == 0) {
    report->reason = "no connection to the operator";
    return;
  }
  std::wstring object;
  if (!MmscPath(&object, &report->reason)) {
    return;
  }
  const std::wstring proxy = WapProxy();
  const std::wstring centre = MmscHost();
  const std::wstring agent = UserAgent();
  std::wstring headers = L"Content-Type: application/vnd.wap.mms-message";
  const std::wstring profile = ProfileHeader();
  if (!profile.empty()) {
    headers += L"\r\n" + profile;
  }
  const wchar_t* accept[] = {L"*/*", nullptr};

  for (int retries = 0;; ++retries) {
    InternetHandles h;
    h.session = InternetOpenW(
        agent.c_str(),
        proxy.empty() ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY,
        proxy.empty() ? nullptr : proxy.c_str(), nullptr, 0);
    h.connection = h.session == nullptr
                       ? nullptr
                       : InternetConnectW(h.session, centre.c_str(),
                                          INTERNET_INVALID_PORT_NUMBER, nullptr,
                                          nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    h.request = h.connection == nullptr
                    ? nullptr
                    : HttpOpenRequestW(h.connection, L"POST", object.c_str(),
                                       L"HTTP/1.0", nullptr, accept, 0, 1);
    if (h.request == nullptr) {
      report->reason =
          "cannot make the request (check MMS_WAP_PROXY and "
          "MMS_MMSC_HOST)";
      return;
    }
    if (!HttpSendRequestW(h.request, headers.c_str(),
                          static_cast<DWORD>(headers.size()), job->pPdu,
                          static_cast<DWORD>(job->nLength))) {
      if (RequestBodySent(h.request)) {
        report->reason = "no answer after the message went out";
        return;
      }
      if (retries == kMaxRetries) {
        report->reason = "could not be sent in four attempts";
        return;
      }
      continue;
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(h.request,
                        HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                        &status, &size, nullptr)) {
      status = 0;
    }
    unsigned char reply[kReplyBytes] = {};
    DWORD read = 0;
    if (!InternetReadFile(h.request, reply, kReplyBytes, &read)) {
      report->http_status = static_cast<long>(status);
      report->reason = "the answer broke off";
      return;
    }
    Judge(static_cast<long>(status), reply, read, report);
    return;
  }
}

}  // namespace mms::transport
