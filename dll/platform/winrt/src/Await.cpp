#include "Await.h"

#include <memory>

namespace qb::winrt {

ScopedEvent::ScopedEvent() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (handle_ == nullptr) raise(HRESULT_FROM_WIN32(GetLastError()), "CreateEventW");
}

ScopedEvent::~ScopedEvent() {
    CloseHandle(handle_);
}

void awaitCompletion(IAsyncInfo* info, const std::function<HRESULT(std::function<void()>)>& registerHandler,
                     const char* what) {
    AsyncStatus status = AsyncStatus::Started;
    check(info->get_Status(&status), what);
    if (status == AsyncStatus::Started) {
        // The handler may outlive this frame (it runs once, possibly late), so it owns a reference
        // to the event rather than the ScopedEvent.
        auto event = std::make_shared<ScopedEvent>();
        check(registerHandler([event] { SetEvent(event->get()); }), what);
        WaitForSingleObject(event->get(), INFINITE);
        check(info->get_Status(&status), what);
    }
    if (status == AsyncStatus::Error) {
        HRESULT code = E_FAIL;
        check(info->get_ErrorCode(&code), what);
        raise(code, what);
    }
    if (status == AsyncStatus::Canceled) raise(HRESULT_FROM_WIN32(ERROR_CANCELLED), what);
}

}  // namespace qb::winrt
