// corpus_tshark_test.cc: every m-retrieve-conf of the shared corpus opened
// by MMS_Open and compared with tshark's dissection of the same bytes:
// parts, their bytes and names, slides, subject, From and first To. Prints
// one line per message (the corpus table) before checking.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "codec/decode/transfer.h"
#include "codec/header_table.h"
#include "codec/text_decode.h"
#include "mms.h"
#include "platform/text_convert.h"
#include "support/test_support.h"
#include "support/tshark.h"

namespace mms::testing {
namespace {

struct Sample {
  std::string path;
  Bytes pdu;
};

std::vector<Sample> RetrieveConfs() {
  std::vector<Sample> samples;
  std::ifstream manifest(CorpusDir() + "/MANIFEST.tsv");
  std::string line;
  while (std::getline(manifest, line)) {
    std::istringstream row(line);
    std::vector<std::string> cells;
    std::string cell;
    while (std::getline(row, cell, '\t')) {
      cells.push_back(cell);
    }
    if (cells.size() > 7 &&
        cells[7].find("m-retrieve-conf") != std::string::npos) {
      samples.push_back({cells[0], ReadHostFile(CorpusDir() + "/" + cells[0])});
    }
  }
  return samples;
}

Bytes FromHex(const std::string& hex) {
  auto nibble = [](char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
  };
  Bytes out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(
        static_cast<uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
  }
  return out;
}

std::string Digits(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digits.push_back(c);
    }
  }
  return digits;
}

// Lower case; every character outside [a-z0-9._-] becomes "_" (UTF-8
// characters count once).
std::string Normal(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0xC0) {
      while (i + 1 < name.size() &&
             (static_cast<unsigned char>(name[i + 1]) & 0xC0) == 0x80) {
        ++i;
      }
    }
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<unsigned char>(c - 'A' + 'a');
    }
    out.push_back(std::isalnum(c) || c == '.' || c == '_' || c == '-'
                      ? static_cast<char>(c)
                      : '_');
  }
  return out;
}

std::string Narrow(const wchar_t* wide) {
  std::string out;
  for (; *wide != 0; ++wide) {
    out.push_back(*wide < 0x80 ? static_cast<char>(*wide) : '\x01');
  }
  return out;
}

