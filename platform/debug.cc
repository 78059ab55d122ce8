// debug.cc: OutputDebugStringW, written to stderr as UTF-8 while MMS_DEBUG
// is set (checked on each call) and dropped otherwise.
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "platform/text_convert.h"
#include "platform/winapi.h"

void OutputDebugStringW(const wchar_t* text) {
  const char* enabled = getenv("MMS_DEBUG");
  if (text == nullptr || enabled == nullptr || enabled[0] == '\0') {
    return;
  }
  std::string utf8;
  if (!mms::platform::WideToUtf8Text(text, &utf8)) {
    utf8 = "(debug text not representable as UTF-8)\n";
  }
  // One write per call keeps lines from different threads whole.
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}
