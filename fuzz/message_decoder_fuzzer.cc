// message_decoder_fuzzer.cc: any bytes as a whole PDU, through the bounded
// message decoder (part files into a temporary device root) and the SMIL
// step that MMS_Open runs after it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mms.h"
#include "platform/device_fs.h"
#include "platform/winapi.h"
#include "store/decode_message.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/mms-fuzz-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    std::abort();
  }
  // A root folder that does not exist yet is laid out like a phone's.
  mms::platform::SetDeviceRoot(std::string(folder) + "/device");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MMS_Custom_Data message;
  (void)mms::store::DecodeMessage(data, size, &message);
  (void)message.RecivedToParseSmil();
  // Remove this input's part files so that the root does not fill up.
  for (int i = 0; i < message.m_nFileNum; ++i) {
    wchar_t path[MAX_PATH] = {};
    if (message.GetFileName(i, path) == 1) {
      const std::wstring p(path);
      const std::wstring folder = L"\\temp\\mmsdecode\\";
      const std::wstring name =
          p.size() > folder.size() ? p.substr(folder.size()) : L"";
      if (p.compare(0, folder.size(), folder) != 0 || name.empty() ||
          name.find_first_of(L"\\/:") != std::wstring::npos || name == L"." ||
          name == L"..") {
        __builtin_trap();  // a part file outside the decode folder
      }
      DeleteFileW(path);
    }
  }
  return 0;
}
