// SPDX-License-Identifier: MIT
// A whole file's bytes, for tests that check what a program wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace zambrel::testing {

// Empty when the file cannot be read.
inline std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace zambrel::testing
