// corpus.h: the shared corpus's files by their manifest type, tshark's
// reading of them, and the text of a Subject tshark found.
#ifndef MMS_TESTS_DECODE_CORPUS_H_
#define MMS_TESTS_DECODE_CORPUS_H_

#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "codec/byte_reader.h"
#include "codec/text_decode.h"
#include "codec/wsp_reader.h"
#include "support/tshark.h"

namespace mms::testing {

struct CorpusFile {
  std::string path;  // under CorpusDir()
  std::string type;  // the manifest's message-type cell
  Bytes pdu;
};

// The files whose type cell holds `type` (or, with holding false, lacks it).
inline std::vector<CorpusFile> CorpusFiles(const std::string& type,
                                           bool holding = true) {
  std::vector<CorpusFile> files;
  std::ifstream manifest(CorpusDir() + "/MANIFEST.tsv");
  for (std::string line; std::getline(manifest, line);) {
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, '\t');) {
      cells.push_back(cell);
    }
    if (cells.size() > 7 && cells[0] != "path" &&
        (cells[7].find(type) != std::string::npos) == holding) {
      files.push_back(
          {cells[0], cells[7], ReadHostFile(CorpusDir() + "/" + cells[0])});
    }
  }
  return files;
}

// tshark's MMS packets of pdus, each posted over HTTP; not strict, as
// other systems' messages are not always clean.
inline std::vector<TsharkPacket> MmsPackets(const std::vector<Bytes>& pdus,
                                            const std::string& folder) {
  std::vector<TsharkPacket> packets;
  for (TsharkPacket& p :
       Dissect(PcapOfHttpPosts(pdus),
               folder + "/../corpus-" + std::to_string(getpid()) + ".pcap", "",
               /*strict=*/false)) {
    if (p.count("mmse") != 0) {
      packets.push_back(std::move(p));
    }
  }
  return packets;
}

// The UTF-8 text of the packet's Subject field ("" when absent): tshark
// shows texts in other charsets damaged, so its bytes are read.
inline std::string SubjectText(const TsharkPacket& p) {
  const auto subject = p.find("mmse.subject");
  const Bytes field =
      subject == p.end() ? Bytes{0x96, 0} : Hex(subject->second.value);
  codec::ByteReader value(field.data() + 1, field.size() - 1);
  codec::EncodedString text;
  EXPECT_TRUE(codec::ReadEncodedString(value, &text));
  return codec::TextToUtf8(text.charset, text.text);
}

// Lower case; every character outside [a-z0-9._-] as one "_".
inline std::string Normal(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    while (c >= 0xC0 && i + 1 < name.size() && (name[i + 1] & 0xC0) == 0x80) {
      ++i;
    }
    out.push_back(std::isalnum(c) || c == '.' || c == '-'
                      ? static_cast<char>(std::tolower(c))
                      : '_');
  }
  return out;
}

}  // namespace mms::testing

#endif  // MMS_TESTS_DECODE_CORPUS_H_
