// body_decoder_test.cc: whole PDUs into part files and the message's file
// array, the names those files get, and what cut or hostile bodies give.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "codec/decode/body.h"
#include "codec/decode/decoder.h"
#include "codec/decode/part_name.h"
#include "decode/pdu_builder.h"
#include "platform/test_seams.h"
#include "platform/winapi.h"
#include "store/decode_folder.h"
#include "store/decode_message.h"
#include "support/test_support.h"

namespace mms::codec {
namespace {

using mms::testing::Bytes;
using mms::testing::Cat;
using mms::testing::DeviceTest;
using mms::testing::Entry;
using mms::testing::Hex;
using mms::testing::ImageHeaders;
using mms::testing::Raw;
using mms::testing::ReadHostFile;
using mms::testing::RetrieveHeader;
using mms::testing::Str;
using mms::testing::Uintvar;
using mms::testing::ValueLength;
using mms::testing::WBuf;

// The SMIL entry's headers exactly as the encoder writes them (51 bytes).
Bytes SmilHeaders() {
  return Cat({Hex("1c"), Str("application/smil"), Hex("85"), Str("cmms.smil"),
              Hex("c0 22"), Str("<CMSMMS>"), Hex("8e"), Str("cmms.smil")});
}

Bytes Message(const std::vector<Bytes>& entries) {
  Bytes pdu = Cat({RetrieveHeader(), Uintvar(entries.size())});
  for (const Bytes& e : entries) {
    pdu = Cat({pdu, e});
  }
  return pdu;
}

class BodyDecoder : public DeviceTest {
 protected:
  // Decodes a copy of pdu held in a block of exactly its size.
  int Decode(const Bytes& pdu) {
    std::vector<uint8_t> exact(pdu);
    exact.shrink_to_fit();
    return store::DecodeMessage(exact.empty() ? nullptr : exact.data(),
                                exact.size(), &message_);
  }
  std::string FileName(int index) {
    char name[260] = {};
    return message_.GetFileName(index, name) == 1 ? name : "<none>";
  }
  Bytes Part(const std::string& name) {
    return ReadHostFile(
        Host(L"\\temp\\mmsdecode\\" + std::wstring(name.begin(), name.end())));
  }
  std::set<std::string> DecodeFolderNames() {
    std::set<std::string> names;
    for (const auto& e :
         std::filesystem::directory_iterator(Host(L"\\Temp\\MMSDeCode"))) {
      names.insert(e.path().filename());
    }
    return names;
  }

