// SPDX-License-Identifier: MIT
// Debug output: standard error, or a test's sink.
#include <cstdio>
#include <functional>
#include <mutex>

#include "platform/standin/kernel/kernel.h"
#include "platform/standin/kernel/seams.h"

namespace {
std::mutex sinkLock;
std::function<void(const char*)>& Sink() {
    static std::function<void(const char*)> sink;
    return sink;
}
}  // namespace

void WINAPI OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    std::lock_guard<std::mutex> guard(sinkLock);
    if (Sink()) {
        Sink()(text);
        return;
    }
    std::fputs(text, stderr);
    std::fflush(stderr);
}

namespace standin {
void SetDebugSink(std::function<void(const char* text)> sink) {
    std::lock_guard<std::mutex> guard(sinkLock);
    Sink() = std::move(sink);
}
}  // namespace standin
