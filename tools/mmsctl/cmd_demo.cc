// cmd_demo.cc: `mmsctl demo`: composes a small message through the public
// interface (a picture and a text on one slide, a sound on the next),
// shows it with its SMIL document, and saves it with CMMS::MMS_Save.
//
// The media are generated into "\My Documents\mmsctl-demo\" of the device
// root: a 1x1 GIF and a short MIDI tune, both real files of their kind.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "client/prepare.h"
#include "mms.h"
#include "platform/winapi.h"
#include "tools/mmsctl/command.h"
#include "tools/mmsctl/compose.h"

namespace mmsctl {
namespace {

constexpr char kName[] = "demo";
constexpr wchar_t kFolder[] = L"\\My Documents\\mmsctl-demo";

using Bytes = std::vector<unsigned char>;

// GIF89a, 1x1, a two-colour table (red, black), one pixel of colour 0.
const Bytes kGif = {
    'G',  'I',  'F',  '8',  '9',  'a',  0x01, 0x00, 0x01, 0x00,
    0x80, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00,        // colour table
    0x2c, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // image
    0x02, 0x02, 0x44, 0x01, 0x00,  // LZW: clear, 0, end in 3-bit codes
    0x3b};

// A standard MIDI file, format 0, one track: C, E, G, then a long C'.
Bytes MidiTune() {
  const Bytes events = {
      0x00, 0xc0, 0x00,                                      // piano
      0x00, 0x90, 0x3c, 0x50, 0x60, 0x80, 0x3c, 0x40,        // C4, 96 ticks
      0x00, 0x90, 0x40, 0x50, 0x60, 0x80, 0x40, 0x40,        // E4
      0x00, 0x90, 0x43, 0x50, 0x60, 0x80, 0x43, 0x40,        // G4
      0x00, 0x90, 0x48, 0x50, 0x82, 0x40, 0x80, 0x48, 0x40,  // C5, 320
      0x00, 0xff, 0x2f, 0x00};                               // end of track
  Bytes file = {'M', 'T', 'h', 'd', 0,   0,   0,   6, 0, 0, 0,
                1,   0,   96,  'M', 'T', 'r', 'k', 0, 0, 0, 0};
  file[file.size() - 1] = static_cast<unsigned char>(events.size());
  file.insert(file.end(), events.begin(), events.end());
  return file;
}

bool WriteDeviceFile(const std::wstring& device_path, const Bytes& bytes) {
  const std::string host = HostPath(device_path);
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return !host.empty() && out.good();
}

int Run(const Args& args) {
  if (!args.empty()) {
    return Fail(kName, "takes no arguments (see --help)", kUsage);
  }
  std::wstring folder = kFolder;
  CreateDirectoryW(L"\\My Documents", nullptr);  // may exist already
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring picture = folder + L"\\sunrise.gif";
  const std::wstring tune = folder + L"\\chime.mid";
  if (!WriteDeviceFile(picture, kGif) || !WriteDeviceFile(tune, MidiTune())) {
    return Fail(kName, "cannot write the demo media into the device root");
  }
  std::printf("Demo media written to %s\n\n", HostPath(folder).c_str());

  MMS_Custom_Data* message = new MMS_Custom_Data();
  std::wstring to = L"13800000001";
  std::wstring cc = L"13900000002";
  std::wstring subject = L"Greetings from mmsctl";
  std::wstring text = L"Good morning! A picture and a tune, sent as an MMS.";
  message->SetPhoneNumber(to.data());
  message->AddCcName(cc.data());
  message->SetCcNumber(1);
  message->SetSubject(subject.data());
  std::wstring picture_arg = picture;
  std::wstring tune_arg = tune;
  bool composed = message->AddPartFileName(0, picture_arg.data()) == 1 &&
                  message->AddPartTxt(0, text.data(), 0) == 1 &&
                  message->AddPartFileName(1, tune_arg.data()) == 1;
  if (!composed) {
    delete message;
    return Fail(kName, "cannot compose the demo message");
  }
  message->m_pSmilPart[0]->SetPartTime(5000);
  message->m_pSmilPart[1]->SetPartTime(3000);

  // The layout saving will set, so that the document shown is the one
  // that travels.
  mms::client::ApplyFixedLayout(message);

  std::printf("Composed message:\n");
  PrintMessage(message, stdout);
  const std::string smil =
      message->m_pSimlContent != nullptr ? message->m_pSimlContent : "";
  std::printf("\nSMIL document (%zu bytes):\n%s\n\n", smil.size(),
              smil.c_str());

  wchar_t saved[MAX_PATH] = {};
  if (CMMS::MMS_Save(message, saved, nullptr) != 0) {
    delete message;  // a failed save leaves the message with us
    return Fail(kName, "saving failed");
  }
  std::printf("Saved with CMMS::MMS_Save (the message object is gone):\n");
  PrintSaved(saved, stdout);
  return kOk;
}

const Registration kRegistration({
    kName,
    "compose, show and save a demonstration message",
    "usage: mmsctl demo\n"
    "\n"
    "Generates a small picture and a MIDI tune in \\My "
    "Documents\\mmsctl-demo\\\n"
    "of the device root, composes a message with the picture and a text on\n"
    "slide 0 and the tune on slide 1, prints it with its SMIL document,\n"
    "saves it with CMMS::MMS_Save and prints the saved file's path and size.\n",
    Run,
});

}  // namespace
}  // namespace mmsctl
