// mms.h: the public interface of the MMS client library.
//
// Client programs include this header and link with -lmms. It declares the
// three exported classes (CMMS, MMS_Custom_Data, MMS_Smil_Part), the option
// record, the platform types the interface uses and the shared helpers.
// Field order and member names are part of the binary interface: programs
// read the public fields directly, so nothing here may be reordered.
//
// Conventions: CMMS entry points return 0 for success and -1 for failure;
// members of MMS_Custom_Data / MMS_Smil_Part and the helpers return 1 for
// success and 0 for a refused call, which changes nothing. Wide text is
// wchar_t; blocks handed across the interface come from LocalAlloc and are
// released with LocalFree.
#ifndef MMS_H_
#define MMS_H_

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#if defined(__GNUC__)
#define MMS_API __attribute__((visibility("default")))
#else
#define MMS_API
#endif

// ---------------------------------------------------------------------------
// Platform types used by the interface.

typedef uint32_t DWORD;  // 32-bit on every platform, as on the phone
typedef int32_t LONG;    // 32-bit
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef unsigned int UINT;
typedef void* HANDLE;
typedef void* HLOCAL;

// Characters (or bytes) of every fixed text field and path buffer,
// terminator included.
#define MAX_PATH 260

typedef struct HKEY__* HKEY;
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// 16 bytes; all fields 16-bit.
typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME;

// Heap blocks that cross the interface. LocalAlloc(LPTR, n) gives n zeroed
// bytes (null when out of memory); LocalFree gives null on success.
extern "C" MMS_API HLOCAL LocalAlloc(UINT flags, size_t bytes);
extern "C" MMS_API HLOCAL LocalFree(HLOCAL block);

// One push as the push router hands it out. The caller sets cbSize to
// sizeof(PUSHMSG) before each fetch; the router fills the rest and
// PushRouter_FreeMessage releases what it put there.
typedef struct tagPushMsg {
  DWORD cbSize;           // set by the caller
  BYTE* pbHeaders;        // push headers (WSP encoded), owned by the router
  DWORD cbHeaders;        // bytes at pbHeaders
  BYTE* pbBody;           // push body: an MMS PDU, owned by the router
  DWORD cbBody;           // bytes at pbBody
  BYTE* pbSenderAddress;  // sender's address text, owned by the router
  DWORD cbSenderAddress;  // bytes at pbSenderAddress
} PUSHMSG;

// ---------------------------------------------------------------------------
// Records of the library.

struct MMS_Header;       // header fields of one PDU (codec)
struct MMS_Body;         // multipart body of one PDU (codec)
struct WapPush_Message;  // one decoded push
class CSmil;             // SMIL tag scanner
class MmsTestAccess;     // reserved for the library's own tests

// Send options; each field is read only when nonzero.
struct MMS_API MMS_Option {
  int nPriority;      // 1 Low, 2 High, other nonzero Normal
  int nExpiry;        // hours, relative
  int nDeliveryTime;  // 1 one hour, 2 one day, other nonzero 0
  int nReserved1;     // carried, never read
  int nMessageClass;  // 1 Advertisement, 2 Informational, 3 Auto, else Personal
  int bHideSender;    // Sender-Visibility Hide
  int bDeliveryReport;  // Delivery-Report Yes
  int bReadReport;      // Read-Report Yes
  int nReserved2;       // carried, never read
};

// One slide: up to 32 files shown together for m_nPartTime ms.
class MMS_API MMS_Smil_Part {
 public:
  MMS_Smil_Part(void);

  int AddFileToPart(wchar_t* name);
  int GetFileName(int index, wchar_t* name);
  int SetPartTime(int ms);

  int m_nFileNum;                      // files on the slide, 0 to 32
  int m_nPartTime;                     // duration in ms, 30000 by default
  wchar_t m_szFileName[32][MAX_PATH];  // the files, in the order added
};

// One message, composed or received.
class MMS_API MMS_Custom_Data {
 public:
  MMS_Custom_Data(void);
  MMS_Custom_Data(int file_count, struct MMS_Option* option);
  ~MMS_Custom_Data();

