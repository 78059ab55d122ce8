// corpus_tshark_test.cc: every m-retrieve-conf of the shared corpus opened
// by MMS_Open and compared with tshark's dissection of the same bytes:
// parts, their bytes and names, slides, subject, From and first To.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "codec/decode/transfer.h"
#include "decode/corpus.h"
#include "mms.h"
#include "support/test_support.h"

namespace mms::testing {
namespace {

std::string Digits(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digits.push_back(c);
    }
  }
  return digits;
}

// Every field `name` tshark found inside part.
std::vector<TsharkField> In(const TsharkPacket& p, const std::string& name,
                            const TsharkField& part) {
  std::vector<TsharkField> found;
  for (auto it = p.equal_range(name); it.first != it.second; ++it.first) {
    const TsharkField& f = it.first->second;
    if (f.pos >= part.pos && f.pos < part.pos + part.size) {
      found.push_back(f);
    }
  }
  return found;
}

// The shown value of the first field `name` inside part ("" when none).
std::string ShownIn(const TsharkPacket& p, const std::string& name,
                    const TsharkField& part) {
  const auto found = In(p, name, part);
  return found.empty() ? "" : found[0].show;
}

class CorpusTshark : public DeviceTest {
 protected:
  Bytes Written(const std::string& device_path) {
    return ReadHostFile(
        Host(std::wstring(device_path.begin(), device_path.end())));
  }
  void Compare(const CorpusFile& s, const TsharkPacket& p);
  void ComparePart(const MMS_Custom_Data& m, int i, const TsharkPacket& p,
                   const TsharkField& part);
  void CheckShard(size_t shard);
};

// Part i's written bytes are tshark's (or their transfer decoding), and its
// name the one tshark's headers give.
void CorpusTshark::ComparePart(const MMS_Custom_Data& m, int i,
                               const TsharkPacket& p, const TsharkField& part) {
  const Bytes entry = Hex(part.value);
  size_t k = 0;
  auto uintvar = [&] {
    uint32_t v = 0;
    while (k < entry.size() && (entry[k] & 0x80)) {
      v = v << 7 | (entry[k++] & 0x7F);
    }
    return v << 7 | entry[k++];
  };
  uintvar();  // the headers' length
  const uint32_t data_length = uintvar();
  const Bytes data(entry.end() - data_length, entry.end());
  const std::string file = m.m_pFileNameArray[i];
  const Bytes written = Written(file);
  auto textual = [&](const std::string& header) {
    std::string value;
    for (const TsharkField& t : In(p, "wsp.header_text_value", part)) {
      std::string name;
      for (uint8_t b : Hex(t.value)) {
        if (b == 0) {
          break;
        }
        name.push_back(static_cast<char>(std::tolower(b)));
      }
      value = name == header ? t.show : value;
    }
    return value;
  };
  const std::string encoding = textual("content-transfer-encoding");
  Bytes decoded = data;
  if (encoding == "base64") {
    decoded = codec::DecodeBase64(data.data(), data.size());
  } else if (encoding == "quoted-printable") {
    decoded = codec::DecodeQuotedPrintable(data.data(), data.size());
  }
  EXPECT_TRUE(written == data || written == decoded) << "part " << i;

  std::string want = ShownIn(p, "wsp.header.content_location", part);
  for (const std::string& next :
       {textual("content-location"), ShownIn(p, "wsp.parameter.name", part),
        ShownIn(p, "wsp.parameter.filename", part)}) {
    want = want.empty() ? next : want;
  }
  std::string ours = file.substr(file.rfind('\\') + 1);
  if (want.empty()) {
    want = ShownIn(p, "wsp.header.content_id", part);
    want = want.empty() ? textual("content-id") : want;
    const size_t open = want.find('<');
    if (open != std::string::npos) {
      want = want.substr(open + 1, want.find('>', open) - open - 1);
    }
    if (!want.empty() && want.front() == '"') {
      want = want.substr(1, want.size() - (want.back() == '"' ? 2 : 1));
    }
  }
  if (want.empty()) {
    want = "part" + std::to_string(i);
    ours = ours.substr(0, ours.find('.'));
  } else if (ShownIn(p, "wsp.header.content_type", part) ==
                 "application/smil" &&
             Normal(want.substr(want.size() < 5 ? 0 : want.size() - 5)) !=
                 ".smil") {
    want += ".smil";
  }
  EXPECT_EQ(Normal(want), Normal(ours)) << "part " << i;
}

