// prepare.cc: options, fixed layout and SMIL document before encoding.
#include "client/prepare.h"

#include "platform/winapi.h"

namespace mms::client {

void ApplyFixedLayout(MMS_Custom_Data* message) {
  // Whatever the client set, the receiving phones get one layout (pixels).
  message->m_nRootWidth = 160;
  message->m_nRootHeight = 140;
  message->m_nImageWidth = 160;
  message->m_nImageHeight = 120;
  message->m_nTextWidth = 160;
  message->m_nTextHeight = 20;
  message->m_nTextTop = 120;
  message->SendToMakeSmil();
}

bool PrepareForEncoding(MMS_Custom_Data* message, int message_class) {
  if (message->m_pOption == nullptr) {
    auto* option =
        static_cast<MMS_Option*>(LocalAlloc(LPTR, sizeof(MMS_Option)));
    if (option == nullptr) {
      return false;
    }
    option->nMessageClass = message_class;
    message->m_pOption = option;
  }
  ApplyFixedLayout(message);
  return true;
}

void ReleaseMessage(MMS_Custom_Data* message) {
  LocalFree(message->m_pOption);
  message->m_pOption = nullptr;
  LocalFree(message->m_pSimlContent);
  message->m_pSimlContent = nullptr;
  delete message;
}

}  // namespace mms::client
