// seed_maker.cc: writes PDUs made by the library's own encoder into a
// folder, as fuzz seeds: usual messages, long file names, more than 32
// parts. Usage: fuzz_seed_maker OUT_DIR
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "mms.h"
#include "platform/device_fs.h"
#include "platform/winapi.h"

namespace {

bool WriteDeviceFile(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()),
                            &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(f);
  return ok;
}

struct Seed {
  std::vector<std::wstring> names;  // files under \Temp\, one per slide
  std::wstring subject;
  bool cc;
};

bool SaveSeed(const Seed& seed, const std::string& out_path) {
  MMS_Option option = {1, 24, 1, 0, 2, 1, 1, 1, 0};
  auto* message = new MMS_Custom_Data(0, &option);
  std::wstring number = L"+8613800000000";
  message->SetPhoneNumber(number.data());
  if (seed.cc) {
    std::wstring a = L"13900000001", b = L"13900000002";
    message->AddCcName(a.data());
    message->AddCcName(b.data());
    message->SetCcNumber(2);
  }
  std::wstring subject = seed.subject;
  message->SetSubject(subject.data());
  for (size_t i = 0; i < seed.names.size(); ++i) {
    std::wstring path = L"\\Temp\\" + seed.names[i];
    if (!WriteDeviceFile(path, "data of " + std::to_string(i))) {
      delete message;
      return false;
    }
    message->AddFileNameToArray(path.data());
    message->AddPartFileName(static_cast<int>(i % 32), path.data());
  }
  wchar_t saved[MAX_PATH] = {};
  if (CMMS::MMS_Save(message, saved, nullptr) != 0) {
    delete message;
    return false;
  }
  std::string host;
  if (!mms::platform::DeviceToHostPath(saved, &host)) {
    return false;
  }
  std::ifstream in(host, std::ios::binary);
  std::ofstream out(out_path, std::ios::binary);
  out << in.rdbuf();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seed_maker OUT_DIR\n");
    return 2;
  }
  char root[] = "/tmp/mms-seeds-XXXXXX";
  if (mkdtemp(root) == nullptr) {
    return 1;
  }
  // A root folder that does not exist yet is laid out like a phone's.
  mms::platform::SetDeviceRoot(std::string(root) + "/device");
  std::vector<Seed> seeds = {
      {{L"pic.jpg", L"note.txt", L"song.amr"}, L"Hello", true},
      {{L"a.gif", L"b.png", L"c.bmp", L"clip.3gp"}, L"\u4e2d\u6587", false},
      {{std::wstring(120, L'n') + L".dat"}, L"", false},
      {{}, L"only smil", true},
  };
  Seed many{{}, L"many parts", false};
  for (int i = 0; i < 40; ++i) {
    many.names.push_back(L"f" + std::to_wstring(i) + L".txt");
  }
  seeds.push_back(many);
  int made = 0;
  for (size_t i = 0; i < seeds.size(); ++i) {
    const std::string out =
        std::string(argv[1]) + "/encoder-" + std::to_string(i) + ".mms";
    made += SaveSeed(seeds[i], out) ? 1 : 0;
  }
  std::printf("%d seeds\n", made);
  return made == static_cast<int>(seeds.size()) ? 0 : 1;
}
