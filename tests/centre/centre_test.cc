// centre_test.cc: the loopback MMS centre: a copy of the fields as sent for
// every recipient, notifications and delivery reports caught on a UDP
// socket, and the centre's refusals, command line and store.
#include <httplib.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "centre/centre_harness.h"
#include "codec/decode/decoder.h"
#include "codec/header_fields.h"
#include "codec/send_fixture.h"
#include "push/wap_push.h"
#include "support/tshark.h"

namespace {

using mms::testing::Bytes;
using mms::testing::CentreProcess;
using mms::testing::Contains;
using mms::testing::PushSink;
using mms::testing::Shown;
using mms::testing::ToolRun;
using Packet = mms::testing::TsharkPacket;

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes FromStr(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The decoded body of a WSP Push datagram for an MMS message, after its
// header has been checked: TID, Push, one header byte, vnd.wap.mms-message.
struct Push {
  explicit Push(const Bytes& datagram) {
    record = static_cast<WapPush_Message*>(
        LocalAlloc(LPTR, sizeof(WapPush_Message)));
    if (datagram.size() > 4) {
      header_ok =
          datagram[1] == 0x06 && datagram[2] == 0x01 && datagram[3] == 0xBE;
      mms::push::DecodePushBody(datagram.data() + 4, datagram.size() - 4,
                                record);
    }
  }
  ~Push() { mms::push::FreeWapPushMessage(record); }
  Push(const Push&) = delete;
  Push& operator=(const Push&) = delete;
  static std::string Text(const char* text) { return text ? text : ""; }

  bool header_ok = false;
  WapPush_Message* record;
};

// Header length and fields of a PDU, by the library's decoder.
struct Decoded {
  explicit Decoded(const Bytes& pdu) {
    ok = mms::codec::DecodeMmsHeaderBounded(&header, pdu.data(), pdu.size(),
                                            &message, &length) == 0;
  }
  ~Decoded() { FreeMmsHeader(&header); }
  Bytes Body(const Bytes& pdu) const {
    return Bytes(pdu.begin() + length, pdu.end());
  }

  bool ok = false;
  MMS_Header header = {};
  MMS_Custom_Data message;
  int length = 0;
};

class CentreTest : public mms::testing::SendTest {
 protected:
  void SetUp() override {
    SendTest::SetUp();
    ASSERT_TRUE(std::filesystem::exists(mms::testing::kCentreBinary))
        << "build the mms-centre target first";
    scratch_ = root_.host() + "-scratch";
    std::filesystem::create_directories(scratch_);
    Start({});
  }
  void TearDown() override {
    centre_.reset();
    std::filesystem::remove_all(scratch_);
    SendTest::TearDown();
  }

  void Start(std::vector<std::string> extra) {
    centre_.reset();
    std::vector<std::string> args = {"--port", "0", "--push-to",
                                     sink_.address()};
    args.insert(args.end(), extra.begin(), extra.end());
    centre_ = std::make_unique<CentreProcess>(args);
    ASSERT_GT(centre_->port(), 0) << centre_->log();
  }

  // A send request from the encoder: a picture and a text, a subject, and
  // the given Cc numbers.
  Bytes Compose(const std::wstring& to = L"13800000001",
                const std::vector<std::wstring>& cc = {}) {
    auto message = NewMessage(MMS_Option{}, to, "<smil><body/></smil>");
    for (const std::wstring& number : cc) {
      EXPECT_EQ(message->AddCcName(mms::testing::WBuf(number)), 1);
    }
    message->SetCcNumber(static_cast<int>(cc.size()));
    EXPECT_EQ(message->SetSubject(mms::testing::WBuf(L"Hello")), 1);
    AddFile(message.get(), PutFile(L"a.jpg", Bytes(300, 0xD8)));
    AddFile(message.get(), PutFile(L"note.txt", std::string("hi there")));
    Bytes pdu;
    EXPECT_TRUE(Encode(message.get(), &pdu));
    return pdu;
  }

  httplib::Result Post(const Bytes& pdu) {
    httplib::Client client("127.0.0.1", centre_->port());
    return client.Post("//", Str(pdu), "application/vnd.wap.mms-message");
  }
  httplib::Result Get(const std::string& path) {
    httplib::Client client("127.0.0.1", centre_->port());
    return client.Get(path.c_str());
  }

  static std::string LastSegment(const std::string& url) {
    return url.substr(url.rfind('/') + 1);
  }
  // m-acknowledge-ind for transaction tid.
  static Bytes Ack(const std::string& tid) {
    return FromStr(std::string("\x8c\x85\x98", 3) + tid +
                   std::string("\0\x8d\x90\x91\x80", 5));
  }

  PushSink sink_;
  std::unique_ptr<CentreProcess> centre_;
  std::string scratch_;
};

TEST_F(CentreTest, EveryRecipientGetsItsOwnCopyOfTheFieldsAsSent) {
  const Bytes sent = Compose(L"13800000001", {L"13800000002", L"13800000003"});
  const auto reply = Post(sent);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
  EXPECT_EQ(reply->get_header_value("Content-Type"),
            "application/vnd.wap.mms-message");
  // m-send-conf: type, the request's transaction ID, version, status Ok,
  // Message-ID.
  const Decoded request(sent);
  ASSERT_TRUE(request.ok);
  const std::string conf_head = std::string("\x8c\x81\x98", 3) +
                                request.header.pszTransactionId +
                                std::string("\0\x8d\x90\x92\x80\x8b", 6);
  ASSERT_EQ(reply->body.compare(0, conf_head.size(), conf_head), 0);

  // The recipient and subject fields exactly as the sender wrote them:
  // from the To field up to the Content-Type.
  size_t to_at = 0;
  size_t type_at = 0;
  mms::codec::ByteReader r(sent.data(), sent.size());
  mms::codec::HeaderField f;
  while (mms::codec::NextHeaderField(r, &f) == mms::codec::FieldStep::kField &&
         type_at == 0) {
    to_at = f.code == mms::codec::kTo ? f.offset : to_at;
    type_at = f.code == mms::codec::kContentType ? f.offset : 0;
  }
  ASSERT_LT(to_at, type_at);
  const Bytes fields(sent.begin() + to_at, sent.begin() + type_at);

  std::vector<std::string> ids;
  std::vector<Bytes> notes, copies;
  for (int k = 0; k < 3; ++k) {
    notes.push_back(sink_.Receive());
    const Push note(notes.back());
    ASSERT_TRUE(note.header_ok) << "notification " << k;
    ids.push_back(LastSegment(Push::Text(note.record->pszContentLocation)));
    EXPECT_EQ(ids.back(), Push::Text(note.record->pszTransactionId));
  }
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_NE(ids[1], ids[2]);

  for (const std::string& id : ids) {
    const auto got = Get("//" + id);
    ASSERT_TRUE(got);
    ASSERT_EQ(got->status, 200);
    const Bytes copy = copies.emplace_back(FromStr(got->body));
    const Decoded retrieved(copy);
    ASSERT_TRUE(retrieved.ok);
    EXPECT_STREQ(retrieved.header.pszTransactionId, id.c_str());
    EXPECT_STREQ(retrieved.header.pszFrom, "+8613800000000");
    EXPECT_TRUE(Contains(copy, fields)) << id;
    EXPECT_EQ(retrieved.Body(copy), request.Body(sent));
  }
  // The single-slash form of the URL serves the same message.
  const auto single = Get("/" + ids[0]);
  ASSERT_TRUE(single);
  EXPECT_EQ(single->status, 200);

  // An independent reader accepts what the centre sends: its pushes, and
  // its m-send-conf and m-retrieve-conf wrapped the same way, go as UDP
  // datagrams to the WAP push port; a malformed packet or an expert
  // warning or error fails, and the fields tshark shows must be the
  // centre's.
  if (!mms::testing::TsharkAvailable()) {
    return;
  }
  ASSERT_TRUE(Post(Ack(ids[0])));
  const Bytes report = sink_.Receive();
  auto wrapped = [](const Bytes& pdu) {
    return mms::testing::Cat({{0x00, 0x06, 0x01, 0xBE}, pdu});
  };
  const std::vector<Packet> p = mms::testing::Dissect(
      mms::testing::PcapOfUdpDatagrams(
          {notes[0], report, wrapped(FromStr(reply->body)), wrapped(copies[0])},
          2948),
      scratch_ + "/centre.pcap");
  ASSERT_EQ(p.size(), 4u);
  const std::string& id = ids[0];
  EXPECT_EQ(Shown(p[0], "wsp.pdu_type"), "0x06");
  EXPECT_EQ(Shown(p[0], "mmse.message_type"), "0x82");
  EXPECT_EQ(Shown(p[0], "mmse.content_location"),
            Push::Text(Push(notes[0]).record->pszContentLocation));
  EXPECT_EQ(Shown(p[0], "mmse.transaction_id"), id);
  EXPECT_EQ(Shown(p[0], "mmse.from"), "+8613800000000/TYPE=PLMN");
  EXPECT_EQ(Shown(p[0], "mmse.subject"), "Hello");
  EXPECT_EQ(Shown(p[0], "mmse.message_size"), std::to_string(copies[0].size()));

  const std::string message_id = id.substr(0, id.rfind('.'));
  EXPECT_EQ(Shown(p[1], "mmse.message_type"), "0x86");
  EXPECT_EQ(Shown(p[1], "mmse.message_id"), message_id);
  EXPECT_EQ(Shown(p[1], "mmse.to"), "+8613800000001/TYPE=PLMN");
  EXPECT_EQ(Shown(p[1], "mmse.status"), "0x81");

  EXPECT_EQ(Shown(p[2], "mmse.message_type"), "0x81");
  EXPECT_EQ(Shown(p[2], "mmse.response_status"), "0x80");
  EXPECT_EQ(Shown(p[2], "mmse.message_id"), message_id);

  EXPECT_EQ(Shown(p[3], "mmse.message_type"), "0x84");
  EXPECT_EQ(Shown(p[3], "mmse.transaction_id"), id);
  EXPECT_EQ(Shown(p[3], "mmse.from"), "+8613800000000/TYPE=PLMN");
  EXPECT_EQ(Shown(p[3], "mmse.to"), "+8613800000001/TYPE=PLMN");
  EXPECT_EQ(Shown(p[3], "mmse.subject"), "Hello");
}

TEST_F(CentreTest, RefusesWhatItCannotTakeAndReportsEachDeliveryOnce) {
  auto garbage = Post(FromStr("hello"));
  ASSERT_TRUE(garbage);
  EXPECT_EQ(garbage->status, 400);

  // A request cut inside its header: Error-message-format-corrupt.
  const Bytes whole = Compose();
  const auto corrupt = Post(Bytes(whole.begin(), whole.begin() + 20));
  ASSERT_TRUE(corrupt);
  ASSERT_GE(corrupt->body.size(), 2u);
  EXPECT_NE(corrupt->body.find(std::string("\x92\x83", 2)), std::string::npos);
  EXPECT_EQ(corrupt->body.find('\x8b'), std::string::npos);

  for (const char* path : {"//nothing", "//..%2f..%2fetc", "//"}) {
    const auto missing = Get(path);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404) << path;
  }

  // An acknowledgement for no known transaction: 200, no report.
  auto unknown = Post(Ack("x"));
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 200);
  EXPECT_TRUE(unknown->body.empty());