// tshark's bytes of a Subject field decoded by their charset.
std::string SubjectOf(const Bytes& field) {
  size_t i = 1;  // past the field code
  uint32_t charset = 0;
  size_t end = field.size();
  if (i < end && field[i] <= 31) {
    size_t length = field[i++];
    if (length == 31) {
      length = 0;
      while (i < end && (field[i] & 0x80)) {
        length = length << 7 | (field[i++] & 0x7F);
      }
      length = length << 7 | field[i++];
    }
    end = std::min(end, i + length);
    if (field[i] >= 0x80) {
      charset = field[i++] & 0x7F;
    } else {
      const size_t n = field[i++];
      for (size_t k = 0; k < n; ++k) {
        charset = charset << 8 | field[i++];
      }
    }
  }
  const bool sixteen = charset == 1000 || (charset >= 1013 && charset <= 1015);
  if (!sixteen && i < end && field[i] == 0x7F) {
    ++i;
  }
  if (end > i && field[end - 1] == 0) {
    --end;
  }
  if (sixteen && end > i && (end - i) % 2 == 1 && field[end - 1] == 0) {
    --end;
  }
  const char* bytes = reinterpret_cast<const char*>(field.data() + i);
  std::string text(bytes, end - i);
  if (!sixteen) {
    text = text.substr(0, text.find('\0'));
  }
  const codec::CharsetRow* row = codec::FindCharset(charset);
  std::string utf8;
  if (row != nullptr && row->mib != 106 &&
      platform::ConvertText(row->iconv, "UTF-8", text.data(), text.size(),
                            &utf8) == platform::ConvertResult::kOk) {
    text = utf8;
  } else if (!codec::IsUtf8(reinterpret_cast<const uint8_t*>(text.data()),
                            text.size())) {
    (void)platform::ConvertText("ISO-8859-1", "UTF-8", text.data(), text.size(),
                                &utf8);
    text = utf8;
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text.erase(0, 3);
  }
  size_t cut = std::min<size_t>(text.size(), 259);
  while (cut < text.size() && cut > 0 &&
         (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  return text.substr(0, cut);
}

struct Row {
  int parts = 0, want_parts = 0, names = 0, bytes = 0, slides = 0, srcs = 0;
  bool subject = false, from = false, to = false;
};

// Name of a textual header (the bytes before its 0), lower case.
std::string TextualName(const TsharkField& field) {
  std::string name;
  for (uint8_t b : FromHex(field.value)) {
    if (b == 0) {
      break;
    }
    name.push_back(static_cast<char>(std::tolower(b)));
  }
  return name;
}

class CorpusTshark : public DeviceTest {
 protected:
  Bytes Written(const char* device_path) {
    const std::string text(device_path);
    return ReadHostFile(Host(std::wstring(text.begin(), text.end())));
  }
  Row Compare(const Sample& s, const TsharkPacket& p);
  // Checks every kShards-th sample, starting at shard.
  void CheckShard(size_t shard);
};

Row CorpusTshark::Compare(const Sample& s, const TsharkPacket& p) {
  Row row;
  MMS_Custom_Data m;
  WriteHostFile(Host(L"\\sample.mms"), s.pdu);
  wchar_t path[] = L"\\sample.mms";
  EXPECT_EQ(CMMS::MMS_Open(path, &m), 0) << s.path;
  row.parts = m.m_nFileNum;

  size_t base = 0;
  for (auto it = p.equal_range("mmse"); it.first != it.second; ++it.first) {
    base = it.first->second.pos;
  }
  std::vector<TsharkField> parts;
  for (auto it = p.equal_range("wsp.multipart"); it.first != it.second;
       ++it.first) {
    parts.push_back(it.first->second);
  }
  auto in_part = [&](const std::string& name, const TsharkField& part) {
    std::vector<TsharkField> found;
    for (auto it = p.equal_range(name); it.first != it.second; ++it.first) {
      const TsharkField& f = it.first->second;
      if (f.pos >= part.pos && f.pos < part.pos + part.size) {
        found.push_back(f);
      }
    }
    return found;
  };
  const bool has_body = p.count("wsp.header.content_type") != 0;
  row.want_parts = !parts.empty() ? static_cast<int>(parts.size())
                   : has_body     ? 1
                                  : 0;
  for (size_t i = 0; i < parts.size() && static_cast<int>(i) < m.m_nFileNum;
       ++i) {
    const TsharkField& part = parts[i];
    const Bytes entry = FromHex(part.value);
    size_t k = 0;
    uint32_t header_length = 0;
    uint32_t data_length = 0;
    while (k < entry.size() && (entry[k] & 0x80)) {
      header_length = header_length << 7 | (entry[k++] & 0x7F);
    }
    header_length = header_length << 7 | entry[k++];
    while (k < entry.size() && (entry[k] & 0x80)) {
      data_length = data_length << 7 | (entry[k++] & 0x7F);
    }
    data_length = data_length << 7 | entry[k++];
    const Bytes data(entry.end() - data_length, entry.end());
    char file[260] = {};
    EXPECT_EQ(m.GetFileName(static_cast<int>(i), file), 1);
    const Bytes written = Written(file);
    std::string encoding;
    std::string location;
    std::string id;
    for (const TsharkField& t : in_part("wsp.header_text_value", part)) {
      const std::string header = TextualName(t);
      if (header == "content-transfer-encoding") {
        encoding = t.show;
      } else if (header == "content-location") {
        location = t.show;
      } else if (header == "content-id") {
        id = t.show;
      }
    }
    Bytes decoded = data;
    if (encoding == "base64") {
      decoded = codec::DecodeBase64(data.data(), data.size());
    } else if (encoding == "quoted-printable") {
      decoded = codec::DecodeQuotedPrintable(data.data(), data.size());
    }
    row.bytes += written == data || written == decoded ? 1 : 0;

    const auto locations = in_part("wsp.header.content_location", part);
    const auto names = in_part("wsp.parameter.name", part);
    const auto files = in_part("wsp.parameter.filename", part);
    const auto ids = in_part("wsp.header.content_id", part);
    const auto types = in_part("wsp.header.content_type", part);
    std::string want;
    if (!locations.empty()) {
      want = locations[0].show;
    } else if (!location.empty()) {
      want = location;
    } else if (!names.empty()) {
      want = names[0].show;
    } else if (!files.empty()) {
      want = files[0].show;
    } else {
      want = !ids.empty() ? ids[0].show : id;
      const size_t open = want.find('<');
      if (open != std::string::npos) {
        want = want.substr(open + 1, want.find('>', open) - open - 1);
      }
      if (!want.empty() && want.front() == '"') {
        want = want.substr(1, want.size() - (want.back() == '"' ? 2 : 1));
      }
    }
    const std::string type = types.empty() ? "" : types[0].show;
    std::string ours =
        std::string(file).substr(std::string(file).rfind('\\') + 1);
    if (want.empty()) {
      want = "part" + std::to_string(i);
      ours = ours.substr(0, ours.find('.'));
    } else if (type == "application/smil" &&
               (want.size() < 5 ||
                Normal(want.substr(want.size() - 5)) != ".smil")) {
      want += ".smil";
    }
    const bool same = Normal(want) == Normal(ours);
    row.names += same ? 1 : 0;
    if (!same) {
      std::printf("  name %zu: tshark %s, ours %s\n", i, want.c_str(),
                  ours.c_str());
    }
  }
  if (parts.empty() && m.m_nFileNum == 1) {
    size_t body = 0;
    for (auto it = p.equal_range("wsp.header.content_type");
         it.first != it.second; ++it.first) {
      body = std::max(body, it.first->second.pos + it.first->second.size);
    }
    char file[260] = {};
    (void)m.GetFileName(0, file);
    const Bytes written = Written(file);
    const Bytes want(s.pdu.begin() + std::min(s.pdu.size(), body - base),
                     s.pdu.end());
    row.bytes += written == want ? 1 : 0;
    row.names += 1;
  }

  // Slides: every media src of the presentation is a slide's written file.
  if (m.m_pSimlContent != nullptr) {
    const std::string smil = m.m_pSimlContent;
    const std::regex media(
        "<\\s*(img|video|audio|text|ref)\\b[^>]*\\bsrc\\s*=\\s*\"");
    row.srcs = static_cast<int>(
        std::distance(std::sregex_iterator(smil.begin(), smil.end(), media),
                      std::sregex_iterator()));
    for (int slide = 0; slide < m.m_nPartNum; ++slide) {
      for (int f = 0; f < m.m_pSmilPart[slide]->m_nFileNum; ++f) {
        std::string narrow = Narrow(m.m_pSmilPart[slide]->m_szFileName[f]);
        for (int i = 0; i < m.m_nFileNum; ++i) {
          if (narrow == m.m_pFileNameArray[i]) {
            ++row.slides;
            break;
          }
        }
      }
    }
  }

  const auto subject = p.find("mmse.subject");
  row.subject =
      subject == p.end()
          ? m.m_szSubject[0] == '\0'
          : SubjectOf(FromHex(subject->second.value)) == m.m_szSubject;
  const auto from = p.find("mmse.from");
  row.from = from == p.end() ||
             Digits(from->second.show) == Digits(m.m_szSenderPhoneNumber);
  const auto to = p.find("mmse.to");
  const std::string our_to = m.m_szPhoneNumber;
  row.to = to == p.end() || Digits(to->second.show) ==
                                Digits(our_to.substr(0, our_to.find(',')));
  return row;
}

// The samples are split into shards, each its own test, so that no single
// test runs long on a loaded machine and CTest can run them side by side.
constexpr size_t kShards = 4;

void CorpusTshark::CheckShard(size_t shard) {
  if (!TsharkAvailable()) {
    GTEST_SKIP() << "tshark is not installed";
  }
  std::vector<Sample> samples;
  const std::vector<Sample> all = RetrieveConfs();
  for (size_t i = shard; i < all.size(); i += kShards) {
    samples.push_back(all[i]);
  }
  if (samples.empty()) {
    GTEST_SKIP() << "no corpus at " << CorpusDir();
  }
  std::vector<Bytes> pdus;
  for (const Sample& s : samples) {
    pdus.push_back(s.pdu);
  }
  std::vector<TsharkPacket> packets;
  for (TsharkPacket& packet : Dissect(
           PcapOfHttpPosts(pdus),
           root_.host() + "/../corpus-" + std::to_string(getpid()) + ".pcap",
           "",
           /*strict=*/false)) {
    if (packet.count("mmse") != 0) {
      packets.push_back(std::move(packet));
    }
  }
  ASSERT_EQ(packets.size(), samples.size());
  Row total;
  int subjects = 0, froms = 0, tos = 0, counts = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    const Row r = Compare(samples[i], packets[i]);
    std::printf(
        "CORPUS %-56s parts %d/%d names %d/%d bytes %d/%d slides %d/%d "
        "subject %d from %d to %d\n",
        samples[i].path.c_str(), r.parts, r.want_parts, r.names, r.want_parts,
        r.bytes, r.want_parts, r.slides, r.srcs, r.subject, r.from, r.to);
    counts += r.parts == r.want_parts;
    total.names += r.names;
    total.bytes += r.bytes;
    total.want_parts += r.want_parts;
    total.slides += r.slides;
    total.srcs += r.srcs;
    subjects += r.subject;
    froms += r.from;
    tos += r.to;
    EXPECT_EQ(r.parts, r.want_parts) << samples[i].path;
    EXPECT_EQ(r.names, r.want_parts) << samples[i].path;
    EXPECT_EQ(r.bytes, r.want_parts) << samples[i].path;
    EXPECT_EQ(r.slides, r.srcs) << samples[i].path;
    EXPECT_TRUE(r.subject && r.from && r.to) << samples[i].path;
  }
  std::printf(
      "CORPUS total: counts %d/%zu names %d/%d bytes %d/%d slides %d/%d "
      "subjects %d froms %d tos %d of %zu\n",
      counts, samples.size(), total.names, total.want_parts, total.bytes,
      total.want_parts, total.slides, total.srcs, subjects, froms, tos,
      samples.size());
}

TEST_F(CorpusTshark, RetrievedMessagesReadAsTsharkReadsThem0) { CheckShard(0); }
TEST_F(CorpusTshark, RetrievedMessagesReadAsTsharkReadsThem1) { CheckShard(1); }
TEST_F(CorpusTshark, RetrievedMessagesReadAsTsharkReadsThem2) { CheckShard(2); }
TEST_F(CorpusTshark, RetrievedMessagesReadAsTsharkReadsThem3) { CheckShard(3); }

}  // namespace
}  // namespace mms::testing
