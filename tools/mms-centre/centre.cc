// centre.cc: the centre's handling of send requests, retrievals and
// acknowledgements, with its log lines.
//
// Ids are "<start time, hex>-<n>" for a message and "<message id>.<k>" for
// its k-th recipient, so they stay unique across runs that share a store
// and short enough for the library (an acknowledgement of at most 50 bytes
// is never posted twice).
#include "tools/mms-centre/centre.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "codec/header_table.h"
#include "tools/mms-centre/log.h"

namespace centre {
namespace {

namespace codec = mms::codec;

constexpr char kMmsType[] = "application/vnd.wap.mms-message";
constexpr char kTextType[] = "text/plain";

uint32_t Now() { return static_cast<uint32_t>(std::time(nullptr)); }

Reply Pdu(const Bytes& pdu) { return {200, pdu, kMmsType}; }
Reply Empty() { return {200, Bytes(), kTextType}; }
Reply Refuse(int status, const std::string& text) {
  return {status, text + "\n", kTextType};
}

// Ids the centre hands out use these characters only; anything else in a
// request path names no message (and never reaches the file system).
bool IsIdText(const std::string& id) {
  if (id.empty() || id.size() > kMaxIdChars || id[0] == '.') {
    return false;
  }
  for (char c : id) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                    (c >= 'a' && c <= 'z') || c == '-' || c == '.';
    if (!ok) {
      return false;
    }
  }
  return true;
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

}  // namespace

Centre::Centre(const Settings& settings, PushSender* push)
    : settings_(settings), push_(push), start_time_(Now()) {}

Reply Centre::Post(const Bytes& pdu) {
  switch (MessageType(pdu)) {
    case codec::kMsgSendReq:
      return Accept(pdu);
    case codec::kMsgAcknowledgeInd:
      return Acknowledge(pdu);
    case codec::kMsgNotifyRespInd:
      Log("took m-notifyresp-ind for " + Printable(TransactionId(pdu)));
      return Empty();
    default:
      Log("refused a POST of " + std::to_string(pdu.size()) +
          " bytes: not a PDU the centre takes");
      return Refuse(400,
                    "not an m-send-req, m-acknowledge-ind or "
                    "m-notifyresp-ind");
  }
}

std::string Centre::NextMessageId() {
  char id[32];
  std::snprintf(id, sizeof id, "%08X-%u", start_time_, ++sequence_);
  return id;
}

Reply Centre::Accept(const Bytes& pdu) {
  SendRequest request;
  std::string why;
  if (!ParseSendRequest(pdu, &request, &why)) {
    Log("refused m-send-req of " + std::to_string(pdu.size()) +
        " bytes: " + why);
    return Pdu(MakeSendConf(TransactionId(pdu), kResponseFormatCorrupt, ""));
  }
  if (request.recipients.empty()) {
    Log("refused m-send-req " + Printable(request.transaction_id) +
        ": no recipient");
    return Pdu(
        MakeSendConf(request.transaction_id, kResponseAddressUnresolved, ""));
  }
  const std::string sender =
      request.from.empty() ? settings_.sender_number : request.from;

  std::string message_id;
  {
    std::lock_guard<std::mutex> lock(mu_);
    message_id = NextMessageId();
  }
  // Everything is built before anything is kept, so a refusal leaves no
  // half-announced message behind.
  std::vector<std::pair<std::string, Retrieval>> built;
  for (const Recipient& recipient : request.recipients) {
    const std::string id = message_id + "." + std::to_string(built.size() + 1);
    RetrieveInfo info{id, message_id, Now(), sender};
    Retrieval retrieval{message_id, recipient,
                        MakeRetrieveConf(request, pdu, info), false};
    const std::string location = "http://" + settings_.location_host + "/" + id;
    if (retrieval.pdu.empty() || location.size() > kMaxLocationBytes) {
      Log("refused m-send-req " + Printable(request.transaction_id) +
          ": cannot build its retrieval " + id);
      return Pdu(
          MakeSendConf(request.transaction_id, kResponseFormatCorrupt, ""));
    }
    built.emplace_back(id, std::move(retrieval));
  }
  Log("accepted m-send-req from " + Printable(sender) + " id " + message_id +
      " (" + std::to_string(pdu.size()) + " bytes, " +
      std::to_string(built.size()) + " recipient" +
      (built.size() == 1 ? "" : "s") + ")");
  Keep(message_id + ".send-req", pdu);
  for (auto& [id, retrieval] : built) {
    const std::string location = "http://" + settings_.location_host + "/" + id;
    NotificationInfo note{id,
                          sender,
                          request.subject_field,
                          static_cast<uint32_t>(retrieval.pdu.size()),
                          settings_.expiry_seconds,
                          location};
    const std::string what_for = "m-notification-ind for " +
                                 Printable(retrieval.recipient.address) + " (" +
                                 location + ")";
    Keep(id, retrieval.pdu);
    uint8_t tid = 0;
    {
      std::lock_guard<std::mutex> lock(mu_);
      tid = push_tid_++;
      retrievals_[id] = std::move(retrieval);
    }
    push_->Send(WrapInWapPush(tid, MakeNotification(note)), what_for);
  }
  return Pdu(MakeSendConf(request.transaction_id, kResponseOk, message_id));
}

Reply Centre::Acknowledge(const Bytes& pdu) {
  const std::string id = TransactionId(pdu);
  Bytes datagram;
  std::string what_for;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = retrievals_.find(id);
    if (it == retrievals_.end()) {
      Log("m-acknowledge-ind for unknown transaction " + Printable(id));
      return Empty();
    }
    Retrieval& retrieval = it->second;
    if (retrieval.acknowledged) {
      Log("acknowledged " + id + " again; no second delivery report");
      return Empty();
    }
    retrieval.acknowledged = true;
    datagram =
        WrapInWapPush(push_tid_++, MakeDeliveryInd(retrieval.message_id,
                                                   retrieval.recipient.value,
                                                   Now(), kStatusRetrieved));
    what_for = "m-delivery-ind for " + retrieval.message_id + " (" +
               Printable(retrieval.recipient.address) + " Retrieved)";
  }
  Log("acknowledged " + id);
  push_->Send(datagram, what_for);
  // No m-send-conf here: the device keeps the Message-ID of what it sent.
  return Empty();
}

