// smil_part.cc: one slide (MMS_Smil_Part): up to 32 file entries of 260
// characters and a duration.
//
// An entry is written whole or not at all: a 33rd file, or a name of 260
// characters or more, is refused and the slide stays as it was.
#include <string.h>
#include <wchar.h>

#include "mms.h"
#include "model/record_limits.h"

using mms::model::kMaxSlideFiles;

namespace {

constexpr int kDefaultPartTimeMs = 30000;

}  // namespace

MMS_Smil_Part::MMS_Smil_Part(void)
    : m_nFileNum(0), m_nPartTime(kDefaultPartTimeMs), m_szFileName() {}

int MMS_Smil_Part::AddFileToPart(wchar_t* name) {
  if (name == nullptr || m_nFileNum < 0 || m_nFileNum >= kMaxSlideFiles) {
    return 0;
  }
  size_t length = wcsnlen(name, MAX_PATH);
  if (length >= MAX_PATH) {
    return 0;
  }
  wchar_t* entry = m_szFileName[m_nFileNum];
  wmemcpy(entry, name, length);
  entry[length] = L'\0';
  ++m_nFileNum;
  return 1;
}

int MMS_Smil_Part::GetFileName(int index, wchar_t* name) {
  if (name == nullptr || index < 0 || index >= m_nFileNum ||
      index >= kMaxSlideFiles) {
    return 0;
  }
  const wchar_t* entry = m_szFileName[index];
  size_t length = wcsnlen(entry, MAX_PATH - 1);
  wmemcpy(name, entry, length);
  name[length] = L'\0';
  return 1;
}

int MMS_Smil_Part::SetPartTime(int ms) {
  m_nPartTime = ms;
  return 1;
}
