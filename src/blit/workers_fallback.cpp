// SPDX-License-Identifier: MIT
// Builds without a vector unit: the vector names lead to the plain workers.
#include "blit/workers.h"

#if !ZAMBBLIT_SSE2

bool BlitHasVectorWorkers() {
    return false;
}

void vector::Copy16(const BlitRows& rows, const std::uint16_t* colours) {
    plain::Copy16(rows, colours);
}
void vector::Double8(const BlitRows& rows, bool secondRow) {
    plain::Double8(rows, secondRow);
}
void vector::Double16(const BlitRows& rows, const std::uint16_t* colours, bool secondRow) {
    plain::Double16(rows, colours, secondRow);
}
void vector::TransCore(const KeyRows& rows) {
    plain::TransCore(rows);
}
void vector::MaskCore(const KeyRows& rows) {
    plain::MaskCore(rows);
}
void vector::MergeCore(const KeyRows& rows) {
    plain::MergeCore(rows);
}

#endif