void CorpusTshark::Compare(const CorpusFile& s, const TsharkPacket& p) {
  SCOPED_TRACE(s.path);
  MMS_Custom_Data m;
  WriteHostFile(Host(L"\\sample.mms"), s.pdu);
  ASSERT_EQ(CMMS::MMS_Open(WBuf(L"\\sample.mms"), &m), 0);

  std::vector<TsharkField> parts;
  for (auto it = p.equal_range("wsp.multipart"); it.first != it.second;
       ++it.first) {
    parts.push_back(it.first->second);
  }
  const bool has_body = p.count("wsp.header.content_type") != 0;
  EXPECT_EQ(m.m_nFileNum,
            !parts.empty() ? static_cast<int>(parts.size()) : has_body);
  for (size_t i = 0; i < parts.size() && static_cast<int>(i) < m.m_nFileNum;
       ++i) {
    ComparePart(m, static_cast<int>(i), p, parts[i]);
  }
  if (parts.empty() && m.m_nFileNum == 1) {
    // A single-part body: everything after the last Content-Type.
    size_t base = 0;
    for (auto it = p.equal_range("mmse"); it.first != it.second; ++it.first) {
      base = it.first->second.pos;
    }
    size_t body = 0;
    for (auto it = p.equal_range("wsp.header.content_type");
         it.first != it.second; ++it.first) {
      body = std::max(body, it.first->second.pos + it.first->second.size);
    }
    EXPECT_EQ(Written(m.m_pFileNameArray[0]),
              Bytes(s.pdu.begin() + std::min(s.pdu.size(), body - base),
                    s.pdu.end()));
  }

  // Slides: every media src of the presentation is a slide's written file.
  if (m.m_pSimlContent != nullptr) {
    const std::string smil = m.m_pSimlContent;
    const std::regex media(
        "<\\s*(img|video|audio|text|ref)\\b[^>]*\\bsrc\\s*=\\s*\"");
    int slides = 0;
    for (int slide = 0; slide < m.m_nPartNum; ++slide) {
      for (int f = 0; f < m.m_pSmilPart[slide]->m_nFileNum; ++f) {
        const std::wstring wide = m.m_pSmilPart[slide]->m_szFileName[f];
        slides += std::any_of(
            m.m_pFileNameArray, m.m_pFileNameArray + m.m_nFileNum,
            [&](const char* name) {
              return wide == std::wstring(name, name + std::strlen(name));
            });
      }
    }
    EXPECT_EQ(slides, std::distance(
                          std::sregex_iterator(smil.begin(), smil.end(), media),
                          std::sregex_iterator()));
  }

  // At most 259 bytes, cut before a whole character.
  const std::string subject = SubjectText(p);
  size_t cut = std::min<size_t>(subject.size(), 259);
  while (cut > 0 && cut < subject.size() && (subject[cut] & 0xC0) == 0x80) {
    --cut;
  }
  EXPECT_EQ(subject.substr(0, cut), m.m_szSubject);
  const auto from = p.find("mmse.from");
  EXPECT_TRUE(from == p.end() ||
              Digits(from->second.show) == Digits(m.m_szSenderPhoneNumber));
  const auto to = p.find("mmse.to");
  const std::string our_to = m.m_szPhoneNumber;
  EXPECT_TRUE(to == p.end() || Digits(to->second.show) ==
                                   Digits(our_to.substr(0, our_to.find(','))));
}

// The samples are split into shards, each its own test, so that no single
// test runs long on a loaded machine and CTest can run them side by side.
constexpr size_t kShards = 4;

void CorpusTshark::CheckShard(size_t shard) {
  if (!TsharkAvailable()) {
    GTEST_SKIP() << "tshark is not installed";
  }
  std::vector<CorpusFile> samples;
  std::vector<Bytes> pdus;
  const std::vector<CorpusFile> all = CorpusFiles("m-retrieve-conf");
  for (size_t i = shard; i < all.size(); i += kShards) {
    samples.push_back(all[i]);
    pdus.push_back(all[i].pdu);
  }
  if (samples.empty()) {
    GTEST_SKIP() << "no corpus at " << CorpusDir();
  }
  const std::vector<TsharkPacket> packets = MmsPackets(pdus, root_.host());
  ASSERT_EQ(packets.size(), samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    Compare(samples[i], packets[i]);
  }
}

TEST_F(CorpusTshark, RetrievedMessagesReadAsTsharkReadsThem0) { CheckShard(0); }
TEST_F(CorpusTshark, RetrievedMessagesReadAsTsharkReadsThem1) { CheckShard(1); }
TEST_F(CorpusTshark, RetrievedMessagesReadAsTsharkReadsThem2) { CheckShard(2); }
TEST_F(CorpusTshark, RetrievedMessagesReadAsTsharkReadsThem3) { CheckShard(3); }

}  // namespace
}  // namespace mms::testing
