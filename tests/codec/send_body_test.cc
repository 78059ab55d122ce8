// send_body_test.cc: multipart entries of the send request: media types,
// exact entry bytes, and the files the body is made from.
#include "codec/send_body.h"

#include <gtest/gtest.h>

#include <string>

#include "codec/uintvar.h"
#include "send_fixture.h"

namespace mms::codec {
namespace {

using mms::testing::Bytes;
using mms::testing::Cat;
using mms::testing::Hex;
using mms::testing::Text;

// Loads a device file as a part and encodes it; empty when refused.
Bytes EncodeFile(const std::string& device_path, MMS_Part** kept = nullptr) {
  MMS_Part* part = LoadPartFile(device_path.c_str());
  if (part == nullptr) {
    return {};
  }
  const size_t size = PartEntrySize(*part);
  unsigned char* bytes = EncodePart(part);
  Bytes entry;
  if (bytes != nullptr) {
    entry.assign(bytes, bytes + size);
    LocalFree(bytes);
  }
  EXPECT_EQ(part->pInfo, nullptr);  // attributes released after encoding
  EXPECT_EQ(part->pData, nullptr);
  if (kept != nullptr) {
    *kept = part;
  } else {
    FreeSendPart(part);
  }
  return entry;
}

class SendBody : public mms::testing::SendTest {};

TEST_F(SendBody, ImageEntryOfAShortName) {
  PutFile(L"a.jpg", Hex("ff d8 ff"));
  MMS_Part* part = nullptr;
  const Bytes entry = EncodeFile("\\Temp\\a.jpg", &part);
  const Bytes expected = Cat({
      Hex("1a"),             // HeadersLen 26 = 3L + 11
      Hex("03"),             // DataLen
      Hex("08 9e 85"),       // Value-length, image/jpeg, Name
      Text("a.jpg"),
      Hex("c0 22"),          // Content-ID, quote
      Text("<a.jpg>"),
      Hex("8e"),             // Content-Location
      Text("a.jpg"),
      Hex("ff d8 ff"),
  });
  EXPECT_EQ(entry, expected);
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->nHeaderLength, 26);
  EXPECT_EQ(part->nLengthSize, 1);
  FreeSendPart(part);
}

TEST_F(SendBody, OctetEntryTakesTheLengthQuoteForm) {
  PutFile(L"clip.3gp", Hex("00 01"));
  const Bytes entry = EncodeFile("\\Temp\\clip.3gp");
  const Bytes expected = Cat({
      Hex("3c 02"),  // HeadersLen 60, DataLen 2
      Hex("1f 23"),  // Value-length 35 in the Length-quote form
      Text("application/octet-stream"), Hex("85"), Text("clip.3gp"),
      Hex("c0 22"), Text("<clip.3gp>"), Hex("8e"), Text("clip.3gp"),
      Hex("00 01"),
  });
  EXPECT_EQ(entry, expected);
}

TEST_F(SendBody, MediaTypesFollowTheExactExtension) {
  EXPECT_EQ(MediaKindForExtension("jpg"), 158);
  EXPECT_EQ(MediaKindForExtension("gif"), 157);
  EXPECT_EQ(MediaKindForExtension("png"), 160);
  EXPECT_EQ(MediaKindForExtension("bmp"), 156);
  for (const char* audio : {"amr", "mid", "mp3", "wma", "wav"}) {
    EXPECT_EQ(MediaKindForExtension(audio), kKindAudio) << audio;
  }
  EXPECT_EQ(MediaKindForExtension("txt"), 131);
  EXPECT_EQ(MediaKindForExtension("smil"), kKindSmil);
  for (const char* other : {"JPG", "Txt", "", "jpeg", "3gp"}) {
    EXPECT_EQ(MediaKindForExtension(other), kKindOctet) << other;
  }

  PutFile(L"photo.JPG", "x");
  PutFile(L"song.mp3", "x");
  PutFile(L"voice.amr", "x");
  PutFile(L"n.txt", "\xe4\xb8\xad");
  PutFile(L"noext", "x");
  const Bytes upper = EncodeFile("\\Temp\\photo.JPG");
  EXPECT_EQ(Bytes(upper.begin() + 4, upper.begin() + 29),  // after 1f 24
            Text("application/octet-stream"));
  const Bytes mp3 = EncodeFile("\\Temp\\song.mp3");
  const Bytes amr = EncodeFile("\\Temp\\voice.amr");
  EXPECT_EQ(Bytes(mp3.begin() + 3, mp3.begin() + 14), Text("audio/midi"));
  EXPECT_EQ(Bytes(amr.begin() + 3, amr.begin() + 14), Text("audio/midi"));
  EXPECT_EQ(mp3[0], 3 * 8 + 21);
  // Text is declared UTF-8 and sent byte for byte as stored.
  const Bytes text = EncodeFile("\\Temp\\n.txt");
  EXPECT_EQ(text, Cat({Hex("1c 03 0a 83 81 ea 85"), Text("n.txt"),
                       Hex("c0 22"), Text("<n.txt>"), Hex("8e"),
                       Text("n.txt"), Hex("e4 b8 ad")}));
  const Bytes none = EncodeFile("\\Temp\\noext");
  EXPECT_EQ(none[0], 3 * 5 + 35 + 1);  // 32: Length-quote form
}

TEST_F(SendBody, SmilEntryAndSmilFilesUseTheStartNames) {
  const Bytes smil_head = Cat({
      Hex("1c"), Text("application/smil"), Hex("85"), Text("cmms.smil"),
      Hex("c0 22"), Text("<CMSMMS>"), Hex("8e"), Text("cmms.smil"),
  });
  ASSERT_EQ(smil_head.size(), 51u);

  auto message = NewMessage(MMS_Option{}, L"13800000001", "<smil/>");
  MMS_Part* part = MakeSmilPart(message.get());
  ASSERT_NE(part, nullptr);
  const size_t size = PartEntrySize(*part);
  unsigned char* bytes = EncodePart(part);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(Bytes(bytes, bytes + size),
            Cat({Hex("33 07"), smil_head, Text("<smil/>", false)}));
  LocalFree(bytes);
  FreeSendPart(part);

  // A .smil file of the message's own is named like the generated one.
  PutFile(L"mine.smil", "<smil>x</smil>");
  EXPECT_EQ(EncodeFile("\\Temp\\mine.smil"),
            Cat({Hex("33 0e"), smil_head, Text("<smil>x</smil>", false)}));

  auto empty = NewMessage(MMS_Option{}, L"13800000001", "");
  part = MakeSmilPart(empty.get());
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(PartEntrySize(*part), 53u);  // DataLen is the single byte 0
  bytes = EncodePart(part);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes[1], 0);
  LocalFree(bytes);
  FreeSendPart(part);
}

