// received.cc: a received message's slides from the text of its SMIL part
// (MMS_Custom_Data::ParseSmilToData, and the parsing behind
// RecivedToParseSmil and the slide step of opening a message, whose file
// reading is in store/slide_files.cc).
//
// On its own, RecivedToParseSmil takes the first file of the message whose
// path, lowered, contains "smil", and names slide files with the decoder's
// own mapping (SafePartName). Opening a message does better: the decode
// tells it which part is the presentation and which file each Content-ID
// and Content-Location was written to, so "cid:" sources and renamed parts
// resolve, and media placed straight in the body are slides too.
#include "smil/received.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwctype>
#include <new>
#include <string>

#include "codec/decode/part_name.h"
#include "mms.h"
#include "platform/winapi.h"
#include "smil/parser.h"

namespace mms::smil {
namespace {

// atoi's reading (blanks, sign, digits) of text[0..size), held to the int
// range instead of overflowing.
long long LeadingNumber(const char* text, size_t size) {
  size_t i = 0;
  while (i < size && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < size && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<long long>(value * 10 + (text[i] - '0'), INT_MAX);
  }
  return negative ? -value : value;
}

int ClampToInt(long long value) {
  return static_cast<int>(
      std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, value)));
}

// "4000ms" -> 4000, "5s" -> 5000, "8" -> 8000, "1.5s" -> 1000.
int DurationMs(const char* dur) {
  const size_t size = std::strlen(dur);
  const char* m = std::strchr(dur, 'M');
  if (m == nullptr) {
    m = std::strchr(dur, 'm');
  }
  if (m != nullptr) {
    return ClampToInt(LeadingNumber(dur, static_cast<size_t>(m - dur)));
  }
  const char* s = std::strchr(dur, 'S');
  if (s == nullptr) {
    s = std::strchr(dur, 's');
  }
  const size_t digits = s != nullptr ? static_cast<size_t>(s - dur) : size;
  return ClampToInt(LeadingNumber(dur, digits) * 1000);
}

// The file a slide's "src" names: through the decode's names when given
// ("cid:" and Content-Location), else by the part-name mapping.
std::wstring SlideFile(const char* src, const codec::DecodedFiles* files) {
  if (files != nullptr) {
    std::string key = src;
    if (key.compare(0, 4, "cid:") == 0) {
      key.erase(0, 4);
      if (!key.empty() && key.front() == '<' && key.back() == '>') {
        key = key.substr(1, key.size() - 2);
      }
    }
    for (const auto& entry : files->names) {
      if (entry.first == key) {
        return entry.second;
      }
    }
  }
  return codec::SafePartName(src, std::strlen(src));
}

int FillSlides(MMS_Custom_Data* message, CSmil* smil,
               const codec::DecodedFiles* files) {
  if (smil == nullptr) {
    return 0;
  }
  message->m_nPartNum = std::min(smil->m_nParNum, kSmilTableSize);
  message->m_nRootWidth = ClampToInt(
      LeadingNumber(smil->m_szRootWidth, std::strlen(smil->m_szRootWidth)));
  message->m_nRootHeight = ClampToInt(
      LeadingNumber(smil->m_szRootHeight, std::strlen(smil->m_szRootHeight)));
  for (int i = 0; i < message->m_nPartNum; ++i) {
    const SmilPar& par = smil->m_Par[i];
    MMS_Smil_Part*& slide = message->m_pSmilPart[i];
    delete slide;
    slide = new (std::nothrow) MMS_Smil_Part();
    if (slide == nullptr) {
      message->m_nPartNum = i;
      return 0;
    }
    for (const char* src : {par.szImage, par.szAudio, par.szText}) {
      if (src[0] == '\0') {
        continue;
      }
      std::wstring path =
          std::wstring(codec::kDecodeFolder) + SlideFile(src, files);
      (void)slide->AddFileToPart(path.data());
    }
    if (par.szDur[0] != '\0') {
      slide->m_nPartTime = DurationMs(par.szDur);
    }
  }
  return 1;
}

}  // namespace

int FindSmilFile(MMS_Custom_Data* message, std::wstring* path) {
  for (int i = 0; i < message->m_nFileNum; ++i) {
    wchar_t name[MAX_PATH] = {};
    if (message->GetFileName(i, name) != 1) {
      continue;
    }
    std::wstring lowered(name);
    for (wchar_t& c : lowered) {
      c = static_cast<wchar_t>(std::towlower(c));
    }
    if (lowered.find(L"smil") != std::wstring::npos) {
      *path = name;
      return i;
    }
  }
  return -1;
}

int TakeSlides(MMS_Custom_Data* message, char* text,
               const codec::DecodedFiles* files) {
  LocalFree(message->m_pSimlContent);
  message->m_pSimlContent = text;
  CSmil smil(message->m_pSimlContent);
  smil.SetBodyMediaSlides(files != nullptr);
  smil.Parse();
  return FillSlides(message, &smil, files);
}

}  // namespace mms::smil

int MMS_Custom_Data::ParseSmilToData(CSmil* smil) {
  return mms::smil::FillSlides(this, smil, nullptr);
}
