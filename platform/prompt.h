// prompt.h: MessageBoxW, the modal message box of the phone, on a system
// without one.
//
// A prompt always shows its caption and text and returns only once a user
// has answered it. A host can install its own handler; otherwise, with a
// terminal on stdin and stderr, the prompt is printed there and waits for
// Enter; without one it is kept as pending in the registry database until
// answered with `mmsctl prompts --answer`. Waiting is a cancellation point
// (see thread.h): TerminateThread ends a thread that waits in a prompt.
#ifndef MMS_PLATFORM_PROMPT_H_
#define MMS_PLATFORM_PROMPT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/winapi.h"

#define MB_OK 0x00000000u
#define IDOK 1

// Shows text under caption and waits for the user. owner is ignored (the
// prompt has no window); the result is the button pressed, always IDOK.
int MessageBoxW(HANDLE owner, const wchar_t* text, const wchar_t* caption,
                UINT type);

namespace mms::platform {

// Shows one prompt and returns once answered, with the button pressed.
using PromptHandler = std::function<int(
    const std::wstring& text, const std::wstring& caption, UINT type)>;

// Installs a handler for every later prompt; an empty one restores the
// terminal or pending behaviour.
void SetPromptHandler(PromptHandler handler);

// A prompt that waits for an answer through mmsctl.
struct PendingPrompt {
  int64_t id;    // what AnswerPrompt takes
  uint32_t pid;  // process that shows it
  std::wstring caption;
  std::wstring text;
  int64_t shown_at;  // seconds since 1970-01-01 UTC
};

// Prompts waiting for an answer, oldest first; those of processes that no
// longer run are dropped on the way. False when the database cannot be read.
[[nodiscard]] bool ListPendingPrompts(std::vector<PendingPrompt>* prompts);

// Answers a pending prompt (its MessageBoxW returns IDOK). False when no
// pending prompt has that id.
[[nodiscard]] bool AnswerPrompt(int64_t id);

// The no-terminal form: records the prompt as pending and waits until it
// is answered or the thread is ended (ThreadCancelled, row removed).
int WaitForPendingAnswer(const std::wstring& text, const std::wstring& caption);

}  // namespace mms::platform

#endif  // MMS_PLATFORM_PROMPT_H_