  MMS_Custom_Data message_;
};

TEST_F(BodyDecoder, EncoderShapedBodyGivesFilesArrayAndHeaderFields) {
  const Bytes smil = Raw("<smil></smil>");
  const Bytes jpeg = Hex("ff d8 ff e0 00 10");
  ASSERT_EQ(Decode(Message({Entry(SmilHeaders(), smil),
                            Entry(ImageHeaders("a.jpg"), jpeg)})),
            0);
  EXPECT_EQ(message_.m_nFileNum, 2);
  EXPECT_EQ(FileName(0), "\\temp\\mmsdecode\\cmms.smil");
  EXPECT_EQ(FileName(1), "\\temp\\mmsdecode\\a.jpg");
  EXPECT_EQ(Part("cmms.smil"), smil);
  EXPECT_EQ(Part("a.jpg"), jpeg);
  EXPECT_STREQ(message_.m_szSenderPhoneNumber, "+8613800000000");
  EXPECT_STREQ(message_.m_szPhoneNumber, "+8613900000000/TYPE=PLMN");
  EXPECT_STREQ(message_.m_szSubject, "Hi");
  EXPECT_EQ(message_.m_stDate.wYear, 2009);
  // The array was made for exactly two entries.
  EXPECT_EQ(message_.SetFileNameArray(2, WBuf(L"\\x")), 0);
  EXPECT_EQ(message_.SetFileNameArray(1, WBuf(L"\\x")), 1);
}

TEST_F(BodyDecoder, NamesFromContentIdAndLengths) {
  const Bytes data128(128, 0x5a);
  const Bytes entries = Message({
      // Content-ID only: ".smil" is added to a SMIL part alone.
      Entry(Cat({Str("application/smil"), Hex("c0 22"), Str("<CMSMMS>")}),
            Raw("s")),
      Entry(Cat({Str("application/smil"), Hex("c0 22"), Str("pres.smil")}),
            Raw("p")),
      Entry(Cat({Hex("9e c0 22"), Str("<img1>")}), Raw("i")),
      // No names at all, and a header block that does not end in 0.
      Entry(Hex("03 83 81 ea"), Raw("t")),
      // DataLen 129 0.
      Entry(ImageHeaders("big.jpg"), data128),
  });
  ASSERT_EQ(Decode(entries), 0);
  EXPECT_EQ(FileName(0), "\\temp\\mmsdecode\\CMSMMS.smil");
  EXPECT_EQ(FileName(1), "\\temp\\mmsdecode\\pres.smil");
  EXPECT_EQ(FileName(2), "\\temp\\mmsdecode\\img1");
  EXPECT_EQ(FileName(3), "\\temp\\mmsdecode\\part3.txt");
  EXPECT_EQ(Part("part3.txt"), Raw("t"));
  EXPECT_EQ(Part("big.jpg"), data128);
}

TEST_F(BodyDecoder, HostileNamesStayInTheDecodeFolder) {
  const struct {
    std::string location;
    std::string file;
  } kCases[] = {
      {"../up.jpg", ".._up.jpg"},
      {"..\\..\\Windows\\win.ini", ".._.._Windows_win.ini"},
      {"/etc/passwd", "_etc_passwd"},
      {"C:\\boot.ini", "C__boot.ini"},
      {"..", "__"},
      {".", "_"},
      {"CON", "_CON"},
      {"nul.txt", "_nul.txt"},
      {"lpt1", "_lpt1"},
      {"a*b?.jpg", "a_b_.jpg"},
      {"name. ", "name__"},
      {std::string(300, 'z') + ".jpg", std::string(239, 'z') + ".jpg"},
  };
  std::vector<Bytes> entries;
  for (const auto& c : kCases) {
    entries.push_back(Entry(Cat({Hex("9e 8e"), Str(c.location)}), Raw("d")));
  }
  entries.push_back(Entry(Cat({Hex("9e 8e 00 c0 22"), Str("<>")}), Raw("e")));
  ASSERT_EQ(Decode(Message(entries)), 0);
  std::set<std::string> expected;
  for (size_t i = 0; i < std::size(kCases); ++i) {
    EXPECT_EQ(FileName(static_cast<int>(i)),
              "\\temp\\mmsdecode\\" + kCases[i].file)
        << kCases[i].location;
    expected.insert(kCases[i].file);
  }
  EXPECT_EQ(FileName(std::size(kCases)), "\\temp\\mmsdecode\\part12.jpg");
  expected.insert("part12.jpg");
  EXPECT_EQ(DecodeFolderNames(), expected);
}

// New part names are looked up in the decode folder's name index: after
// the warm-up decode has indexed the folder (its one listing, counted), a
// folder already holding thousands of files costs no listing.
TEST_F(BodyDecoder, FolderSizeCostsNoListing) {
  const uint64_t start = mms::platform::test::DirectoryEntriesRead();
  ASSERT_EQ(Decode(Message({Entry(ImageHeaders("warm.jpg"), Bytes())})), 0);
  EXPECT_GT(mms::platform::test::DirectoryEntriesRead(), start);
  uint64_t entries_read[4];
  for (int m = 0; m < 4; ++m) {
    std::vector<Bytes> entries;
    for (int i = 0; i < 1024; ++i) {
      const std::string name = std::to_string(m) + "-" + std::to_string(i);
      entries.push_back(Entry(ImageHeaders(name + ".jpg"), Bytes()));
    }
    const uint64_t before = mms::platform::test::DirectoryEntriesRead();
    ASSERT_EQ(Decode(Message(entries)), 0);
    entries_read[m] = mms::platform::test::DirectoryEntriesRead() - before;
  }
  EXPECT_EQ(DecodeFolderNames().size(), 4097u);
  EXPECT_EQ(entries_read[0] + entries_read[3], 0u);
}

// A's process still runs, so A's files stay whatever their age; other old
// files go oldest first down to the bound; young files stay.
TEST_F(BodyDecoder, FolderBoundSparesEachProcessLastMessage) {
  int ready[2];
  int done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  if (child == 0) {
    const Bytes pdu = Message({Entry(ImageHeaders("a.jpg"), Raw("A"))});
    char c = Decode(pdu) == 0 ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  const std::string folder = Host(L"\\temp\\mmsdecode") + "/";
  const time_t now = time(nullptr);
  auto age = [&](const std::string& name, time_t seconds) {
    const timespec times[2] = {{now - seconds, 0}, {now - seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (folder + name).c_str(), times, 0), 0);
  };
  age("a.jpg", 7200);
  for (int i = 0; i < 4200; ++i) {
    mms::testing::WriteHostFile(folder + "old" + std::to_string(i), "");
    age("old" + std::to_string(i), 7200 - i);
  }
  mms::testing::WriteHostFile(folder + "young", "");
  ASSERT_EQ(Decode(Message({Entry(ImageHeaders("b.jpg"), Raw("B"))})), 0);
  EXPECT_EQ(Part("a.jpg"), Raw("A"));
  EXPECT_EQ(Part("b.jpg"), Raw("B"));
  EXPECT_TRUE(mms::testing::HostFileExists(folder + "young"));
  EXPECT_FALSE(mms::testing::HostFileExists(folder + "old2153"));
  EXPECT_TRUE(mms::testing::HostFileExists(folder + "old2154"));
  EXPECT_EQ(DecodeFolderNames().size(), mms::store::kDecodeFolderKeep + 1);
  c = 'x';
  ASSERT_EQ(write(done[1], &c, 1), 1);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
}

// Parts as other systems write them: bare types, textual headers, names
// from parameters, transfer encodings, names differing only in case, and
// one name twice (one file, the later bytes).
TEST_F(BodyDecoder, PartsOfOtherSystemsGetTheirNamesAndBytes) {
  const Bytes entries = Message({
      Entry(Cat({Hex("83"), Raw("Content-ID"), Hex("00"), Str("<t1>"),
                 Raw("Content-Transfer-Encoding"), Hex("00"), Str("base64")}),
            Raw("SGk=")),
      Entry(Cat({Hex("0c 9e 85"), Str("Photo.JPG")}), Raw("P")),
      Entry(Cat({Hex("9e 8e"), Str("photo.jpg")}), Raw("p")),
      Entry(Cat({Hex("83 ae 0b 81 86"), Str("note.txt"),
                 Raw("Content-Transfer-Encoding"), Hex("00"),
                 Str("quoted-printable")}),
            Raw("a=3Db=\r\nc")),
      Entry(Hex("a0"), Raw("png")),
      Entry(Cat({Hex("9e 8e"), Str("Photo.JPG")}), Raw("Q")),  // same name
  });
  ASSERT_EQ(Decode(entries), 0);
  ASSERT_EQ(message_.m_nFileNum, 6);
  EXPECT_EQ(FileName(0), "\\temp\\mmsdecode\\t1");
  EXPECT_EQ(Part("t1"), Raw("Hi"));
  EXPECT_EQ(FileName(1), "\\temp\\mmsdecode\\Photo.JPG");
  EXPECT_EQ(FileName(2), "\\temp\\mmsdecode\\photo_2.jpg");
  EXPECT_EQ(Part("photo_2.jpg"), Raw("p"));
  EXPECT_EQ(FileName(5), FileName(1));
  EXPECT_EQ(Part("Photo.JPG"), Raw("Q"));
  EXPECT_EQ(FileName(3), "\\temp\\mmsdecode\\note.txt");
  EXPECT_EQ(Part("note.txt"), Raw("a=bc"));
  EXPECT_EQ(FileName(4), "\\temp\\mmsdecode\\part4.png");
}

TEST_F(BodyDecoder, SinglePartBodiesAndHeadersWithoutContentType) {
  const Bytes header =
      Cat({Hex("8c 84"), Hex("89 07 80"), Str("+4411"), Hex("96"), Str("Hi")});
  ASSERT_EQ(Decode(Cat({header, Hex("84 83"), Raw("hello")})), 0);
  ASSERT_EQ(message_.m_nFileNum, 1);
  EXPECT_EQ(FileName(0), "\\temp\\mmsdecode\\part0.txt");
  EXPECT_EQ(Part("part0.txt"), Raw("hello"));

  MMS_Custom_Data fresh;
  ASSERT_EQ(store::DecodeMessage(header.data(), header.size(), &fresh), 0);
  EXPECT_EQ(fresh.m_nFileNum, 0);
  EXPECT_STREQ(fresh.m_szSenderPhoneNumber, "+4411");
  EXPECT_STREQ(fresh.m_szSubject, "Hi");
}

TEST_F(BodyDecoder, CutBodiesWriteOnlyWholeParts) {
  const Bytes first = Raw("first part");
  const Bytes second = Raw("second part");
  const Bytes pdu = Message({Entry(ImageHeaders("a.jpg"), first),
                             Entry(ImageHeaders("b.jpg"), second)});
  const size_t header_size = RetrieveHeader().size();
  const size_t first_end = header_size + 1 + 2 + 26 + first.size();
  for (size_t n = 0; n < pdu.size(); ++n) {
    message_.~MMS_Custom_Data();
    new (&message_) MMS_Custom_Data();
    const int result = Decode(Bytes(pdu.begin(), pdu.begin() + n));
    const int whole = n >= first_end ? 1 : 0;
    EXPECT_EQ(message_.m_nFileNum, whole) << n;
    if (n < header_size && result == 0) {
      continue;  // cut between two fields: a header without Content-Type
    }
    EXPECT_EQ(result, -1) << n;
    EXPECT_STREQ(message_.m_szSenderPhoneNumber, "") << n;
    if (whole == 1) {
      EXPECT_EQ(Part("a.jpg"), first) << n;
    }
    EXPECT_FALSE(
        mms::testing::HostFileExists(Host(L"\\temp\\mmsdecode\\b.jpg")))
        << n;
  }
  EXPECT_EQ(Decode(pdu), 0);
  EXPECT_EQ(Part("b.jpg"), second);
}

TEST_F(BodyDecoder, RefusedCountsChangeNothing) {
  message_.AddFileNameToArray(WBuf(L"\\keep.jpg"));
  EXPECT_EQ(Decode(Cat({RetrieveHeader(), Hex("00")})), -1);
  EXPECT_EQ(
      Decode(Cat({RetrieveHeader(), Uintvar(kMaxEntries + 1), Bytes(4000, 0)})),
      -1);
  EXPECT_EQ(Decode(Raw("This is not a PDU")), -1);
  EXPECT_EQ(message_.m_nFileNum, 1);
  char name[260] = {};
  ASSERT_EQ(message_.GetFileName(0, name), 1);
  EXPECT_STREQ(name, "\\keep.jpg");
  EXPECT_EQ(store::DecodeMessage(nullptr, 4, &message_), -1);
  const Bytes pdu = Message({Entry(ImageHeaders("a.jpg"), Raw("a"))});
  EXPECT_EQ(store::DecodeMessage(pdu.data(), pdu.size(), nullptr), -1);
}

TEST_F(BodyDecoder, LengthLessDecodeStaysInsideALiveBlock) {
  const Bytes pdu = Message({Entry(ImageHeaders("a.jpg"), Raw("abcdef"))});
  CMMS mms;
  // A block the heap handed out, cut short of its PDU: the block's size
  // bounds the read (a read past it would stop the test under ASan).
  auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, pdu.size() - 3));
  ASSERT_NE(block, nullptr);
  std::memcpy(block, pdu.data(), pdu.size() - 3);
  EXPECT_EQ(mms.MMS_DeCode(block, &message_), -1);
  LocalFree(block);
  // Any other pointer (here the stack) is read as its PDU says.
  unsigned char stack[128] = {};
  ASSERT_LT(pdu.size(), sizeof stack);
  std::memcpy(stack, pdu.data(), pdu.size());
  EXPECT_EQ(mms.MMS_DeCode(stack, &message_), 0);
  EXPECT_EQ(Part("a.jpg"), Raw("abcdef"));
  EXPECT_EQ(mms.MMS_DeCode(nullptr, &message_), -1);
  EXPECT_EQ(mms.MMS_DeCode(stack, nullptr), -1);
}

#if defined(__SANITIZE_ADDRESS__)
}  // namespace
}  // namespace mms::codec
// The sanitizer runtime's hooks (its header comes with clang only).
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void*, size_t),
    void (*free_hook)(const volatile void*));