Reply Centre::Get(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string id =
      slash == std::string::npos ? path : path.substr(slash + 1);
  Bytes pdu;
  if (IsIdText(id)) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = retrievals_.find(id);
    if (it != retrievals_.end()) {
      pdu = it->second.pdu;
    }
  }
  if (pdu.empty() && IsIdText(id) && LoadKept(id, &pdu)) {
    Log("served //" + id + " from the store (" + std::to_string(pdu.size()) +
        " bytes)");
    return Pdu(pdu);
  }
  if (pdu.empty()) {
    Log("no message at " + Printable(path));
    return Refuse(404, "no message " + Printable(id));
  }
  Log("served //" + id + " (" + std::to_string(pdu.size()) + " bytes)");
  return Pdu(pdu);
}

void Centre::Keep(const std::string& name, const Bytes& pdu) {
  if (settings_.store.empty()) {
    return;
  }
  const std::filesystem::path file =
      std::filesystem::path(settings_.store) / (name + ".mms");
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(pdu.data(), static_cast<std::streamsize>(pdu.size()));
  if (!out) {
    Log("could not keep " + file.string());
  }
}

bool Centre::LoadKept(const std::string& id, Bytes* pdu) {
  if (settings_.store.empty()) {
    return false;
  }
  const std::filesystem::path file =
      std::filesystem::path(settings_.store) / (id + ".mms");
  std::error_code ec;
  // A stream reading a directory throws; only plain files are served.
  if (!std::filesystem::is_regular_file(file, ec)) {
    return false;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return false;
  }
  pdu->assign(std::istreambuf_iterator<char>(in),
              std::istreambuf_iterator<char>());
  return MessageType(*pdu) == codec::kMsgRetrieveConf;
}

}  // namespace centre
