// SPDX-License-Identifier: MIT
// Foreign windows: a window of another program, reached over a connected stream socket
// that program handed down (the player's /#N names the descriptor). USER's IsWindow,
// GetWindowTextA and SendMessageA forward a foreign handle to the functions below, which
// turn each call into one request and one reply on the socket.
//
// Wire format, every integer little-endian:
//   request  u32 op, u32 message, u64 wParam, u64 lParam, u32 length, length bytes of data
//            op 1 IsWindow (all else 0); op 2 GetWindowTextA (wParam = the caller's
//            capacity, zero included); op 3 SendMessageA of any message but WM_COPYDATA
//            (wParam and lParam as values); op 4 SendMessageA of WM_COPYDATA (wParam as
//            given, lParam = dwData, the data = cbData bytes at lpData).
//   reply    i64 result, u32 length, length bytes of data
//            IsWindow: non-zero while the window exists; GetWindowTextA: the title
//            without a terminating zero (result ignored); SendMessageA: the message's
//            result, no data.
// Each request waits for its reply, as SendMessageA waits. A broken or closed socket, or
// a reply longer than kForeignReplyLimit, ends the window: from then on IsWindow answers
// FALSE and the others 0.
#pragma once

#include <cstddef>

#include "platform/standin/kernel/types.h"

namespace standin {

constexpr std::size_t kForeignRequestHeader = 28;
constexpr std::size_t kForeignReplyHeader = 12;
constexpr std::size_t kForeignReplyLimit = 65536;
enum ForeignOp : std::uint32_t {
    kForeignIsWindow = 1,
    kForeignGetText = 2,
    kForeignMessage = 3,
    kForeignCopyData = 4,
};

// The descriptor becomes a foreign window (it is closed with it); null when it is not a
// connected stream socket. Asking twice for the same descriptor gives the same window.
HWND ForeignWindowFromDescriptor(int fd);
bool IsForeignWindow(HWND window);

BOOL ForeignIsWindow(HWND window);
int ForeignGetWindowText(HWND window, LPSTR text, int maxCount);
LRESULT ForeignSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace standin