namespace mms::codec {
namespace {

size_t g_allocations = 0;
bool g_counting = false;
void CountAllocation(const volatile void*, size_t) {
  g_allocations += g_counting ? 1 : 0;
}
void IgnoreFree(const volatile void*) {}
#endif

// The in-memory parse allocates one block per header text it keeps (To
// and Cc gather every recipient in one), plus the parts' list: texts are
// converted on the stack, and parts are views into the PDU.
TEST(ParseMessage, OneAllocationPerKeptTextField) {
#if !defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "allocations are counted through the sanitizer's hooks";
#else
  static const bool installed = __sanitizer_install_malloc_and_free_hooks(
                                    CountAllocation, IgnoreFree) != 0;
  ASSERT_TRUE(installed);
  const Bytes to = Cat({Hex("97"), Str("+8613900000001/TYPE=PLMN")});
  const Bytes related =
      Cat({Hex("b3 8a"), Str("<s>"), Hex("89"), Str("application/smil")});
  const Bytes pdus[] = {
      Cat({RetrieveHeader(), Uintvar(2), Entry(ImageHeaders("a.jpg"), Raw("x")),
           Entry(Cat({Hex("83")}), Raw("hello"))}),
      // An EUC-KR From, a UCS-2 subject, three To and two Cc, a related
      // type with its Start.
      Cat({Hex("98"), Str("T2"), Hex("89 08 80 06 a6 b0 a1 b0 a2 00"),
           Hex("96 08 02 03 e8 00 48 00 69 00"), to, to, to, Hex("82"),
           Str("a@b"), Hex("82"), Str("c@d"), Hex("84"),
           ValueLength(related.size()), related, Uintvar(1),
           Entry(Hex("83"), Raw("x"))}),
  };
  for (const Bytes& pdu : pdus) {
    for (int round = 0; round < 2; ++round) {  // the first opens converters
      MMS_Header header{};
      MMS_Custom_Data message;
      ParsedMessage parsed;
      g_allocations = 0;
      g_counting = round == 1;
      (void)ParseMessage(pdu.data(), pdu.size(), &header, &message, &parsed);
      g_counting = false;
      const void* fields[] = {header.pszSubject,   header.pszTransactionId,
                              header.pszMessageId, header.pszFrom,
                              header.pszTo,        header.pContentType,
                              header.pszCc,        header.pszStart,
                              header.pDate};
      size_t kept = 0;
      for (const void* field : fields) {
        kept += field != nullptr ? 1 : 0;
      }
      if (round == 1) {
        EXPECT_GE(kept, 5u);
        EXPECT_LE(g_allocations, kept + 1) << "kept " << kept;
      }
      FreeMmsHeader(&header);
    }
  }
#endif
}

}  // namespace
}  // namespace mms::codec
