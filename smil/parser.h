// parser.h: CSmil, the tag scanner that reads the SMIL document of a
// received message into its root size, regions and slides.
//
// It is not an XML parser: it walks from one "<" to the next ">", looks at
// each tag's name and picks a few attributes out of the tags it knows.
// Every read stays inside the text's length; every write stays inside its
// fixed field (see Parse for what happens to values that do not fit).
#ifndef MMS_SMIL_PARSER_H_
#define MMS_SMIL_PARSER_H_

#include "mms.h"

constexpr int kSmilTableSize = 32;   // regions, and slides
constexpr int kSmilValueBytes = 64;  // region and slide texts, 0 included
constexpr int kSmilSrcBytes = 244;   // a slide's "src", 0 included: the
                                     // longest part name a path holds

// Attribute values of one "region" element.
struct SmilRegion {
  char szId[kSmilValueBytes];
  char szWidth[kSmilValueBytes];
  char szHeight[kSmilValueBytes];
  char szLeft[kSmilValueBytes];
  char szTop[kSmilValueBytes];
  char szFit[kSmilValueBytes];
};

// One slide: its duration text and the "src" of each kind of media.
struct SmilPar {
  char szDur[kSmilValueBytes];
  char szImage[kSmilSrcBytes];  // "img" or "video"
  char szText[kSmilSrcBytes];
  char szAudio[kSmilSrcBytes];
};

class CSmil {
 public:
  // Borrows smil (NUL-terminated; may be null) for the object's life.
  explicit CSmil(char* smil);

  // Runs the whole scan.
  void Parse(void);
  // When on, a media element whose parent is "body" itself is a slide of
  // its own (a received message's presentation, opened by MMS_Open).
  void SetBodyMediaSlides(bool on) { body_media_slides_ = on; }
  // The next tag's text (between "<" and ">", leading blanks dropped) as a
  // new LocalAlloc string; the position is left on its ">". Null at the
  // end of the text.
  char* NextTag(void);
  // A tag's element name (up to its first blank) as a new LocalAlloc
  // string; null for null input.
  char* TagName(const char* tag);
  // The double-quoted value of attribute in tag when tag is an element of
  // that name, as a new LocalAlloc string; else null.
  char* GetAttribute(const char* tag, const char* element,
                     const char* attribute);

  char* m_pszSmil;  // borrowed document text
  int m_nSmilLen;   // bytes up to its NUL
  char m_szRootWidth[MAX_PATH];
  char m_szRootHeight[MAX_PATH];
  SmilRegion m_Region[kSmilTableSize];
  SmilPar m_Par[kSmilTableSize];
  int m_nParNum;  // completed slides, 0 to 32

 private:
  int position_;  // scan position, 0 to m_nSmilLen
  bool body_media_slides_ = false;
};

#endif  // MMS_SMIL_PARSER_H_
