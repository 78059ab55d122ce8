// test_support.cc: temporary device roots and byte helpers for tests.
#include "support/test_support.h"

#include <stdlib.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "mms.h"
#include "platform/device_fs.h"
#include "platform/test_seams.h"
#include "platform/thread.h"
#include "store/registry_values.h"

namespace mms::testing {

ScopedDeviceRoot::ScopedDeviceRoot() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "mms-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) {
    ADD_FAILURE() << "cannot make a temporary device root";
    return;
  }
  // The platform lays out a root that does not exist yet, so hand it a
  // child of the new folder.
  host_ = std::string(made) + "/device";
  mms::platform::SetDeviceRoot(host_);
}

ScopedDeviceRoot::~ScopedDeviceRoot() {
  mms::platform::SetDeviceRoot("");
  if (!host_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(host_).parent_path(),
                                ignored);
  }
}

void DeviceTest::TearDown() {
  mms::platform::test::ResetSeams();
  mms::platform::SetTimeScaleForTest(1.0);
}

std::string DeviceTest::Host(const std::wstring& device_path) const {
  std::string host;
  EXPECT_TRUE(mms::platform::DeviceToHostPath(device_path, &host));
  return host;
}

Bytes Hex(const std::string& text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      continue;
    }
    int v = std::isdigit(static_cast<unsigned char>(c))
                ? c - '0'
                : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (v < 0 || v > 15) {
      ADD_FAILURE() << "bad hex digit " << c;
      return out;
    }
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  EXPECT_LT(high, 0) << "odd number of hex digits";
  return out;
}

std::string ToHex(const Bytes& bytes) {
  std::string out;
  char digits[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
    if (i != 0) {
      out += ' ';
    }
    out += digits;
  }
  return out;
}

Bytes Cat(std::initializer_list<Bytes> pieces) {
  Bytes all;
  for (const Bytes& piece : pieces) {
    all.insert(all.end(), piece.begin(), piece.end());
  }
  return all;
}

std::vector<mms::platform::StoredValue> StoredValues() {
  std::vector<mms::platform::StoredValue> values;
  EXPECT_TRUE(mms::platform::ListStoredValues(mms::store::kMmsKey, &values));
  return values;
}

std::vector<std::wstring> WriteOrder() {
  std::vector<std::wstring> names;
  for (const mms::platform::StoredValue& v : StoredValues()) {
    names.push_back(v.name);
  }
  return names;
}

uint32_t RegDword(const wchar_t* name) {
  uint32_t value = kAbsent;
  WBuf key(mms::store::kMmsKey), value_name(name);
  RegGetValue(key, value_name, &value, sizeof value);
  return value;
}

std::wstring RegString(const wchar_t* name) {
  wchar_t text[260] = {};
  WBuf key(mms::store::kMmsKey), value_name(name);
  RegGetValue(key, value_name, text, sizeof text - sizeof(wchar_t));
  return text;
}

Bytes ReadHostFile(const std::string& host_path) {
  std::ifstream in(host_path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in),
               std::istreambuf_iterator<char>());
}

void WriteHostFile(const std::string& host_path, const Bytes& bytes) {
  std::filesystem::create_directories(
      std::filesystem::path(host_path).parent_path());
  std::ofstream out(host_path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void WriteHostFile(const std::string& host_path, const std::string& text) {
  WriteHostFile(host_path, Bytes(text.begin(), text.end()));
}

bool HostFileExists(const std::string& host_path) {
  return std::filesystem::exists(host_path);
}

std::string CorpusDir() { return MMS_CORPUS_DIR; }

}  // namespace mms::testing
