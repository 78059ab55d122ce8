// parser.cc: the CSmil tag scanner.
//
// Values that do not fit their field: a duration, a region value or a root
// size keeps its first bytes (they are read as leading digits or ignored);
// a "src" that does not fit is dropped whole, since a cut name would point
// at a file that was never written. Past 32 regions or 32 slides the rest
// is ignored.
#include "smil/parser.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

char* CopyRange(const char* text, size_t size) {
  char* copy = static_cast<char*>(LocalAlloc(LPTR, size + 1));
  if (copy != nullptr && size > 0) {
    std::memcpy(copy, text, size);
  }
  return copy;
}

// LocalAlloc'd strings released at scope end.
class Owned {
 public:
  explicit Owned(char* text) : text_(text) {}
  ~Owned() { LocalFree(text_); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  const char* get() const { return text_; }

 private:
  char* text_;
};

void StoreCut(char* field, size_t field_bytes, const char* value) {
  if (value != nullptr) {
    std::strncpy(field, value, field_bytes - 1);
    field[field_bytes - 1] = '\0';
  }
}

void StoreWhole(char* field, size_t field_bytes, const char* value) {
  if (value != nullptr && std::strlen(value) < field_bytes) {
    std::strcpy(field, value);
  }
}

// Tracks which elements are open: a start tag opens one unless it closes
// itself; an end tag closes the latest open element of its name.
void KeepOpenElements(const std::string& name, const char* tag,
                      std::vector<std::string>* open) {
  if (name.empty() || name[0] == '!' || name[0] == '?') {
    return;
  }
  if (name[0] == '/') {
    for (size_t i = open->size(); i > 0; --i) {
      if ((*open)[i - 1] == name.substr(1)) {
        open->resize(i - 1);
        break;
      }
    }
    return;
  }
  const size_t n = std::strlen(tag);
  if (n == 0 || tag[n - 1] != '/') {
    open->push_back(name);
  }
}

}  // namespace

CSmil::CSmil(char* smil)
    : m_pszSmil(smil),
      m_nSmilLen(smil == nullptr ? 0 : static_cast<int>(std::strlen(smil))),
      m_szRootWidth(),
      m_szRootHeight(),
      m_Region(),
      m_Par(),
      m_nParNum(0),
      position_(0) {}

char* CSmil::NextTag(void) {
  int p = position_;
  while (p < m_nSmilLen && m_pszSmil[p] != '<') {
    ++p;
  }
  if (p >= m_nSmilLen) {
    position_ = m_nSmilLen;
    return nullptr;
  }
  ++p;
  while (p < m_nSmilLen && m_pszSmil[p] == ' ') {
    ++p;
  }
  const int start = p;
  while (p < m_nSmilLen && m_pszSmil[p] != '>') {
    ++p;
  }
  position_ = p;
  if (p >= m_nSmilLen) {
    return nullptr;
  }
  return CopyRange(m_pszSmil + start, static_cast<size_t>(p - start));
}

char* CSmil::TagName(const char* tag) {
  if (tag == nullptr) {
    return nullptr;
  }
  size_t n = 0;
  while (tag[n] != '\0' && tag[n] != ' ' && tag[n] != '>') {
    ++n;
  }
  return CopyRange(tag, n);
}

char* CSmil::GetAttribute(const char* tag, const char* element,
                          const char* attribute) {
  if (tag == nullptr || element == nullptr || attribute == nullptr) {
    return nullptr;
  }
  Owned name(TagName(tag));
  if (name.get() == nullptr || std::strcmp(name.get(), element) != 0) {
    return nullptr;
  }
  const char* at = std::strstr(tag, attribute);
  const char* equals = at == nullptr ? nullptr : std::strchr(at, '=');
  const char* open = equals == nullptr ? nullptr : std::strchr(equals, '"');
  const char* close = open == nullptr ? nullptr : std::strchr(open + 1, '"');
  if (close == nullptr) {
    return nullptr;
  }
  return CopyRange(open + 1, static_cast<size_t>(close - open - 1));
}

void CSmil::Parse(void) {
  if (m_nSmilLen - 1 <= 0) {
    return;
  }
  std::string remembered;
  int region = 0;
  std::vector<std::string> open;  // elements open at the scan position
  for (;;) {
    Owned tag(NextTag());
    if (tag.get() == nullptr) {
      return;
    }
    Owned owned_name(TagName(tag.get()));
    const std::string name = owned_name.get() ? owned_name.get() : "";
    const std::string parent = open.empty() ? "" : open.back();
    KeepOpenElements(name, tag.get(), &open);
    region = name == remembered ? region + 1 : 0;
    SmilPar* slide = m_nParNum < kSmilTableSize ? &m_Par[m_nParNum] : nullptr;
    const char* t = tag.get();
    if (name == "root-layout") {
      Owned width(GetAttribute(t, "root-layout", "width"));
      Owned height(GetAttribute(t, "root-layout", "height"));
      StoreCut(m_szRootWidth, MAX_PATH, width.get());
      StoreCut(m_szRootHeight, MAX_PATH, height.get());
      remembered = name;
    } else if (name == "region") {
      if (region < kSmilTableSize) {
        SmilRegion& r = m_Region[region];
        const struct {
          const char* attribute;
          char* field;
        } kRegionFields[] = {{"id", r.szId},         {"width", r.szWidth},
                             {"height", r.szHeight}, {"left", r.szLeft},
                             {"top", r.szTop},       {"fit", r.szFit}};
        for (const auto& f : kRegionFields) {
          Owned value(GetAttribute(t, "region", f.attribute));
          StoreCut(f.field, kSmilValueBytes, value.get());
        }
      }
      remembered = name;
    } else if (name == "/par") {
      if (m_nParNum < kSmilTableSize) {
        ++m_nParNum;
      }
    } else if (name == "/smil") {
      return;
    } else if (slide != nullptr && name == "par") {
      Owned dur(GetAttribute(t, "par", "dur"));
      StoreCut(slide->szDur, kSmilValueBytes, dur.get());
    } else if (slide != nullptr && (name == "img" || name == "video" ||
                                    name == "text" || name == "audio" ||
                                    (body_media_slides_ &&
                                     (name == "ref" || name == "animation")))) {
      // "ref" and "animation" take the image's place in a slide.
      Owned src(GetAttribute(t, name.c_str(), "src"));
      char* field = name == "text"    ? slide->szText
                    : name == "audio" ? slide->szAudio
                                      : slide->szImage;
      StoreWhole(field, kSmilSrcBytes, src.get());
      if (body_media_slides_ && parent == "body" &&
          m_nParNum < kSmilTableSize) {
        ++m_nParNum;  // media straight in the body: a slide of its own
      }
    }
    if (position_ >= m_nSmilLen - 1) {
      return;
    }
  }
}
