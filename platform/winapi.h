// winapi.h: the phone services the library calls, under the names it calls
// them by, provided on Linux by the files of platform/.
//
// Only the library includes this header; client programs see mms.h alone.
// Each call keeps the meaning the library relies on (results, error codes,
// dispositions); what the phone offers beyond that is not imitated.
// Device paths use "\" and ignore letter case per component; they live
// under the device root (see device_fs.h).
#ifndef MMS_PLATFORM_WINAPI_H_
#define MMS_PLATFORM_WINAPI_H_

#include "mms.h"

typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// Bytes a LocalAlloc block was made with; 0 for null.
size_t LocalSize(HLOCAL block);

// ---------------------------------------------------------------------------
// Errors (thread-local, like the phone's).
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_HANDLE_DISK_FULL 39u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DIR_NOT_EMPTY 145u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_DIRECTORY 267u
#define ERROR_NO_UNICODE_TRANSLATION 1113u

DWORD GetLastError(void);
void SetLastError(DWORD error);

// ---------------------------------------------------------------------------
// Files and folders.
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u

HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share,
                   void* security, DWORD disposition, DWORD attributes,
                   HANDLE template_file);
BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read,
              void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD to_write, DWORD* written,
               void* overlapped);
DWORD GetFileSize(HANDLE file, DWORD* size_high);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distance_high,
                     DWORD method);
BOOL FlushFileBuffers(HANDLE file);
BOOL DeleteFileW(const wchar_t* path);
BOOL CreateDirectoryW(const wchar_t* path, void* security);
BOOL RemoveDirectoryW(const wchar_t* path);
DWORD GetFileAttributesW(const wchar_t* path);
// The running program's path as a device path (with "\" separators).
DWORD GetModuleFileNameW(HANDLE module, wchar_t* path, DWORD capacity);

// Closes any handle: file, thread, event.
BOOL CloseHandle(HANDLE handle);

// ---------------------------------------------------------------------------
// Code pages.
#define CP_ACP 0u
#define CP_UTF8 65001u

int MultiByteToWideChar(UINT code_page, DWORD flags, const char* text,
                        int text_bytes, wchar_t* out, int out_chars);
int WideCharToMultiByte(UINT code_page, DWORD flags, const wchar_t* text,
                        int text_chars, char* out, int out_bytes,
                        const char* default_char, BOOL* used_default);

// ---------------------------------------------------------------------------
// Time.
typedef struct _FILETIME {
  DWORD dwLowDateTime;  // 100-ns units since 1601-01-01 UTC
  DWORD dwHighDateTime;
} FILETIME;

void GetSystemTime(SYSTEMTIME* utc);
void GetLocalTime(SYSTEMTIME* local);
BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* file_time);
BOOL FileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* time);
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
DWORD GetTickCount(void);
DWORD GetCurrentProcessId(void);
// A fresh pseudo-random 32-bit number.
DWORD Random(void);

// ---------------------------------------------------------------------------
// Critical sections (re-entrant for the owning thread).
typedef struct _CRITICAL_SECTION {
  void* impl;
} CRITICAL_SECTION;

void InitializeCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

// ---------------------------------------------------------------------------
// Threads, events and waiting. Sleep, WaitForSingleObject (and every other
// blocking point of the library) are cancellation points: see thread.h.
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u

typedef DWORD (*LPTHREAD_START_ROUTINE)(void* parameter);

HANDLE CreateThread(void* security, size_t stack_size,
                    LPTHREAD_START_ROUTINE start, void* parameter, DWORD flags,
                    DWORD* thread_id);
// Ends the thread at its next blocking point and returns once it no longer
// runs. A thread cannot end itself this way.
BOOL TerminateThread(HANDLE thread, DWORD exit_code);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exit_code);
HANDLE CreateEventW(void* security, BOOL manual_reset, BOOL initial_state,
                    const wchar_t* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD timeout_ms);
void Sleep(DWORD ms);

// ---------------------------------------------------------------------------
// Debug output: to stderr when MMS_DEBUG is set, else nowhere.
void OutputDebugStringW(const wchar_t* text);

#endif  // MMS_PLATFORM_WINAPI_H_
