// centre.cc: the centre's handling of send requests, retrievals and
// acknowledgements, with its log lines.
//
// Ids are "<start time, hex>-<n>" for a message and "<message id>.<k>" for
// its k-th recipient, so they stay unique across runs that share a store.
#include "tools/mms-centre/centre.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "codec/acknowledge.h"
#include "codec/header_table.h"
#include "diag/log.h"
#include "platform/whole_file.h"
#include "tools/mms-centre/log.h"

namespace centre {
namespace {

namespace codec = mms::codec;
using mms::diag::Printable;

constexpr char kMmsType[] = "application/vnd.wap.mms-message";
constexpr char kTextType[] = "text/plain";

uint32_t Now() { return static_cast<uint32_t>(std::time(nullptr)); }

Reply Pdu(const Bytes& pdu) { return {200, pdu, kMmsType, false}; }
Reply Empty() { return {200, Bytes(), kTextType, false}; }
Reply Refuse(int status, const std::string& text) {
  return {status, text + "\n", kTextType, false};
}

// A phone number ("+" and digits) or an e-mail address, before any
// "/TYPE=" suffix.
bool IsRecipientAddress(const std::string& address) {
  const std::string text = address.substr(0, address.find("/TYPE="));
  if (text.find('@') != std::string::npos) {
    return text.front() != '@' && text.back() != '@';
  }
  const size_t digits = text[0] == '+' ? 1 : 0;
  return text.size() > digits &&
         text.find_first_not_of("0123456789", digits) == std::string::npos;
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

}  // namespace

Centre::Centre(const Settings& settings, PushSender* push)
    : settings_(settings), push_(push), start_time_(Now()) {}

Reply Centre::Post(const Bytes& pdu) {
  switch (MessageType(pdu)) {
    case codec::kMsgSendReq:
      return Accept(pdu);
    case codec::kMsgAcknowledgeInd:
      return Acknowledge(pdu, "acknowledged");
    case codec::kMsgNotifyRespInd:
      if (NotifyStatus(pdu) != codec::kStatusRetrieved) {
        Log("took m-notifyresp-ind (status " +
            std::to_string(NotifyStatus(pdu)) + ") for " +
            Printable(TransactionId(pdu)));
        return Empty();
      }
      return Acknowledge(pdu, "took m-notifyresp-ind (Retrieved) for");
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
    return Pdu(
        MakeSendConf(TransactionId(pdu), kResponseFormatCorrupt, "", why));
  }
  if (request.recipients.empty()) {
    Log("refused m-send-req " + Printable(request.transaction_id) +
        ": no recipient");
    return Pdu(MakeSendConf(request.transaction_id, kResponseAddressUnresolved,
                            "", "no recipient"));
  }
  for (const Recipient& recipient : request.recipients) {
    if (!IsRecipientAddress(recipient.address)) {
      const std::string text = "unknown recipient " + recipient.address;
      Log("refused m-send-req " + Printable(request.transaction_id) + ": " +
          Printable(text));
      return Pdu(MakeSendConf(request.transaction_id,
                              kResponseAddressUnresolved, "", text));
    }
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
    RetrieveInfo info{settings_.omit_transaction_id ? "" : id, message_id,
                      Now(), sender};
    Retrieval retrieval{message_id, recipient,
                        MakeRetrieveConf(request, pdu, info),
                        Now() + settings_.expiry_seconds, false};
    const std::string location =
        "http://" + settings_.location_host + PathFor(id);
    if (retrieval.pdu.empty() || location.size() > kMaxLocationBytes) {
      Log("refused m-send-req " + Printable(request.transaction_id) +
          ": cannot build its retrieval " + id);
      return Pdu(MakeSendConf(request.transaction_id, kResponseFormatCorrupt,
                              "", "cannot build its retrieval"));
    }
    built.emplace_back(id, std::move(retrieval));
  }
  Log("accepted m-send-req from " + Printable(sender) + " id " + message_id +
      " (" + std::to_string(pdu.size()) + " bytes, " +
      std::to_string(built.size()) + " recipient" +
      (built.size() == 1 ? "" : "s") + ")");
  Keep(message_id + ".send-req", pdu);
  for (auto& [id, retrieval] : built) {
    const std::string location =
        "http://" + settings_.location_host + PathFor(id);
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
  return Pdu(MakeSendConf(request.transaction_id, kResponseOk, message_id, ""));
}

std::string Centre::PathFor(const std::string& id) const {
  std::string path = settings_.location_template;
  return path.replace(path.find(kIdMark), sizeof kIdMark - 1, id);
}

std::string Centre::IdAt(const std::string& path) const {
  const std::string& t = settings_.location_template;
  const size_t mark = t.find(kIdMark);
  const std::string prefix = t.substr(0, mark);
  const std::string suffix = t.substr(mark + sizeof kIdMark - 1);
  if (path.size() > prefix.size() + suffix.size() &&
      path.compare(0, prefix.size(), prefix) == 0 &&
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
    const std::string id =
        path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    if (IsIdText(id)) {
      return id;
    }
  }
  // How earlier devices asked for a message: "//" and its id.
  const std::string id = path.rfind("//", 0) == 0 ? path.substr(2) : "";
  return IsIdText(id) ? id : std::string();
}

Reply Centre::Acknowledge(const Bytes& pdu, const std::string& how) {
  const std::string id = TransactionId(pdu);
  Bytes datagram;
  std::string what_for;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = retrievals_.find(id);
    if (it == retrievals_.end()) {
      Log(how + " unknown transaction " + Printable(id));
      return Empty();
    }
    Retrieval& retrieval = it->second;
    if (retrieval.acknowledged) {
      Log(how + " " + id + " again; no second delivery report");
      return Empty();
    }
    retrieval.acknowledged = true;
    datagram = WrapInWapPush(
        push_tid_++,
        MakeDeliveryInd(retrieval.message_id, retrieval.recipient.value, Now(),
                        codec::kStatusRetrieved));
    what_for = "m-delivery-ind for " + retrieval.message_id + " (" +
               Printable(retrieval.recipient.address) + " Retrieved)";
  }
  Log(how + " " + id);
  Keep(id + (how == "acknowledged" ? ".ack" : ".notifyresp"), pdu);
  push_->Send(datagram, what_for);
  // No m-send-conf here: the device keeps the Message-ID of what it sent.
  return Empty();
}

Reply Centre::Get(const std::string& path) {
  const std::string id = IdAt(path);
  Bytes pdu;
  bool expired = false;
  if (!id.empty()) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = retrievals_.find(id);
    if (it != retrievals_.end()) {
      expired = Now() >= it->second.expires;
      pdu = expired ? Bytes() : it->second.pdu;
    }
  }
  if (expired) {
    Log("message " + id + " expired: 404 at " + Printable(path));
    return Refuse(404, "message " + id + " expired");
  }
  const bool kept = pdu.empty() && !id.empty() && LoadKept(id, &pdu);
  if (pdu.empty()) {
    Log("no message at " + Printable(path));
    return Refuse(404, "no message at " + Printable(path));
  }
  Log("served " + Printable(path) + (kept ? " from the store (" : " (") +
      std::to_string(pdu.size()) + " bytes" +
      (settings_.chunked ? ", chunked)" : ")"));
  Reply reply = Pdu(pdu);
  reply.chunked = settings_.chunked;
  return reply;
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
  std::vector<uint8_t> bytes;
  if (!mms::platform::ReadHostFile(file.string(), &bytes)) {
    return false;
  }
  pdu->assign(bytes.begin(), bytes.end());
  return MessageType(*pdu) == codec::kMsgRetrieveConf;
}

}  // namespace centre
