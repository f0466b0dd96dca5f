// SPDX-License-Identifier: MIT
// Scratch storage for a movie written in two passes: the pictures as they will be shown wait
// there between the passes, and the coded frames until the header that lists them is written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace zambrel::encoder {

// Written through once, then read back from its start as often as needed.
class Spool {
  public:
    virtual ~Spool() = default;
    virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
    // Makes everything written so far readable from its start.
    virtual bool Rewind() = 0;
    // Exactly `size` bytes, or false.
    virtual bool Read(std::uint8_t* data, std::size_t size) = 0;
    // One line saying why the last call that failed did.
    virtual std::string Failure() const = 0;
};

class MemorySpool final : public Spool {
  public:
    bool Write(const std::uint8_t* data, std::size_t size) override;
    bool Rewind() override;
    bool Read(std::uint8_t* data, std::size_t size) override;
    std::string Failure() const override;

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t readAt_ = 0;
};

// A spool in a file opened for update ("w+b"), which stays the caller's to close. `name`
// is what failures call it ("the scratch file in /tmp").
class FileSpool final : public Spool {
  public:
    FileSpool(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) {}
    bool Write(const std::uint8_t* data, std::size_t size) override;
    bool Rewind() override;
    bool Read(std::uint8_t* data, std::size_t size) override;
    std::string Failure() const override;

  private:
    bool Failed(bool reading);

    std::FILE* file_;
    std::string name_;
    int error_ = 0;
    bool shortRead_ = false;
};

}  // namespace zambrel::encoder
