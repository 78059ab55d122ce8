// custom_data.cc: the message record's own fields: construction, the
// file-name array, the SMIL block, the To and From addresses, the subject,
// the Cc list and the read-report flag.
//
// Every fixed field is replaced whole or not at all: a text that does not
// fit its 260 bytes, or an index outside an array, is refused with 0 and the
// record stays as it was. Slides live in slides.cc.
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <string_view>

#include "mms.h"
#include "model/ansi_text.h"
#include "model/record_limits.h"
#include "model/typed_text.h"
#include "platform/winapi.h"

using mms::model::AnsiToWide;
using mms::model::FieldLength;
using mms::model::kMaxFileNames;
using mms::model::kMaxSlides;
using mms::model::WideToAnsi;

namespace {

using FileEntry = char[MAX_PATH];

constexpr std::string_view kPlmnSuffix = "/TYPE=PLMN";

bool IsEmpty(const wchar_t* text) {
  return text == nullptr || text[0] == L'\0';
}

// A zero-filled block of `count` file-name entries, or null.
FileEntry* NewFileArray(int count) {
  return static_cast<FileEntry*>(
      LocalAlloc(LPTR, static_cast<size_t>(count) * MAX_PATH));
}

// Entries a file-name array holds, from the size of its block: whoever
// made the array (this record, the decoder, a client), no index can land
// outside it.
int Capacity(const FileEntry* array) {
  return static_cast<int>(LocalSize(const_cast<FileEntry*>(array)) / MAX_PATH);
}

// Replaces a fixed field with `text`, which already fits it.
void StoreField(char* field, const char* text) {
  memset(field, 0, MAX_PATH);
  memcpy(field, text, strnlen(text, MAX_PATH - 1));
}

// Writes the address in `field` into `out` (260 characters) without its
// "/TYPE=PLMN" suffix and whatever follows it. A received message's field
// lists every recipient joined by ","; the first is the address.
int AddressToWide(const char* field, wchar_t* out) {
  if (out == nullptr) {
    return 0;
  }
  std::string_view text(field, FieldLength(field));
  const size_t cut =
      std::min({text.find(kPlmnSuffix), text.find(','), text.size()});
  return AnsiToWide(field, cut, out, MAX_PATH) ? 1 : 0;
}

// "+86" in front of a number that does not already hold it anywhere, into
// `out` (260 characters); false when the result would not fit.
bool WithCountryCode(const wchar_t* number, wchar_t* out) {
  size_t length = wcsnlen(number, MAX_PATH);
  bool has_code = wcsstr(number, L"+86") != nullptr;
  size_t total = length + (has_code ? 0 : 3);
  if (total >= MAX_PATH) {
    return false;
  }
  out[0] = L'\0';
  if (!has_code) {
    wcscpy(out, L"+86");
  }
  wcscat(out, number);
  return true;
}

// Finds Cc entry `index` (0-based) of a list "*a*b*c": [begin, end) is the
// text after the (index + 1)-th "*" up to the next "*" or the end.
bool FindCcEntry(const char* list, int index, size_t* begin, size_t* end) {
  std::string_view text(list, FieldLength(list));
  size_t star = std::string_view::npos;
  size_t from = 0;
  for (int i = 0; i <= index; ++i) {
    star = text.find('*', from);
    if (star == std::string_view::npos) {
      return false;
    }
    from = star + 1;
  }
  size_t next = text.find('*', from);
  *begin = from;
  *end = next == std::string_view::npos ? text.size() : next;
  return true;
}

}  // namespace

MMS_Custom_Data::MMS_Custom_Data(void)
    : m_nFileNum(0),
      m_pSimlContent(nullptr),
      m_pFileNameArray(nullptr),
      m_szCcName(),
      m_nCcNumber(0),
      m_szPhoneNumber(),
      m_szSenderPhoneNumber(),
      m_szSubject(),
      m_stDate(),
      m_bReadReport(0),
      m_nRootWidth(0),
      m_nRootHeight(0),
      m_nImageWidth(0),
      m_nImageHeight(0),
      m_nImageLeft(0),
      m_nImageTop(0),
      m_nTextWidth(0),
      m_nTextHeight(0),
      m_nTextLeft(0),
      m_nTextTop(0),
      m_nPartNum(0),
      m_pSmilPart(),
      m_bSmilParsed(0),
      m_pOption(nullptr) {}

