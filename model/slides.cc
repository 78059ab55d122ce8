// slides.cc: the slide members of the message record: building slides from
// files and typed text, reading slide entries back, singling out the
// accessories (files no slide shows) and reading a text part file.
//
// Slides may be made out of order, so a slide below m_nPartNum can be
// missing: every reader here treats a missing slide as holding no files.
// The file-name array is only touched through AddFileNameToArray.
#include <limits.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include <memory>
#include <new>
#include <string>

#include "mms.h"
#include "model/record_limits.h"
#include "model/typed_text.h"
#include "platform/owned.h"
#include "platform/whole_file.h"
#include "platform/winapi.h"

using mms::model::kMaxFileNames;
using mms::model::kMaxSlideFiles;
using mms::model::kMaxSlides;

namespace {

// Extensions of the files a slide can show, compared in lower case.
constexpr const wchar_t* kMediaWords[] = {
    L"jpg", L"gif", L"png", L"bmp", L"mid", L"amr",
    L"mp3", L"wma", L"wav", L"txt", L"3gp",
};

bool IsMediaWord(const wchar_t* extension) {
  for (const wchar_t* word : kMediaWords) {
    if (wcscmp(extension, word) == 0) {
      return true;
    }
  }
  return false;
}

// The record's file entry `index` as wide text in lower case, and its
// extension (empty when it has none). False when the entry cannot be read.
bool LoweredFile(MMS_Custom_Data* record, int index, wchar_t* path,
                 wchar_t* extension) {
  if (record->GetFileName(index, path) == 0) {
    return false;
  }
  for (wchar_t* p = path; *p != L'\0'; ++p) {
    *p = static_cast<wchar_t>(towlower(static_cast<wint_t>(*p)));
  }
  extension[0] = L'\0';
  return GetFileExtension(path, extension) != 0;
}

bool IsSlideIndex(int slide) { return slide >= 0 && slide < kMaxSlides; }

// Slides in use, bounded by the array whatever m_nPartNum says.
int SlidesInUse(const MMS_Custom_Data& record) {
  if (record.m_nPartNum < 0) {
    return 0;
  }
  return record.m_nPartNum < kMaxSlides ? record.m_nPartNum : kMaxSlides;
}

int FilesOnSlide(const MMS_Smil_Part* part) {
  if (part == nullptr || part->m_nFileNum < 0) {
    return 0;
  }
  return part->m_nFileNum < kMaxSlideFiles ? part->m_nFileNum : kMaxSlideFiles;
}

}  // namespace

int MMS_Custom_Data::AddPartFileName(int slide, wchar_t* path) {
  if (path == nullptr || path[0] == L'\0' || !IsSlideIndex(slide)) {
    return 0;
  }
  wchar_t bare[MAX_PATH] = {};
  if (GetFileNameFromPath(path, bare) == 0) {
    return 0;
  }
  // Make the slide aside first, so that a path the file-name array refuses
  // (full, or too long for its entry) leaves the record as it was.
  MMS_Smil_Part* part = m_pSmilPart[slide];
  std::unique_ptr<MMS_Smil_Part> made;
  if (part == nullptr) {
    made.reset(new (std::nothrow) MMS_Smil_Part());
    if (made == nullptr) {
      return 0;
    }
    part = made.get();
  }
  if (AddFileNameToArray(path) == 0) {
    return 0;
  }
  if (made != nullptr) {
    m_pSmilPart[slide] = made.release();
  }
  if (slide > m_nPartNum - 1) {
    m_nPartNum = slide + 1;
  }
  // A full slide refuses the name; the file still travels as a part.
  part->AddFileToPart(bare);
  return 1;
}