  // A real message acknowledged twice: one delivery report.
  ASSERT_TRUE(Post(whole));
  const Push note(sink_.Receive());
  ASSERT_TRUE(note.header_ok);
  EXPECT_TRUE(sink_.Receive(300).empty()) << "a report for the unknown ack";
  for (int i = 0; i < 2; ++i) {
    const auto answered = Post(Ack(Push::Text(note.record->pszTransactionId)));
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->status, 200);
    EXPECT_TRUE(answered->body.empty() ||
                static_cast<uint8_t>(answered->body[0]) != 0x8C);
  }
  const Push report(sink_.Receive());
  EXPECT_EQ(report.record->nMsgType, 134);
  EXPECT_TRUE(sink_.Receive(500).empty()) << "a second delivery report";
  EXPECT_FALSE(centre_->WaitFor("again; no second delivery report").empty());
}

TEST_F(CentreTest, CommandLineRefusesBadOptionsStopsAndRestartsWithItsStore) {
  auto run = [&](const std::vector<std::string>& args) {
    return mms::testing::RunTool(mms::testing::kCentreBinary, args, scratch_);
  };
  const ToolRun help = run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("usage: mms-centre"), std::string::npos);

  const std::vector<std::vector<std::string>> bad = {
      {"--push-to", "192.0.2.1:2948"},
      {"--port", "70000"},
      {"--frobnicate"},
  };
  for (const auto& args : bad) {
    const ToolRun r = run(args);
    EXPECT_EQ(r.code, 2) << args[0];
    EXPECT_EQ(r.err.rfind("mms-centre: ", 0), 0u) << r.err;
  }

  // The port the running centre holds cannot be had twice.
  const ToolRun busy = run({"--port", std::to_string(centre_->port()),
                            "--push-to", sink_.address()});
  EXPECT_EQ(busy.code, 1);
  EXPECT_NE(busy.err.find("cannot listen on 127.0.0.1:"), std::string::npos);

  // A centre with a store stops cleanly and serves what it kept after a
  // restart.
  const std::string store = scratch_ + "/store";
  Start({"--store", store});
  ASSERT_TRUE(Post(Compose()));
  const Push note(sink_.Receive());
  const std::string id =
      LastSegment(Push::Text(note.record->pszContentLocation));
  const std::string before = Get("//" + id)->body;
  EXPECT_EQ(centre_->Stop(), 0);
  EXPECT_NE(centre_->log().find("stopping on SIGTERM"), std::string::npos);
  EXPECT_NE(centre_->log().find("mms-centre: stopped\n"), std::string::npos);

  Start({"--store", store});
  const auto after = Get("//" + id);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 200);
  EXPECT_EQ(after->body, before);
  EXPECT_FALSE(centre_->WaitFor("from the store").empty());
}

}  // namespace