MMS_Custom_Data::MMS_Custom_Data(int file_count, struct MMS_Option* option)
    : MMS_Custom_Data() {
  // A count below one makes no array; a failed allocation leaves the record
  // empty rather than claiming slots it does not have.
  if (file_count > 0) {
    m_pFileNameArray = NewFileArray(file_count);
    if (m_pFileNameArray != nullptr) {
      m_nFileNum = file_count;
    }
  }
  if (option != nullptr) {
    m_pOption = static_cast<MMS_Option*>(LocalAlloc(LPTR, sizeof(MMS_Option)));
    if (m_pOption != nullptr) {
      *m_pOption = *option;
    }
  }
}

MMS_Custom_Data::~MMS_Custom_Data() {
  mms::model::ForgetTypedText(this);
  LocalFree(m_pFileNameArray);
  m_pFileNameArray = nullptr;
  LocalFree(m_pOption);
  m_pOption = nullptr;
  for (int i = 0; i < kMaxSlides; ++i) {
    delete m_pSmilPart[i];
    m_pSmilPart[i] = nullptr;
  }
  LocalFree(m_pSimlContent);
  m_pSimlContent = nullptr;
}

// ---------------------------------------------------------------------------
// File names.

int MMS_Custom_Data::SetFileNameArray(int index, wchar_t* name) {
  if (IsEmpty(name) || m_pFileNameArray == nullptr || index < 0 ||
      index >= Capacity(m_pFileNameArray)) {
    return 0;
  }
  char entry[MAX_PATH] = {};
  if (!WideToAnsi(name, entry, sizeof(entry))) {
    return 0;
  }
  StoreField(m_pFileNameArray[index], entry);
  return 1;
}

int MMS_Custom_Data::AddFileNameToArray(wchar_t* name) {
  if (m_nFileNum < 0 || m_nFileNum >= kMaxFileNames) {
    return 0;
  }
  // Convert first so that a name that does not fit changes nothing.
  char entry[MAX_PATH] = {};
  if (!IsEmpty(name) && !WideToAnsi(name, entry, sizeof(entry))) {
    return 0;
  }
  if (m_nFileNum >= Capacity(m_pFileNameArray)) {
    // No array yet, or a smaller one made by the option constructor or the
    // decoder: move to a full-size array, keeping every entry.
    FileEntry* grown = NewFileArray(kMaxFileNames);
    if (grown == nullptr) {
      return 0;
    }
    const int held = Capacity(m_pFileNameArray);
    if (held > 0) {
      int keep = held < kMaxFileNames ? held : kMaxFileNames;
      memcpy(grown, m_pFileNameArray, static_cast<size_t>(keep) * MAX_PATH);
    }
    LocalFree(m_pFileNameArray);
    m_pFileNameArray = grown;
  }
  // An empty name still takes a slot, counted, as callers expect.
  StoreField(m_pFileNameArray[m_nFileNum], entry);
  ++m_nFileNum;
  return 1;
}

int MMS_Custom_Data::GetFileName(int index, char* name) {
  if (name == nullptr || m_pFileNameArray == nullptr || index < 0 ||
      index >= m_nFileNum || index >= Capacity(m_pFileNameArray)) {
    return 0;
  }
  const char* entry = m_pFileNameArray[index];
  size_t length = FieldLength(entry, MAX_PATH - 1);
  memcpy(name, entry, length);
  name[length] = '\0';
  return 1;
}

int MMS_Custom_Data::GetFileName(int index, wchar_t* name) {
  if (name == nullptr || m_pFileNameArray == nullptr || index < 0 ||
      index >= m_nFileNum || index >= Capacity(m_pFileNameArray)) {
    return 0;
  }
  const char* entry = m_pFileNameArray[index];
  return AnsiToWide(entry, FieldLength(entry, MAX_PATH - 1), name, MAX_PATH)
             ? 1
             : 0;
}

// ---------------------------------------------------------------------------
// SMIL text.

int MMS_Custom_Data::SetSimlContent(char* smil) {
  if (smil == nullptr) {
    return 0;
  }
  // The record owns one block; a new one replaces (and frees) the old.
  if (m_pSimlContent != nullptr && m_pSimlContent != smil) {
    LocalFree(m_pSimlContent);
  }
  m_pSimlContent = smil;
  return 1;
}

int MMS_Custom_Data::GetSimlContent(char* smil) {
  (void)smil;  // kept for the interface; the phone wrote nothing either
  return 1;
}

// ---------------------------------------------------------------------------
// Recipient and sender.

