// exit_client.cc: a client program that sees only mms.h and links the
// shared library. It sends one message, then either waits for the
// library's work through MMS_Shutdown ("wait") or returns from main at
// once ("exit"), as a program with work in flight may.
#include <string.h>

#include "mms.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  wchar_t to[] = L"13800000001";
  wchar_t subject[] = L"leaving";
  wchar_t text[] = L"sent on the way out";
  MMS_Custom_Data* message = new MMS_Custom_Data();
  message->SetPhoneNumber(to);
  message->SetSubject(subject);
  message->AddPartTxt(0, text, 0);
  wchar_t saved[260] = {};
  wchar_t unused[260] = {};
  if (CMMS::MMS_Send(message, saved, unused, 0) != 0) {
    delete message;
    return 3;
  }
  if (strcmp(argv[1], "wait") == 0) {
    return CMMS::MMS_Shutdown(60000) == 0 ? 0 : 4;
  }
  return 0;
}
