// SPDX-License-Identifier: MIT
// Foreign windows over an inherited socket: the requests and replies of foreign_window.h.
#include "platform/standin/gui/foreign_window.h"
#include "platform/standin/gui/user.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace standin {

namespace {

struct ForeignWindow {
    int fd;
    bool alive;
};

std::mutex foreignLock;  // one request at a time per process keeps replies in order

std::vector<std::unique_ptr<ForeignWindow>>& Windows() {
    static std::vector<std::unique_ptr<ForeignWindow>> windows;
    return windows;
}

ForeignWindow* Find(HWND window) {
    for (auto& record : Windows())
        if (reinterpret_cast<HWND>(record.get()) == window) return record.get();
    return nullptr;
}

bool IsConnectedStream(int fd) {
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
    int type = 0;
    socklen_t size = sizeof type;
    sockaddr_storage peer{};
    socklen_t peerSize = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_STREAM &&
           ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0;
}

bool SendAll(int fd, const void* data, std::size_t size) {
    auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReceiveAll(int fd, void* data, std::size_t size) {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::recv(fd, bytes, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void PutLittle(unsigned char* at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint64_t GetLittle(const unsigned char* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
    return value;
}

struct Request {
    std::uint32_t op;
    std::uint32_t message;
    std::uint64_t wParam;
    std::uint64_t lParam;
    const void* data;
    std::uint32_t length;
};

struct Reply {
    std::int64_t result = 0;
    std::vector<char> data;
};

void EndWindow(ForeignWindow* window) {
    if (!window->alive) return;
    window->alive = false;
    ::close(window->fd);
}

// One request and its reply; false (and the window ended) when the socket fails.
bool Exchange(ForeignWindow* window, const Request& request, Reply* reply) {
    if (!window->alive) return false;
    unsigned char header[kForeignRequestHeader];
    PutLittle(header, request.op, 4);
    PutLittle(header + 4, request.message, 4);
    PutLittle(header + 8, request.wParam, 8);
    PutLittle(header + 16, request.lParam, 8);
    PutLittle(header + 24, request.length, 4);
    unsigned char answer[kForeignReplyHeader];
    bool ok = SendAll(window->fd, header, sizeof header) &&
              (request.length == 0 || SendAll(window->fd, request.data, request.length)) &&
              ReceiveAll(window->fd, answer, sizeof answer);
    std::uint64_t length = ok ? GetLittle(answer + 8, 4) : 0;
    ok = ok && length <= kForeignReplyLimit;
    if (ok) {
        reply->result = static_cast<std::int64_t>(GetLittle(answer, 8));
        reply->data.resize(length);
        ok = length == 0 || ReceiveAll(window->fd, reply->data.data(), length);
    }
    if (!ok) EndWindow(window);
    return ok;
}

}  // namespace

HWND ForeignWindowFromDescriptor(int fd) {
    std::lock_guard<std::mutex> guard(foreignLock);
    for (auto& record : Windows())
        if (record->alive && record->fd == fd) return reinterpret_cast<HWND>(record.get());
    if (!IsConnectedStream(fd)) return nullptr;
    Windows().push_back(std::make_unique<ForeignWindow>(ForeignWindow{fd, true}));
    return reinterpret_cast<HWND>(Windows().back().get());
}

bool IsForeignWindow(HWND window) {
    std::lock_guard<std::mutex> guard(foreignLock);
    return window && Find(window) != nullptr;
}

BOOL ForeignIsWindow(HWND window) {
    std::lock_guard<std::mutex> guard(foreignLock);
    ForeignWindow* record = Find(window);
    Reply reply;
    return record && Exchange(record, {kForeignIsWindow, 0, 0, 0, nullptr, 0}, &reply) &&
                   reply.result != 0
               ? TRUE
               : FALSE;
}

int ForeignGetWindowText(HWND window, LPSTR text, int maxCount) {
    if (!text || maxCount <= 0) return 0;
    text[0] = '\0';
    std::lock_guard<std::mutex> guard(foreignLock);
    ForeignWindow* record = Find(window);
    Reply reply;
    auto capacity = static_cast<std::uint64_t>(maxCount);
    if (!record || !Exchange(record, {kForeignGetText, 0, capacity, 0, nullptr, 0}, &reply))
        return 0;
    // A title with a zero in it ends there, as a window's text would.
    std::size_t length =
        std::min<std::size_t>(reply.data.size(), static_cast<std::size_t>(maxCount - 1));
    length = std::find(reply.data.begin(), reply.data.begin() + static_cast<std::ptrdiff_t>(length),
                       '\0') -
             reply.data.begin();
    std::memcpy(text, reply.data.data(), length);
    text[length] = '\0';
    return static_cast<int>(length);
}

LRESULT ForeignSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> guard(foreignLock);
    ForeignWindow* record = Find(window);
    if (!record) return 0;
    Request request{kForeignMessage, message, wParam, static_cast<std::uint64_t>(lParam),
                    nullptr,         0};
    if (message == WM_COPYDATA) {
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!copy || (copy->cbData > 0 && !copy->lpData)) return 0;
        request = {kForeignCopyData, message, wParam, copy->dwData, copy->lpData, copy->cbData};
    }
    Reply reply;
    return Exchange(record, request, &reply) ? static_cast<LRESULT>(reply.result) : 0;
}

}  // namespace standin