  // File names (full paths, held as ANSI text).
  int SetFileNameArray(int index, wchar_t* name);
  int AddFileNameToArray(wchar_t* name);
  int GetFileName(int index, char* name);
  int GetFileName(int index, wchar_t* name);

  // SMIL document (LocalAlloc block, owned once handed in).
  int SetSimlContent(char* smil);
  int GetSimlContent(char* smil);

  // Recipient and sender.
  int SetPhoneNumber(wchar_t* number);
  int GetPhoneNumber(wchar_t* number);
  int GetSenderPhoneNumber(wchar_t* number);

  // Subject (held as UTF-8).
  int SetSubject(wchar_t* subject);
  int GetSubject(wchar_t* subject);

  // Cc list.
  int AddCcName(wchar_t* number);
  int SetCcNumber(int count);
  int GetCcNumber(void);
  int GetCcName(wchar_t* number, int index);
  int GetCcNameWithPLNM(wchar_t* number, int index);

  // Read report.
  int SetReadReport(int read_report);
  int IsHaveReadReport(void);

  // Slides and parts.
  int AddPartFileName(int slide, wchar_t* path);
  int AddPartTxt(int slide, wchar_t* text, int read_report);
  int GetPartFileName(int slide, int file, wchar_t* name);
  int IsHaveAccessories(void);
  int GetAccessories(MMS_Smil_Part* part);
  wchar_t* GetTextFromFile(wchar_t* path);

  // SMIL writer and parser.
  int SendToMakeSmil(void);
  int RecivedToParseSmil(void);

  int m_nFileNum;                      // entries in use in m_pFileNameArray
  char* m_pSimlContent;                // SMIL document, LocalAlloc, owned
  char (*m_pFileNameArray)[MAX_PATH];  // full paths, ANSI, LocalAlloc, owned
  char m_szCcName[MAX_PATH];           // "*" + number + "/TYPE=PLMN" per entry
  int m_nCcNumber;                     // Cc count declared by SetCcNumber
  char m_szPhoneNumber[MAX_PATH];      // the one To recipient, ANSI
  char m_szSenderPhoneNumber[MAX_PATH];  // From of a received message, ANSI
  char m_szSubject[MAX_PATH];            // UTF-8
  SYSTEMTIME m_stDate;  // date of a received message, local time
  int m_bReadReport;    // nonzero: read report requested
  int m_nRootWidth;
  int m_nRootHeight;
  int m_nImageWidth;  // 0: no "Image" region
  int m_nImageHeight;
  int m_nImageLeft;
  int m_nImageTop;
  int m_nTextWidth;  // 0: no "Text" region
  int m_nTextHeight;
  int m_nTextLeft;
  int m_nTextTop;
  int m_nPartNum;                  // number of slides
  MMS_Smil_Part* m_pSmilPart[32];  // slides, owned; null where not made
  int m_bSmilParsed;               // 1 once a SMIL file was parsed
  struct MMS_Option* m_pOption;    // copy of the send options, owned

 private:
  friend class ::MmsTestAccess;
  friend class CMMS;

  int FileInSmilPart(wchar_t* path);
  int ParseSmilToData(class CSmil* smil);
};

// The client interface. Entry points are static; objects carry the push
// router state of the listener and the decoder's records.
class MMS_API CMMS {
 public:
  CMMS();
  ~CMMS();

  static int Start(void);
  static int Stop(void);
  static int MMS_Save(MMS_Custom_Data* message, wchar_t* saved_path,
                      wchar_t* unused);
  static int MMS_Send(MMS_Custom_Data* message, wchar_t* saved_path,
                      wchar_t* unused, int without_report);
  static int MMS_Open(wchar_t* path, MMS_Custom_Data* message);
  static int MMS_NetOpretion(MMS_Custom_Data* message, wchar_t* name,
                             int operation);
  static int MMS_Recived(wchar_t* url);
  static int MMS_SendReadReport(wchar_t* number, wchar_t* text);
  static int MMS_SendDeliveryAcknowlegement(void);
  static int MMS_StopSend(void);
  // Waits up to wait_ms for the submissions and retrievals in flight, then
  // stops listening and ends what still runs (each submission ended
  // unsent is logged). 0 when all work ended by itself, -1 when some was
  // ended. Call it before the program ends.
  static int MMS_Shutdown(unsigned long wait_ms);