int MMS_Custom_Data::AddPartTxt(int slide, wchar_t* text, int read_report) {
  if (text == nullptr || text[0] == L'\0' || !IsSlideIndex(slide)) {
    return 0;
  }
  // Refuse before writing a file that could not be added afterwards.
  if (m_nFileNum < 0 || m_nFileNum >= kMaxFileNames) {
    return 0;
  }
  CreateDeCodeFolder();
  int needed =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 1) {
    return 0;
  }
  std::unique_ptr<char[]> utf8(new (std::nothrow) char[needed]());
  if (utf8 == nullptr || WideToUtf8(text, utf8.get()) == 0) {
    return 0;
  }
  DWORD length = static_cast<DWORD>(strnlen(utf8.get(), needed));
  if (length == 0) {
    return 0;
  }
  // Typed text goes to a folder of the record's own: the name on the slide
  // and on the wire stays tempTxt<slide>.txt.
  std::wstring path = L"readreport.txt";
  mms::platform::OwnedHandle file = mms::platform::OwnHandle(
      read_report != 0
          ? CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr)
          : mms::model::CreateTypedTextFile(this, slide, &path));
  if (file == nullptr) {
    return 0;
  }
  DWORD written = 0;
  bool wrote = WriteFile(file.get(), utf8.get(), length, &written, nullptr) &&
               written == length;
  bool closed = CloseHandle(file.release()) != 0;
  if (!wrote || !closed) {
    // Never leave a cut-short text behind to be sent as if whole.
    DeleteFileW(path.c_str());
    return 0;
  }
  return AddPartFileName(slide, path.data());
}

int MMS_Custom_Data::GetPartFileName(int slide, int file, wchar_t* name) {
  if (name == nullptr || !IsSlideIndex(slide) ||
      m_pSmilPart[slide] == nullptr || file < 0 || file >= kMaxSlideFiles) {
    return 0;
  }
  MMS_Smil_Part* part = m_pSmilPart[slide];
  if (file >= part->m_nFileNum) {
    return 1;  // past the slide's files: nothing to give, not an error
  }
  return part->GetFileName(file, name);
}

int MMS_Custom_Data::IsHaveAccessories(void) {
  if (m_bSmilParsed != 0) {
    // The SMIL file itself is one of the files but on no slide.
    int shown = 0;
    for (int s = 0; s < SlidesInUse(*this); ++s) {
      shown += FilesOnSlide(m_pSmilPart[s]);
    }
    return shown < m_nFileNum - 1 ? 1 : 0;
  }
  for (int i = 0; i < m_nFileNum; ++i) {
    wchar_t path[MAX_PATH] = {};
    wchar_t extension[MAX_PATH] = {};
    if (LoweredFile(this, i, path, extension) && !IsMediaWord(extension)) {
      return 1;
    }
  }
  return 0;
}

int MMS_Custom_Data::GetAccessories(MMS_Smil_Part* part) {
  if (part == nullptr) {
    return 0;
  }
  for (int i = 0; i < m_nFileNum; ++i) {
    wchar_t path[MAX_PATH] = {};
    wchar_t extension[MAX_PATH] = {};
    if (!LoweredFile(this, i, path, extension)) {
      continue;
    }
    bool accessory = m_bSmilParsed != 0 ? FileInSmilPart(path) == 0 &&
                                              wcscmp(extension, L"smil") != 0
                                        : !IsMediaWord(extension);
    if (accessory) {
      part->AddFileToPart(path);  // a full slide just stops taking more
    }
  }
  return 1;
}

int MMS_Custom_Data::FileInSmilPart(wchar_t* path) {
  if (path == nullptr) {
    return 0;
  }
  for (int s = 0; s < SlidesInUse(*this); ++s) {
    const MMS_Smil_Part* part = m_pSmilPart[s];
    for (int f = 0; f < FilesOnSlide(part); ++f) {
      if (wcsncmp(part->m_szFileName[f], path, MAX_PATH) == 0) {
        return 1;
      }
    }
  }
  return 0;
}

wchar_t* MMS_Custom_Data::GetTextFromFile(wchar_t* path) {
  if (path == nullptr || path[0] == L'\0') {
    return nullptr;
  }
  DWORD size = 0;
  mms::platform::LocalBlock<unsigned char> bytes =
      mms::platform::ReadWholeFile(path, true, 1, &size);
  if (bytes == nullptr || size >= static_cast<DWORD>(INT_MAX)) {
    return nullptr;
  }
  wchar_t* text = new (std::nothrow) wchar_t[size + 1]();
  if (text == nullptr) {
    return nullptr;
  }
  // On a rejected sequence the text decoded before it is kept: the block
  // was zero-filled, so it is still terminated.
  Utf8ToWide(reinterpret_cast<char*>(bytes.get()), text,
             static_cast<int>(size) + 1);
  return text;
}
