// push_router.h: the push router client calls, and the codes they return.
//
// The calls talk to the push router stand-in through its store (see
// push_store.h): registering and unregistering work whether or not the
// router runs; opening needs a running router. The event from
// PushRouter_Open is a manual-reset platform event, set while pushes wait
// for the content type and reset when none do. Results are HRESULT-style:
// non-negative is success. Tests may put a scripted router behind the same
// six calls with SetPushRouterCalls.
#ifndef MMS_PUSHROUTER_PUSH_ROUTER_H_
#define MMS_PUSHROUTER_PUSH_ROUTER_H_

#include "platform/winapi.h"

typedef LONG HRESULT;

namespace mms::pushrouter {

constexpr HRESULT kPushOk = 0;
constexpr HRESULT kPushInvalidArg = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT kPushBadHandle = static_cast<HRESULT>(0x80070006u);
constexpr HRESULT kPushFailed = static_cast<HRESULT>(0x80004005u);
// Opening: nothing is registered for the content type and application ID.
constexpr HRESULT kPushNotRegistered = static_cast<HRESULT>(0x80530001u);
// Registering what is already registered.
constexpr HRESULT kPushAlreadyRegistered = static_cast<HRESULT>(0x80530003u);
// Opening: another live process holds the content type.
constexpr HRESULT kPushHeldElsewhere = static_cast<HRESULT>(0x80530004u);
// Opening while no router runs (the Win32 "service not active" code).
constexpr HRESULT kPushNoRouter = static_cast<HRESULT>(0x80070426u);
// Unregistering what is not registered (Win32 "file not found").
constexpr HRESULT kPushNotFound = static_cast<HRESULT>(0x80070002u);
// Fetching while no push waits (Win32 "no more items").
constexpr HRESULT kPushNoMessage = static_cast<HRESULT>(0x80070103u);

}  // namespace mms::pushrouter

HRESULT PushRouter_RegisterClient(const wchar_t* content_type,
                                  const wchar_t* app_id, const wchar_t* program,
                                  const wchar_t* params);
HRESULT PushRouter_UnRegisterClient(const wchar_t* content_type,
                                    const wchar_t* app_id);
HRESULT PushRouter_Open(const wchar_t* content_type, const wchar_t* app_id,
                        HANDLE* event, HANDLE* router);
// Fills push (cbSize set by the caller) with the oldest waiting push; its
// blocks stay valid until PushRouter_FreeMessage, which also removes the
// push from the queue.
HRESULT PushRouter_GetMessage(HANDLE router, PUSHMSG* push);
HRESULT PushRouter_FreeMessage(PUSHMSG* push);
HRESULT PushRouter_Close(HANDLE router);

namespace mms::pushrouter {

struct PushRouterCalls {
  HRESULT(*register_client)
  (const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*);
  HRESULT (*unregister_client)(const wchar_t*, const wchar_t*);
  HRESULT (*open)(const wchar_t*, const wchar_t*, HANDLE*, HANDLE*);
  HRESULT (*get_message)(HANDLE, PUSHMSG*);
  HRESULT (*free_message)(PUSHMSG*);
  HRESULT (*close)(HANDLE);
};

// Replaces the six calls (tests); null restores the router client. The
// table must outlive its use.
void SetPushRouterCalls(const PushRouterCalls* calls);

}  // namespace mms::pushrouter

#endif  // MMS_PUSHROUTER_PUSH_ROUTER_H_
