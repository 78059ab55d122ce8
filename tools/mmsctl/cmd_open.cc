// cmd_open.cc: `mmsctl open FILE`: opens a message file with CMMS::MMS_Open
// and prints its headers, its parts and its slides.
//
// FILE is a device path ("\Windows\Messaging\...") or a host file, which
// is first copied into the device root. Part types and sizes come from a
// second, in-memory read of the same bytes (the message record keeps only
// the part files' paths).
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "codec/byte_reader.h"
#include "codec/decode/body.h"
#include "codec/decode/decoder.h"
#include "codec/records.h"
#include "mms.h"
#include "platform/whole_file.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/compose.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "open";

struct PartInfo {
  std::string type;
  uint32_t size = 0;
};

// Types and sizes of the parts, read from the PDU in place by the
// decoder's own in-memory parse.
std::vector<PartInfo> ReadParts(const std::vector<uint8_t>& pdu) {
  std::vector<PartInfo> parts;
  MMS_Header header{};
  MMS_Custom_Data scratch;
  mms::codec::ParsedMessage parsed;
  (void)mms::codec::ParseMessage(pdu.data(), pdu.size(), &header, &scratch,
                                 &parsed);
  FreeMmsHeader(&header);
  for (const mms::codec::PartView& part : parsed.parts) {
    const std::string type = mms::codec::MediaTypeText(part.content_type);
    parts.push_back(PartInfo{type.empty() ? "-" : type, part.data_length});
  }
  return parts;
}

std::string Field(const char* text) {
  // Addresses are system code page text, the subject UTF-8; both print as
  // they are for the ASCII a number or address holds.
  return text[0] == '\0' ? "-" : text;
}

int Run(const Args& args) {
  if (args.size() != 1) {
    return Fail(kName, "expected one message file (see --help)", kUsage);
  }
  std::wstring device_path;
  if (!args[0].empty() && args[0][0] == '\\') {
    device_path = Wide(args[0]);
  } else {
    std::string error;
    if (!CopyIntoDevice(args[0], &device_path, &error)) {
      return Fail(kName, error);
    }
  }
  const std::string host = HostPath(device_path);
  std::vector<uint8_t> pdu;
  if (host.empty() || !mms::platform::ReadHostFile(host, &pdu)) {
    return Fail(kName, "cannot read " + Utf8(device_path));
  }
  MMS_Custom_Data message;
  std::vector<wchar_t> path(device_path.begin(), device_path.end());
  path.push_back(L'\0');
  if (CMMS::MMS_Open(path.data(), &message) != 0) {
    return Fail(kName, "cannot open " + Utf8(device_path) +
                           (pdu.empty() ? " (empty file)" : ""));
  }
  const std::vector<PartInfo> parts = ReadParts(pdu);

  std::printf("File: %s\n", Utf8(device_path).c_str());
  std::printf("From: %s\n", Field(message.m_szSenderPhoneNumber).c_str());
  std::printf("To: %s\n", Field(message.m_szPhoneNumber).c_str());
  std::printf("Cc: %s\n", Field(message.m_szCcName).c_str());
  std::printf("Subject: %s\n", Field(message.m_szSubject).c_str());
  const SYSTEMTIME& t = message.m_stDate;
  if (t.wYear == 0) {
    std::printf("Date: -\n");
  } else {
    std::printf("Date: %04u-%02u-%02u %02u:%02u:%02u\n", t.wYear, t.wMonth,
                t.wDay, t.wHour, t.wMinute, t.wSecond);
  }
  std::printf("Parts: %d\n", message.m_nFileNum);
  for (int i = 0; i < message.m_nFileNum; ++i) {
    wchar_t file[MAX_PATH] = {};
    if (message.GetFileName(i, file) != 1) {
      continue;
    }
    wchar_t name[MAX_PATH] = {};
    (void)GetFileNameFromPath(file, name);
    const bool known = static_cast<size_t>(i) < parts.size();
    std::printf("  %d  %s  %s  %u bytes  %s\n", i, Utf8(name).c_str(),
                known ? parts[i].type.c_str() : "-", known ? parts[i].size : 0u,
                Utf8(file).c_str());
  }
  std::printf("Slides: %d\n", message.m_nPartNum);
  for (int s = 0; s < message.m_nPartNum && s < 32; ++s) {
    const MMS_Smil_Part* slide = message.m_pSmilPart[s];
    if (slide == nullptr) {
      continue;
    }
    std::printf("  %d  %d ms\n", s, slide->m_nPartTime);
    for (int f = 0; f < slide->m_nFileNum; ++f) {
      std::printf("     %s\n", Utf8(slide->m_szFileName[f]).c_str());
    }
  }
  return kOk;
}

const Registration kRegistration({
    kName,
    "decode a message file and print its headers, parts and slides",
    "usage: mmsctl open FILE\n\n"
    "Opens a message file as a client of the library does (CMMS::MMS_Open):\n"
    "its parts are written to \\temp\\mmsdecode\\ under the device root and\n"
    "its SMIL is read into slides. Prints From, To, Cc, Subject and Date,\n"
    "each part (name, content type, size, device path) and each slide with\n"
    "its duration and files.\n\n"
    "FILE is a device path (starting with \\) or a host file, which is\n"
    "copied into \\Temp\\mmsctl\\ of the device root first.\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
