// prepare.cc: options, fixed layout and SMIL document before encoding.
#include "client/prepare.h"

#include "platform/winapi.h"

namespace mms::client {

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
  // Whatever the client set, the receiving phones get one layout.
  message->m_nRootWidth = kRootWidth;
  message->m_nRootHeight = kRootHeight;
  message->m_nImageWidth = kImageWidth;
  message->m_nImageHeight = kImageHeight;
  message->m_nTextWidth = kTextWidth;
  message->m_nTextHeight = kTextHeight;
  message->m_nTextTop = kTextTop;
  message->SendToMakeSmil();
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
