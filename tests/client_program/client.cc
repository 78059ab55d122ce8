// client.cc: a program that sees the library only through mms.h, as the
// maker's applications do. It builds message records with new, reads them
// back through the exported members and public fields, and prints one
// "name=value" line per result; wide text prints as ASCII with \uXXXX.
#include <stdio.h>
#include <string.h>

#include "mms.h"

static void PrintWide(const char* name, const wchar_t* text) {
  printf("%s=", name);
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    if (*p >= 0x20 && *p < 0x7F) {
      putchar(static_cast<int>(*p));
    } else {
      printf("\\u%04X", static_cast<unsigned>(*p));
    }
  }
  putchar('\n');
}

static void PrintBytes(const char* name, const char* bytes) {
  printf("%s=", name);
  for (const char* p = bytes; *p != '\0'; ++p) {
    printf("%s%02x", p == bytes ? "" : " ", static_cast<unsigned char>(*p));
  }
  putchar('\n');
}

int main() {
  wchar_t out[260];

  MMS_Custom_Data* message = new MMS_Custom_Data();
  wchar_t number[] = L"13800000001";
  printf("set_phone=%d\n", message->SetPhoneNumber(number));
  printf("phone_field=%s\n", message->m_szPhoneNumber);
  message->GetPhoneNumber(out);
  PrintWide("phone", out);

  wchar_t cc1[] = L"13800000001";
  wchar_t cc2[] = L"+8613900000002";
  message->AddCcName(cc1);
  message->AddCcName(cc2);
  printf("cc_count=%d\n", message->GetCcNumber());
  printf("cc0_undeclared=%d\n", message->GetCcName(out, 0));
  message->SetCcNumber(2);
  printf("cc0_result=%d\n", message->GetCcName(out, 0));
  PrintWide("cc0", out);
  message->GetCcNameWithPLNM(out, 0);
  PrintWide("cc0_plmn", out);
  message->GetCcNameWithPLNM(out, 1);
  PrintWide("cc1_plmn", out);

  wchar_t subject[] = L"\u4E2D\u6587\u4E3B\u9898";
  printf("set_subject=%d\n", message->SetSubject(subject));
  PrintBytes("subject_bytes", message->m_szSubject);
  message->GetSubject(out);
  PrintWide("subject", out);
  printf("subject_same=%d\n", wcscmp(out, subject) == 0 ? 1 : 0);
  delete message;

  MMS_Custom_Data* files = new MMS_Custom_Data();
  wchar_t path[] = L"\\My Documents\\\u56FE\u7247.jpg";
  printf("add_file=%d\n", files->AddFileNameToArray(path));
  printf("file_count=%d\n", files->m_nFileNum);
  PrintBytes("file_bytes", files->m_pFileNameArray[0]);
  files->GetFileName(0, out);
  PrintWide("file", out);
  printf("file_same=%d\n", wcscmp(out, path) == 0 ? 1 : 0);
  delete files;
  return 0;
}
