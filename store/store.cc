// store.cc: message file names, the decode folder and storing a PDU.
//
// Names are "Varnholt" + UTC date and time fields + a random number +
// ".mms", no padding. The random part comes from srand/rand seeded with
// the tick count right before the draw, so two names made in the same
// millisecond are equal. A stored file never replaces another: it is
// created exclusively, and a name that is taken (by this or any other
// process) is drawn again with a random part from a generator of its own.
#include "store/store.h"

#include <stdlib.h>
#include <wchar.h>

#include <mutex>
#include <random>

#include "platform/winapi.h"

namespace mms::store {

namespace {

// srand and rand share one generator; the seed and its draw belong
// together, so a name made on another thread cannot slip between them.
std::mutex g_rand_mu;

int SeededDraw() {
  std::lock_guard<std::mutex> hold(g_rand_mu);
  srand(GetTickCount());
  return rand();
}

// A fresh random part after a collision: never the tick-seeded sequence,
// which a process saving in the same millisecond shares.
int FreshDraw() {
  static std::mutex mu;
  static std::mt19937 engine{std::random_device{}()};
  std::lock_guard<std::mutex> hold(mu);
  return std::uniform_int_distribution<int>(0, RAND_MAX)(engine);
}

void FormatName(wchar_t* name, int random) {
  SYSTEMTIME utc = {};
  GetSystemTime(&utc);
  swprintf(name, MAX_PATH, L"Varnholt%u%u%u%u%u%u%d.mms", unsigned{utc.wYear},
           unsigned{utc.wMonth}, unsigned{utc.wDay}, unsigned{utc.wHour},
           unsigned{utc.wMinute}, unsigned{utc.wSecond}, random);
}

// Names drawn before giving up on a folder where every one is taken.
constexpr int kNameAttempts = 64;

}  // namespace

int StoreMessageFile(const unsigned char* pdu, int length, wchar_t* path,
                     StoreFailure* failure) {
  StoreFailure ignored;
  if (failure == nullptr) {
    failure = &ignored;
  }
  *failure = StoreFailure::kCreate;
  if (length < 0 || (pdu == nullptr && length > 0)) {
    return 0;
  }
  wchar_t full[MAX_PATH] = {};
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    wchar_t name[MAX_PATH] = {};
    if (attempt == 0) {
      MakeMMSFileName(name);
    } else {
      FormatName(name, FreshDraw());
    }
    if (swprintf(full, MAX_PATH, L"%ls%ls", kMessageFolder, name) < 0) {
      return 0;
    }
    file = CreateFileW(full, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
      break;
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    return 0;
  }
  *failure = StoreFailure::kWrite;
  DWORD written = 0;
  BOOL ok = WriteFile(file, pdu, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != static_cast<DWORD>(length)) {
    // A short message file would later decode as a broken message.
    DeleteFileW(full);
    return 0;
  }
  if (path != nullptr) {
    wcscpy(path, full);
  }
  *failure = StoreFailure::kNone;
  return 1;
}

}  // namespace mms::store

int MakeMMSFileName(wchar_t* name) {
  if (name == nullptr) {
    return 0;
  }
  mms::store::FormatName(name, mms::store::SeededDraw());
  return 1;
}

int CreateDeCodeFolder(void) {
  // The folder is nearly always there: one look costs less than a create
  // that fails (which locks the parent folder).
  if (GetFileAttributesW(mms::store::kDecodeFolderCreate) ==
          FILE_ATTRIBUTE_DIRECTORY ||
      CreateDirectoryW(mms::store::kDecodeFolderCreate, nullptr)) {
    return 1;
  }
  return GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0;
}
