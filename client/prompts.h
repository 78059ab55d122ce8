// prompts.h: the prompts that push handling raises, shown one at a time on
// a thread of their own, so that a prompt nobody answers never holds up the
// pushes behind it.
#ifndef MMS_CLIENT_PROMPTS_H_
#define MMS_CLIENT_PROMPTS_H_

#include <cstddef>

namespace mms::client {

// Prompts that wait behind the one being shown; more are dropped.
constexpr size_t kMaxQueuedPrompts = 8;

// Queues text for a "Prompt" box and returns at once. A prompt that finds
// the queue full, or no thread to show it, is logged and dropped.
void QueuePrompt(const wchar_t* text);

// Prompts waiting behind the one being shown.
size_t QueuedPrompts();

// Drops the waiting prompts and ends the one being shown (Stop).
void EndPrompts();

}  // namespace mms::client

#endif  // MMS_CLIENT_PROMPTS_H_
