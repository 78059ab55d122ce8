// send_body_test.cc: multipart entries of the send request: media types,
// exact entry bytes, and the files the body is made from.
#include "codec/send_body.h"

#include <gtest/gtest.h>

#include <string>

#include "send_fixture.h"

namespace mms::codec {
namespace {

using mms::testing::Bytes;
using mms::testing::Cat;
using mms::testing::Hex;
using mms::testing::Text;

// Encodes a prepared part and releases it; empty when refused.
Bytes EncodeAndFree(MMS_Part* part) {
  Bytes entry;
  if (part == nullptr) {
    return entry;
  }
  const size_t size = PartEntrySize(*part);
  if (unsigned char* bytes = EncodePart(part)) {
    entry.assign(bytes, bytes + size);
    LocalFree(bytes);
  }
  EXPECT_EQ(part->pInfo, nullptr);  // released once encoded
  FreeSendPart(part);
  return entry;
}

Bytes EncodeFile(const std::string& device_path) {
  return EncodeAndFree(LoadPartFile(device_path.c_str()));
}

// The header block of the SMIL entry.
const Bytes kSmilHead =
    Cat({Hex("1c"), Text("application/smil"), Hex("85"), Text("cmms.smil"),
         Hex("c0 22"), Text("<CMSMMS>"), Hex("8e"), Text("cmms.smil")});

class SendBody : public mms::testing::SendTest {};

TEST_F(SendBody, EntryBytesOfEachLayout) {
  PutFile(L"a.jpg", Hex("ff d8 ff"));
  EXPECT_EQ(EncodeFile("\\Temp\\a.jpg"),
            Cat({Hex("1a 03"),     // HeadersLen 26 = 3L + 11, DataLen 3
                 Hex("08 9e 85"),  // Value-length, image/jpeg, Name
                 Text("a.jpg"), Hex("c0 22"), Text("<a.jpg>"),  // Content-ID
                 Hex("8e"), Text("a.jpg"),                      // Location
                 Hex("ff d8 ff")}));
  // Content type of 35 bytes: Length-quote form, header block 60.
  PutFile(L"clip.3gp", Hex("00 01"));
  EXPECT_EQ(EncodeFile("\\Temp\\clip.3gp"),
            Cat({Hex("3c 02 1f 23"), Text("application/octet-stream"),
                 Hex("85"), Text("clip.3gp"), Hex("c0 22"), Text("<clip.3gp>"),
                 Hex("8e"), Text("clip.3gp"), Hex("00 01")}));
  // Text: declared UTF-8, sent byte for byte as stored.
  PutFile(L"n.txt", "\xe4\xb8\xad");
  EXPECT_EQ(EncodeFile("\\Temp\\n.txt"),
            Cat({Hex("1c 03 0a 83 81 ea 85"), Text("n.txt"), Hex("c0 22"),
                 Text("<n.txt>"), Hex("8e"), Text("n.txt"), Hex("e4 b8 ad")}));
  // 128 bytes of data: DataLen takes two bytes.
  PutFile(L"d.gif", Bytes(128, 0x47));
  EXPECT_EQ(EncodeFile("\\Temp\\d.gif"),
            Cat({Hex("1a 81 00 08 9d 85"), Text("d.gif"), Hex("c0 22"),
                 Text("<d.gif>"), Hex("8e"), Text("d.gif"), Bytes(128, 0x47)}));
  PutFile(L"s.wav", "w");
  EXPECT_EQ(EncodeFile("\\Temp\\s.wav"),
            Cat({Hex("24 01 12"), Text("audio/midi"), Hex("85"), Text("s.wav"),
                 Hex("c0 22"), Text("<s.wav>"), Hex("8e"), Text("s.wav"),
                 Text("w", false)}));
}

TEST_F(SendBody, MediaKindFollowsTheExactExtension) {
  const struct {
    const char* extension;
    uint8_t kind;
  } cases[] = {{"jpg", 158}, {"gif", 157}, {"png", 160}, {"bmp", 156},
               {"amr", 97},  {"mid", 97},  {"mp3", 97},  {"wma", 97},
               {"wav", 97},  {"txt", 131}, {"smil", 30}, {"JPG", 46},
               {"Txt", 46},  {"", 46},     {"jpeg", 46}};
  for (const auto& c : cases) {
    EXPECT_EQ(MediaKindForExtension(c.extension), c.kind) << c.extension;
  }
}

TEST_F(SendBody, NamesGoOutInTheSystemCodePage) {
  PutFile(L"\u7167\u7247.jpg", "J");  // code page 936: d5 d5 c6 ac
  // A name starting with a byte of 128 or more gets the quote 127.
  const Bytes name = Cat({Hex("7f d5 d5 c6 ac"), Text(".jpg")});
  EXPECT_EQ(EncodeFile("\\Temp\\\xd5\xd5\xc6\xac.jpg"),
            Cat({Hex("25 01 0c 9e 85"), name, Hex("c0 22 3c d5 d5 c6 ac"),
                 Text(".jpg>"), Hex("8e"), name, Text("J", false)}));
  // Bytes that are no text in the code page: refused, nothing opened.
  EXPECT_EQ(LoadPartFile("\\Temp\\\x81\x20.jpg"), nullptr);
}

TEST_F(SendBody, UnreadableFilesAndMissingSmilGiveNull) {
  EXPECT_EQ(LoadPartFile("\\Temp\\gone.jpg"), nullptr);
  // The missing file is left behind, created empty.
  EXPECT_TRUE(mms::testing::HostFileExists(Host(L"\\Temp\\gone.jpg")));
  PutFile(L"empty.png", Bytes{});
  EXPECT_EQ(LoadPartFile("\\Temp\\empty.png"), nullptr);
  EXPECT_EQ(LoadPartFile("\\NoSuchFolder\\a.jpg"), nullptr);
  auto no_smil = NewMessage(MMS_Option{}, L"13800000001", nullptr);
  EXPECT_EQ(MakeSmilPart(no_smil.get()), nullptr);
  // An empty document still makes an entry, with the start names.
  auto empty = NewMessage(MMS_Option{}, L"13800000001", "");
  EXPECT_EQ(EncodeAndFree(MakeSmilPart(empty.get())),
            Cat({Hex("33 00"), kSmilHead}));

  PutFile(L"a.jpg", "x");
  MMS_Part* part = LoadPartFile("\\Temp\\a.jpg");
  ASSERT_NE(part, nullptr);
  part->pInfo->nKind = 99;
  EXPECT_TRUE(EncodeAndFree(part).empty());
}

TEST_F(SendBody, AFileThatChangesOrCannotBeReadSpoilsTheBody) {
  // A file that grows or shrinks between its check and its read is refused.
  auto message = NewMessage();
  AddFile(message.get(), PutFile(L"a.jpg", "JJ"));
  for (const char* now : {"JJJ", "J"}) {
    PutFile(L"a.jpg", "JJ");
    SendParts parts;
    ASSERT_TRUE(parts.Load(message.get()));
    PutFile(L"a.jpg", now);
    ByteWriter out(1 << 20);
    EXPECT_FALSE(parts.PutAll(&out)) << now;
  }
  // One unreadable file spoils the whole body.
  AddFile(message.get(), L"\\Temp\\missing.gif");
  MMS_Body body = {};
  body.nBodyLength = -1;
  EXPECT_EQ(MakeSendBody(&body, message.get()), nullptr);
  EXPECT_EQ(body.nBodyLength, -1);
}

}  // namespace
}  // namespace mms::codec