  int SaveMMS(MMS_Custom_Data* message, char* unused, wchar_t* saved_path);
  int SendMMS(MMS_Custom_Data* message, wchar_t* saved_path,
              int without_report);
  int GetMMS_Manual(wchar_t* url);
  int GetMMS_WapPush(unsigned long wait_ms);
  int RegisterClient(void);
  int RegisterCorvix(void);
  int MMS_DeCode(unsigned char* pdu, MMS_Custom_Data* message);
  unsigned char* GetMMSTranscationID(wchar_t* path);
  unsigned char* MakeDeliveryAcknowledgement(unsigned char* transaction_id,
                                             int* length);

  LONG m_lResult;         // result of the last push router call
  HANDLE m_hPushEvent;    // signalled while pushes wait
  HANDLE m_hPushRouter;   // from PushRouter_Open
  PUSHMSG m_PushMsg;      // the push being fetched and handled
  MMS_Header* m_pHeader;  // decoder records, alive during one call
  MMS_Body* m_pBody;

 private:
  friend class ::MmsTestAccess;

  long UnRegisterClient(void);
  int HandMessage(tagPushMsg* push);
  WapPush_Message* DecodeWapPush(tagPushMsg* push);
  int DecodeWapPush_Body(unsigned char* body, WapPush_Message* message,
                         int length);
  int DecodeWapPush_Header(unsigned char* header, WapPush_Message* message,
                           int length);
  int MMS_Send_Message(unsigned char* pdu, int length);
  int MMS_Send_Message_WithOutReg(unsigned char* pdu, int length);
  int ReciveMMS(WapPush_Message* push);
  int MakeMMSFileToSave(unsigned char* pdu, int length, wchar_t* path);
  unsigned char* MMS_MakeSendData(MMS_Custom_Data* message, int* length);
  wchar_t* ConvertByteToUTF8(unsigned char* bytes, int count);
  int ConvertLengthToInt(unsigned char* p);
  long ConvertLengthToLong(unsigned char* p);
};

// ---------------------------------------------------------------------------
// Shared helpers.

// Text and paths.
MMS_API int WideToUtf8(wchar_t* text, char* out);
MMS_API int Utf8ToWide(char* text, wchar_t* out, int capacity);
MMS_API int IsPhoneNumberText(wchar_t* text);
MMS_API int GetFileExtension(wchar_t* path, wchar_t* extension);
MMS_API int GetFileExtensionA(char* path, char* extension);
MMS_API int GetFileNameFromPath(wchar_t* path, wchar_t* name);

// Message store.
MMS_API int MakeMMSFileName(wchar_t* name);
MMS_API int CreateDeCodeFolder(void);

// Registry status values under "SOFTWARE\Varnholt\MMS".
MMS_API int RegSetDword(HKEY root, wchar_t* subkey, wchar_t* name, DWORD value);
MMS_API int RegSetString(wchar_t* subkey, wchar_t* name, wchar_t* text);
MMS_API int RegSetBinary(wchar_t* subkey, wchar_t* name, unsigned char* bytes);
MMS_API int RegGetValue(wchar_t* subkey, wchar_t* name, void* buffer,
                        DWORD capacity);
MMS_API int ReportNewMMS(DWORD value);
MMS_API int ReportSendResult(DWORD value);

// Diagnostic log, active while "\KestLogDir" exists.
class DiagnosticLog;
MMS_API DiagnosticLog* GetLog(void);
MMS_API void LogText(DiagnosticLog* log, const wchar_t* format, ...);

#endif  // MMS_H_
