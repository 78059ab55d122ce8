// test_support.h: what every test program shares: a private device root per
// test, hex and file helpers, and wide-text buffers for the C-style API.
#ifndef MMS_TESTS_SUPPORT_TEST_SUPPORT_H_
#define MMS_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace mms::testing {

using Bytes = std::vector<uint8_t>;

// A fresh device root in a new temporary host folder, used by the platform
// until the object goes; the folder is removed afterwards.
class ScopedDeviceRoot {
 public:
  ScopedDeviceRoot();
  ~ScopedDeviceRoot();
  ScopedDeviceRoot(const ScopedDeviceRoot&) = delete;
  ScopedDeviceRoot& operator=(const ScopedDeviceRoot&) = delete;

  const std::string& host() const { return host_; }

 private:
  std::string host_;
};

// Base fixture: a private device root per test, real seams restored after.
class DeviceTest : public ::testing::Test {
 protected:
  void TearDown() override;
  // Host path of a device path under this test's root (need not exist).
  std::string Host(const std::wstring& device_path) const;

  ScopedDeviceRoot root_;
};

// "8c 80 98" or "8c8098" -> bytes; blanks and newlines are ignored.
Bytes Hex(const std::string& text);
// Bytes -> "8c 80 98".
std::string ToHex(const Bytes& bytes);
// The pieces one after another.
Bytes Cat(std::initializer_list<Bytes> pieces);
Bytes ReadHostFile(const std::string& host_path);
void WriteHostFile(const std::string& host_path, const Bytes& bytes);
void WriteHostFile(const std::string& host_path, const std::string& text);
bool HostFileExists(const std::string& host_path);

// Values under the library's key: all in write order, their names, and one
// read as a registry reader reads it (kAbsent and "" when missing).
constexpr uint32_t kAbsent = 0xDEADBEEF;
std::vector<mms::platform::StoredValue> StoredValues();
std::vector<std::wstring> WriteOrder();
uint32_t RegDword(const wchar_t* name);
std::wstring RegString(const wchar_t* name);

// A writable copy of a wide text, for members that take wchar_t*.
class WBuf {
 public:
  explicit WBuf(const std::wstring& text) : text_(text) {}
  operator wchar_t*() { return text_.data(); }

 private:
  std::wstring text_;
};

// Folder of the shared sample corpus (read at test time, never copied).
std::string CorpusDir();

}  // namespace mms::testing

#endif  // MMS_TESTS_SUPPORT_TEST_SUPPORT_H_
