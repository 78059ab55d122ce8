// smil_fuzzer.cc: any text as a SMIL document, through the tag scanner and
// the step that turns its result into slides.
#include <cstdint>
#include <cstring>
#include <vector>

#include "mms.h"
#include "smil/parser.h"
#include "support/mms_test_access.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  CSmil smil(text.data());
  smil.Parse();
  if (smil.m_nParNum < 0 || smil.m_nParNum > 32) {
    __builtin_trap();
  }
  MMS_Custom_Data message;
  (void)MmsTestAccess::ParseSmilToData(&message, &smil);
  return 0;
}