TEST_F(SendBody, LengthsPastOneByteAreMultiByteUintvars) {
  PutFile(L"d.gif", Bytes(128, 0x47));
  MMS_Part* part = nullptr;
  const Bytes gif = EncodeFile("\\Temp\\d.gif", &part);
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->nLengthSize, 2);
  EXPECT_EQ(Bytes(gif.begin(), gif.begin() + 3), Hex("1a 81 00"));
  EXPECT_EQ(gif.size(), 3u + 26 + 128);
  FreeSendPart(part);

  // 40-byte name: content type 67 in the Length-quote form, so the header
  // block is 3 * 40 + 35 + 1 = 156 and HeadersLen takes two bytes.
  const std::wstring name = std::wstring(36, L'n') + L".bin";
  PutFile(name, "x");
  const Bytes octet = EncodeFile("\\Temp\\" + std::string(36, 'n') + ".bin");
  EXPECT_EQ(Bytes(octet.begin(), octet.begin() + 5), Hex("81 1c 01 1f 43"));
  EXPECT_EQ(octet.size(), 2u + 1 + 156 + 1);
}

TEST_F(SendBody, UnreadableFilesAndMissingTextGiveNull) {
  // A missing file is left behind, created empty, and refused.
  EXPECT_EQ(LoadPartFile("\\Temp\\gone.jpg"), nullptr);
  EXPECT_TRUE(mms::testing::HostFileExists(Host(L"\\Temp\\gone.jpg")));
  EXPECT_TRUE(mms::testing::ReadHostFile(Host(L"\\Temp\\gone.jpg")).empty());
  PutFile(L"empty.png", Bytes{});
  EXPECT_EQ(LoadPartFile("\\Temp\\empty.png"), nullptr);
  EXPECT_EQ(LoadPartFile("\\NoSuchFolder\\a.jpg"), nullptr);

  auto no_smil = NewMessage(MMS_Option{}, L"13800000001", nullptr);
  EXPECT_EQ(MakeSmilPart(no_smil.get()), nullptr);

  PutFile(L"a.jpg", "x");
  MMS_Part* part = LoadPartFile("\\Temp\\a.jpg");
  ASSERT_NE(part, nullptr);
  part->pInfo->nKind = 99;
  EXPECT_EQ(EncodePart(part), nullptr);
  FreeSendPart(part);
}

TEST_F(SendBody, BodyIsSmilThenFilesInArrayOrder) {
  auto message = NewMessage();
  AddFile(message.get(), PutFile(L"z.smil", "<smil>own</smil>"));
  AddFile(message.get(), PutFile(L"a.jpg", "J"));
  AddFile(message.get(), PutFile(L"b.txt", "T"));
  MMS_Body body = {};
  unsigned char* bytes = MakeSendBody(&body, message.get());
  ASSERT_NE(bytes, nullptr);
  const Bytes got(bytes, bytes + body.nBodyLength);
  LocalFree(bytes);
  // Walk the entries: HeadersLen, DataLen, headers, data.
  std::vector<Bytes> data;
  size_t pos = 0;
  while (pos < got.size()) {
    uint32_t header = 0;
    uint32_t length = 0;
    pos += GetUintvar(&got[pos], got.size() - pos, &header);
    pos += GetUintvar(&got[pos], got.size() - pos, &length);
    pos += header;
    ASSERT_LE(pos + length, got.size());
    data.emplace_back(got.begin() + pos, got.begin() + pos + length);
    pos += length;
  }
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data[0], Text("<smil/>", false));  // the generated SMIL first
  EXPECT_EQ(data[1], Text("<smil>own</smil>", false));
  EXPECT_EQ(data[2], Text("J", false));
  EXPECT_EQ(data[3], Text("T", false));

  // One unreadable file spoils the whole body.
  AddFile(message.get(), L"\\Temp\\missing.gif");
  body.nBodyLength = -1;
  EXPECT_EQ(MakeSendBody(&body, message.get()), nullptr);
  EXPECT_EQ(body.nBodyLength, -1);
}

}  // namespace
}  // namespace mms::codec