int MMS_Custom_Data::SetPhoneNumber(wchar_t* number) {
  if (IsPhoneNumberText(number) == 0) {
    return 0;
  }
  wchar_t full[MAX_PATH];
  char ansi[MAX_PATH] = {};
  if (!WithCountryCode(number, full) || !WideToAnsi(full, ansi, sizeof(ansi))) {
    return 0;
  }
  StoreField(m_szPhoneNumber, ansi);
  return 1;
}

int MMS_Custom_Data::GetPhoneNumber(wchar_t* number) {
  return AddressToWide(m_szPhoneNumber, number);
}

int MMS_Custom_Data::GetSenderPhoneNumber(wchar_t* number) {
  return AddressToWide(m_szSenderPhoneNumber, number);
}

// ---------------------------------------------------------------------------
// Subject.

int MMS_Custom_Data::SetSubject(wchar_t* subject) {
  if (IsEmpty(subject)) {
    return 0;
  }
  int needed = WideCharToMultiByte(CP_UTF8, 0, subject, -1, nullptr, 0, nullptr,
                                   nullptr);
  if (needed <= 0 || static_cast<size_t>(needed) > MAX_PATH) {
    return 0;
  }
  char utf8[MAX_PATH] = {};
  if (WideToUtf8(subject, utf8) == 0) {
    return 0;
  }
  memcpy(m_szSubject, utf8, MAX_PATH);
  return 1;
}

int MMS_Custom_Data::GetSubject(wchar_t* subject) {
  if (subject == nullptr) {
    return 0;
  }
  // The decoder may have filled all 260 bytes; decode a terminated copy.
  char bytes[MAX_PATH + 1];
  memcpy(bytes, m_szSubject, MAX_PATH);
  bytes[MAX_PATH] = '\0';
  wchar_t work[MAX_PATH] = {};
  if (Utf8ToWide(bytes, work, static_cast<int>(MAX_PATH)) == 0) {
    return 0;
  }
  wcscpy(subject, work);
  return 1;
}

// ---------------------------------------------------------------------------
// Cc list.

int MMS_Custom_Data::AddCcName(wchar_t* number) {
  if (IsEmpty(number)) {
    return 0;
  }
  wchar_t full[MAX_PATH];
  if (!WithCountryCode(number, full)) {
    return 0;
  }
  wchar_t entry[MAX_PATH + 16];
  swprintf(entry, sizeof(entry) / sizeof(entry[0]), L"%ls/TYPE=PLMN", full);
  char ansi[MAX_PATH] = {};
  if (!WideToAnsi(entry, ansi, sizeof(ansi))) {
    return 0;
  }
  size_t used = FieldLength(m_szCcName);
  size_t added = strlen(ansi);
  if (used + 1 + added > MAX_PATH - 1) {
    return 0;  // the list would not fit its field: refused whole
  }
  m_szCcName[used] = '*';
  memcpy(m_szCcName + used + 1, ansi, added);
  m_szCcName[used + 1 + added] = '\0';
  return 1;
}

int MMS_Custom_Data::SetCcNumber(int count) {
  m_nCcNumber = count;
  return 1;
}

int MMS_Custom_Data::GetCcNumber(void) {
  size_t length = FieldLength(m_szCcName);
  if (length == 0) {
    return -1;
  }
  int stars = 0;
  for (size_t i = 0; i < length; ++i) {
    if (m_szCcName[i] == '*') {
      ++stars;
    }
  }
  return stars;
}

int MMS_Custom_Data::GetCcName(wchar_t* number, int index) {
  size_t begin = 0;
  size_t end = 0;
  if (number == nullptr || index < 0 || index >= m_nCcNumber ||
      !FindCcEntry(m_szCcName, index, &begin, &end)) {
    return 0;
  }
  std::string_view entry(m_szCcName + begin, end - begin);
  size_t cut = entry.find(kPlmnSuffix);
  if (cut == std::string_view::npos) {
    cut = entry.size();
  }
  return AnsiToWide(entry.data(), cut, number, MAX_PATH) ? 1 : 0;
}

int MMS_Custom_Data::GetCcNameWithPLNM(wchar_t* number, int index) {
  size_t begin = 0;
  size_t end = 0;
  if (number == nullptr || index < 0 || index >= m_nCcNumber ||
      !FindCcEntry(m_szCcName, index, &begin, &end)) {
    return 0;
  }
  return AnsiToWide(m_szCcName + begin, end - begin, number, MAX_PATH) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Read report.

int MMS_Custom_Data::SetReadReport(int read_report) {
  m_bReadReport = read_report;
  return 1;
}

int MMS_Custom_Data::IsHaveReadReport(void) { return m_bReadReport; }
