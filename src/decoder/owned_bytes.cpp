// SPDX-License-Identifier: MIT
#include "decoder/owned_bytes.h"

#include "core/allocator.h"

bool OwnedBytes::Reserve(std::size_t bytes) {
    if (bytes == size) return data != nullptr || bytes == 0;
    Release();
    if (bytes == 0) return true;
    if (bytes >= 0xFFFFFFFFu) return false;
    data = static_cast<std::uint8_t*>(ZambAllocate(static_cast<std::uint32_t>(bytes)));
    size = data != nullptr ? bytes : 0;
    return data != nullptr;
}

void OwnedBytes::Release() {
    ZambFree(data);
    data = nullptr;
    size = 0;
}
