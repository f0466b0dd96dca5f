// SPDX-License-Identifier: MIT
// The C++ library of Debian's WebAssembly compiler predates std::atomic_ref, which the sound
// track's fill count uses. The page runs the decoder on one thread, so this stand-in only
// has to give the same operations; it uses the compiler's atomic built-ins all the same.
#pragma once

#include <atomic>
#include <version>

#ifndef __cpp_lib_atomic_ref
namespace std {
template <typename T>
class atomic_ref {
  public:
    explicit atomic_ref(T& value) : value_(&value) {}
    T load(memory_order order = memory_order_seq_cst) const {
        return __atomic_load_n(value_, static_cast<int>(order));
    }
    void store(T desired, memory_order order = memory_order_seq_cst) const {
        __atomic_store_n(value_, desired, static_cast<int>(order));
    }
    T fetch_add(T operand, memory_order order = memory_order_seq_cst) const {
        return __atomic_fetch_add(value_, operand, static_cast<int>(order));
    }
    T fetch_sub(T operand, memory_order order = memory_order_seq_cst) const {
        return __atomic_fetch_sub(value_, operand, static_cast<int>(order));
    }

  private:
    T* value_;
};
}  // namespace std
#endif
