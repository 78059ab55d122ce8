// writer.cc: the SMIL document of an outgoing message
// (MMS_Custom_Data::SendToMakeSmil).
//
// One fixed shape: a root layout, optional "Image" and "Text" regions, and
// one "par" per slide with at most one image (or 3gp video), one text and
// one audio reference, each the last file of its class on the slide.
// The document is measured first and then written into a block of at least
// 2048 bytes, so long names and many slides grow the block instead of
// being cut; a slide that was never made is written as an empty "par".
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <cassert>

#include "mms.h"
#include "platform/winapi.h"

namespace mms::smil {

namespace {

constexpr size_t kBlockBytes = 2048;  // the usual block; grown when needed
constexpr int kMaxSlides = 32;        // m_pSmilPart holds this many
constexpr int kMaxFiles = 32;         // entries per slide
// A lowered entry as ANSI text: no code page needs more than four bytes
// for one character, so every entry fits whole.
constexpr int kSlotBytes = MAX_PATH * 4;

enum class Slot { kNone, kImage, kText, kAudio };

struct ExtensionSlot {
  const wchar_t* extension;  // lower case, without the dot
  Slot slot;
};

constexpr ExtensionSlot kSlots[] = {
    {L"jpg", Slot::kImage}, {L"gif", Slot::kImage}, {L"png", Slot::kImage},
    {L"bmp", Slot::kImage}, {L"3gp", Slot::kImage}, {L"txt", Slot::kText},
    {L"mid", Slot::kAudio}, {L"amr", Slot::kAudio}, {L"mp3", Slot::kAudio},
    {L"wma", Slot::kAudio}, {L"wav", Slot::kAudio},
};

// What one slide's "par" refers to; empty text for an empty slot.
struct SlideRefs {
  char image[kSlotBytes];
  char text[kSlotBytes];
  char audio[kSlotBytes];
};

// Appends formatted text to a block, or only counts the bytes when the
// block is null: the same calls measure the document and then write it.
class Appender {
 public:
  Appender(char* block, size_t capacity) : block_(block), capacity_(capacity) {}

  void Append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    if (block_ == nullptr) {
      int n = vsnprintf(nullptr, 0, format, args);
      length_ += n > 0 ? static_cast<size_t>(n) : 0;
    } else if (length_ < capacity_) {
      // The block was sized by measuring these same calls, so the text
      // always fits; vsnprintf's bound keeps that true even if it did not.
      const size_t room = capacity_ - length_;
      int n = vsnprintf(block_ + length_, room, format, args);
      assert(n >= 0 && static_cast<size_t>(n) < room);
      if (n > 0) {
        length_ +=
            static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
      }
    }
    va_end(args);
  }

  size_t length() const { return length_; }

 private:
  char* block_;        // borrowed; null while measuring
  size_t capacity_;    // bytes at block_, room for the NUL included
  size_t length_ = 0;  // bytes appended (or counted) so far
};

// _wcslwr of the "C" locale: only A-Z change.
void LowerAscii(wchar_t* text) {
  for (; *text != L'\0'; ++text) {
    if (*text >= L'A' && *text <= L'Z') {
      *text = static_cast<wchar_t>(*text - L'A' + L'a');
    }
  }
}

Slot SlotOf(wchar_t* lowered_entry) {
  wchar_t extension[MAX_PATH] = {};
  GetFileExtension(lowered_entry, extension);
  for (const ExtensionSlot& row : kSlots) {
    if (wcscmp(extension, row.extension) == 0) {
      return row.slot;
    }
  }
  return Slot::kNone;
}

void GatherSlide(const MMS_Smil_Part* slide, SlideRefs* refs) {
  refs->image[0] = '\0';
  refs->text[0] = '\0';
  refs->audio[0] = '\0';
  if (slide == nullptr) {
    return;  // a slide index that was never filled: an empty "par"
  }
  int files = slide->m_nFileNum;
  if (files > kMaxFiles) {
    files = kMaxFiles;
  }
  for (int i = 0; i < files; ++i) {
    wchar_t work[MAX_PATH] = {};
    wcsncpy(work, slide->m_szFileName[i], MAX_PATH - 1);
    LowerAscii(work);
    char* slot = nullptr;
    switch (SlotOf(work)) {
      case Slot::kImage:
        slot = refs->image;
        break;
      case Slot::kText:
        slot = refs->text;
        break;
      case Slot::kAudio:
        slot = refs->audio;
        break;
      case Slot::kNone:
        continue;
    }
    if (WideCharToMultiByte(CP_ACP, 0, work, -1, slot, kSlotBytes, nullptr,
                            nullptr) <= 0) {
      slot[0] = '\0';
    }
  }
}

void WriteDocument(const MMS_Custom_Data& m, Appender* out) {
  out->Append("<smil>\n");
  out->Append("<head>\n");
  out->Append("<layout>\n");
  out->Append("<root-layout width=\"%d\" height=\"%d\"/>\n", m.m_nRootWidth,
              m.m_nRootHeight);
  if (m.m_nImageWidth != 0) {
    out->Append(
        "<region id=\"Image\" width=\"%d\" height=\"%d\" left=\"0\" "
        "top=\"0\"/>\n",
        m.m_nImageWidth, m.m_nImageHeight);
  }
  if (m.m_nTextWidth != 0) {
    out->Append(
        "<region id=\"Text\" width=\"%d\" height=\"%d\" left=\"0\" "
        "top=\"0\"/>\n",
        m.m_nTextWidth, m.m_nTextHeight);
  }
  out->Append("</layout>\n</head>\n<body>\n");
  int slides = m.m_nPartNum < kMaxSlides ? m.m_nPartNum : kMaxSlides;
  for (int i = 0; i < slides; ++i) {
    const MMS_Smil_Part* slide = m.m_pSmilPart[i];
    SlideRefs refs;
    GatherSlide(slide, &refs);
    out->Append("<par dur=\"%dms\">\n",
                slide != nullptr ? slide->m_nPartTime : 30000);
    if (refs.image[0] != '\0') {
      out->Append("<img src=\"%s\" region=\"Image\" />\n", refs.image);
    }
    if (refs.text[0] != '\0') {
      out->Append("<text src=\"%s\" region=\"Text\" />\n", refs.text);
    }
    if (refs.audio[0] != '\0') {
      out->Append("<audio src=\"%s\" />\n", refs.audio);
    }
    out->Append("</par>\n");
  }
  out->Append("</body>\n</smil>");
}

}  // namespace

}  // namespace mms::smil

int MMS_Custom_Data::SendToMakeSmil(void) {
  mms::smil::Appender measure(nullptr, 0);
  mms::smil::WriteDocument(*this, &measure);
  size_t bytes = measure.length() + 1;
  if (bytes < mms::smil::kBlockBytes) {
    bytes = mms::smil::kBlockBytes;
  }
  char* block = static_cast<char*>(LocalAlloc(LPTR, bytes));
  if (block != nullptr) {
    mms::smil::Appender writer(block, bytes);
    mms::smil::WriteDocument(*this, &writer);
  }
  // The new document replaces the old one; after a failed allocation the
  // message carries none rather than a stale one.
  if (m_pSimlContent != nullptr) {
    LocalFree(m_pSimlContent);
  }
  m_pSimlContent = block;
  return 1;
}
