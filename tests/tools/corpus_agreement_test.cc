// corpus_agreement_test.cc: every corpus file other than a retrieve-conf,
// read by `mmsctl dump` and by `mmsctl open`: both find the same parts
// (count, type, name), Subject, From and To. For notifications and send
// requests, the dump's From, To, Subject and Content-Location are also
// tshark's.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "centre/centre_harness.h"
#include "codec/header_table.h"
#include "decode/corpus.h"

namespace mms::testing {
namespace {

struct Part {
  std::string type;
  std::string name;
};

// What one tool shows of a message; addresses and subject as text.
struct Reading {
  std::string from, subject, location;
  std::vector<std::string> to;
  std::vector<Part> parts;
};

std::string Lower(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

// A dump value as text: quotes and escapes undone, converted from the
// charset it names (addresses to the system code page, else UTF-8).
std::string Text(const std::string& shown, bool address) {
  const size_t close = shown.rfind('"');
  if (shown.empty() || shown[0] != '"' || close == 0) {
    return shown;
  }
  std::string bytes;
  for (size_t i = 1; i < close; ++i) {
    if (shown[i] == '\\' && shown[i + 1] == 'x') {
      bytes.push_back(
          static_cast<char>(std::stoi(shown.substr(i + 2, 2), 0, 16)));
      i += 3;
    } else {
      bytes.push_back(shown[i] == '\\' ? shown[++i] : shown[i]);
    }
  }
  const size_t at = shown.find("(charset ", close);
  const std::string name = at == std::string::npos
                               ? ""
                               : shown.substr(at + 9, shown.size() - at - 10);
  const codec::CharsetRow* row =
      codec::FindCharsetByName(name.data(), name.size());
  const codec::ByteReader text(reinterpret_cast<const uint8_t*>(bytes.data()),
                               bytes.size());
  const uint32_t mib = row == nullptr ? 0 : row->mib;
  return address ? codec::TextToAnsi(mib, text) : codec::TextToUtf8(mib, text);
}

// The value of a quoted parameter ("; name=\"x\"") of a Content-Type line.
std::string Parameter(const std::string& type, const std::string& name) {
  const size_t at = type.find("; " + name + "=\"");
  return at == std::string::npos
             ? ""
             : Text(type.substr(at + name.size() + 3), false);
}

Reading FromDump(const std::string& out) {
  Reading r;
  std::istringstream lines(out);
  std::string line;
  std::string location, name, id;
  auto close_part = [&] {
    if (r.parts.empty()) {
      return;
    }
    std::string& chosen = r.parts.back().name;
    chosen = !location.empty() ? location : !name.empty() ? name : id;
    if (chosen.size() > 1 && chosen.front() == '<') {
      chosen = chosen.substr(1, chosen.find('>') - 1);
    }
    location = name = id = "";
  };
  while (std::getline(lines, line)) {
    const size_t indent = line.find("0x");
    if (indent == std::string::npos || indent > 2 || line.size() < indent + 8) {
      continue;
    }
    const size_t label_at = line.find("  ", indent) + 2;
    const size_t width = 28 - indent;
    std::string label = line.substr(label_at, width);
    label.erase(label.find_last_not_of(' ') + 1);
    const std::string value =
        line.size() > label_at + width ? line.substr(label_at + width + 1) : "";
    if (indent == 0 && label.rfind("(entry ", 0) == 0) {
      close_part();
      r.parts.push_back(Part{});
    } else if (indent == 0 && label == "(body)") {
      r.parts.push_back(Part{"?", ""});
    } else if (indent == 2 && label == "Content-Type") {
      r.parts.back().type = Lower(value.substr(0, value.find(';')));
      name = Parameter(value, "name");
      if (name.empty()) {
        name = Parameter(value, "filename");
      }
    } else if (indent == 2 && Lower(label) == "content-location") {
      location = Text(value, false);
    } else if (indent == 2 && Lower(label) == "content-id") {
      id = Text(value, false);
    } else if (indent == 0 && label == "From") {
      r.from = Text(value, true);
      r.from = r.from.substr(0, r.from.find('/'));
      if (r.from.rfind("Insert-address-token", 0) == 0) {
        r.from = "";
      }
    } else if (indent == 0 && label == "To") {
      r.to.push_back(Text(value, true));
    } else if (indent == 0 && label == "Subject") {
      r.subject = Text(value, false).substr(0, 259);
    } else if (indent == 0 && label == "X-Mms-Content-Location") {
      r.location = Text(value, false);
    }
  }
  close_part();
  return r;
}

Reading FromOpen(const std::string& out) {
  Reading r;
  std::istringstream lines(out);
  std::string line;
  auto field = [](const std::string& v) { return v == "-" ? "" : v; };
  while (std::getline(lines, line)) {
    if (line.rfind("From: ", 0) == 0) {
      r.from = field(line.substr(6));
    } else if (line.rfind("To: ", 0) == 0 && line != "To: -") {
      std::istringstream to(line.substr(4));
      std::string one;
      while (std::getline(to, one, ',')) {
        r.to.push_back(one);
      }
    } else if (line.rfind("Subject: ", 0) == 0) {
      r.subject = field(line.substr(9));
    } else if (line.rfind("  ", 0) == 0 &&
               line.find(" bytes  ") != std::string::npos) {
      std::istringstream cells(line);
      std::string index, name, type;
      cells >> index >> name >> type;
      r.parts.push_back(Part{type, name});
    }
  }
  return r;
}

std::string NoSmil(const std::string& name) {
  const size_t smil = Lower(name).rfind(".smil");
  return smil != std::string::npos && smil + 5 == name.size()
             ? name.substr(0, smil)
             : name;
}

class CorpusAgreement : public DeviceTest {};

TEST_F(CorpusAgreement, DumpAndOpenAgreeAndAddressesAreTsharks) {
  const std::vector<CorpusFile> files = CorpusFiles("m-retrieve-conf", false);
  if (files.empty()) {
    GTEST_SKIP() << "no corpus at " << CorpusDir();
  }
  const std::string binary = MMS_BINARY_DIR "/mmsctl";
  std::vector<const CorpusFile*> checked;  // notifications and send requests
  std::vector<Reading> dumped;
  std::vector<Bytes> pdus;
  ASSERT_TRUE(std::filesystem::exists(binary)) << "build mmsctl first";
  setenv("MMS_DEVICE_ROOT", root_.host().c_str(), 1);
  const std::string scratch =
      std::filesystem::path(root_.host()).parent_path().string();
  for (const CorpusFile& f : files) {
    auto output = [&](const std::string& command) {
      return RunTool(binary, {command, CorpusDir() + "/" + f.path}, scratch)
          .out;
    };
    const Reading dump = FromDump(output("dump"));
    const Reading open = FromOpen(output("open"));
    SCOPED_TRACE(f.path);
    EXPECT_EQ(dump.from, open.from);
    EXPECT_EQ(dump.subject, open.subject);
    EXPECT_LE(open.to.size(), dump.to.size());
    for (size_t i = 0; i < open.to.size() && i < dump.to.size(); ++i) {
      EXPECT_EQ(dump.to[i], open.to[i]);
    }
    ASSERT_EQ(dump.parts.size(), open.parts.size());
    for (size_t i = 0; i < open.parts.size(); ++i) {
      const Part& d = dump.parts[i];
      const Part& o = open.parts[i];
      EXPECT_TRUE(d.type == "?" || d.type == o.type) << d.type << " " << o.type;
      if (!d.name.empty()) {
        EXPECT_EQ(Normal(NoSmil(d.name)), Normal(NoSmil(o.name)));
      }
    }
    if (f.type.find("m-notification-ind") != std::string::npos ||
        f.type.find("m-send-req") != std::string::npos) {
      checked.push_back(&f);
      dumped.push_back(dump);
      pdus.push_back(f.pdu);
    }
  }
  if (!TsharkAvailable()) {
    GTEST_SKIP() << "tshark is not installed";
  }
  const std::vector<TsharkPacket> packets = MmsPackets(pdus, root_.host());
  ASSERT_EQ(packets.size(), checked.size());
  for (size_t i = 0; i < packets.size(); ++i) {
    SCOPED_TRACE(checked[i]->path);
    const TsharkPacket& p = packets[i];
    const std::string from = Shown(p, "mmse.from");
    EXPECT_EQ(from == "<insert address>" ? "" : from.substr(0, from.find('/')),
              dumped[i].from);
    std::string to;
    for (const std::string& one : dumped[i].to) {
      to += (to.empty() ? "" : "|") + one;
    }
    EXPECT_EQ(Shown(p, "mmse.to"), to);
    EXPECT_EQ(SubjectText(p).substr(0, 259), dumped[i].subject);
    EXPECT_EQ(Shown(p, "mmse.content_location"), dumped[i].location);
  }
}

}  // namespace
}  // namespace mms::testing
