// SPDX-License-Identifier: MIT
// A controller for tests: the other end of a socket pair, answering the player's foreign
// window requests from a thread of its own and recording what it was sent.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/standin/gui/foreign_window.h"

struct ReceivedRequest {
    std::uint32_t op;
    std::uint32_t message;
    std::uint64_t wParam;
    std::uint64_t lParam;
    std::string data;
};

class FakeController {
  public:
    // queryReply answers every plain message; answersLeft < 0 answers forever, otherwise the
    // controller hangs up after that many replies.
    explicit FakeController(std::string title, std::int64_t queryReply = 0, int answersLeft = -1)
        : title_(std::move(title)), queryReply_(queryReply), answersLeft_(answersLeft) {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0) {
            playerEnd_ = ends[0];
            ownEnd_ = ends[1];
            // A player started as another program inherits only its own end.
            ::fcntl(ownEnd_, F_SETFD, FD_CLOEXEC);
            thread_ = std::thread([this] { Serve(); });
        }
    }
    ~FakeController() {
        ::shutdown(ownEnd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        ::close(ownEnd_);
    }
    // The descriptor the player inherits; the player's foreign window owns it.
    int PlayerEnd() const { return playerEnd_; }
    std::vector<ReceivedRequest> Requests() {
        std::lock_guard<std::mutex> guard(lock_);
        return requests_;
    }

  private:
    static std::uint64_t Little(const unsigned char* at, int bytes) {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= std::uint64_t{at[i]} << (8 * i);
        return value;
    }
    bool ReadExactly(void* data, std::size_t size) {
        auto* bytes = static_cast<char*>(data);
        while (size > 0) {
            ssize_t n = ::recv(ownEnd_, bytes, size, 0);
            if (n <= 0) return false;
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    void Answer(std::int64_t result, const std::string& data) {
        unsigned char header[standin::kForeignReplyHeader];
        for (int i = 0; i < 8; ++i)
            header[i] = static_cast<unsigned char>(static_cast<std::uint64_t>(result) >> (8 * i));
        for (int i = 0; i < 4; ++i)
            header[8 + i] = static_cast<unsigned char>(data.size() >> (8 * i));
        std::string reply(reinterpret_cast<char*>(header), sizeof header);
        reply += data;
        (void)!::send(ownEnd_, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    void Serve() {
        unsigned char header[standin::kForeignRequestHeader];
        while (answersLeft_ != 0 && ReadExactly(header, sizeof header)) {
            ReceivedRequest request{static_cast<std::uint32_t>(Little(header, 4)),
                                    static_cast<std::uint32_t>(Little(header + 4, 4)),
                                    Little(header + 8, 8),
                                    Little(header + 16, 8),
                                    {}};
            request.data.resize(Little(header + 24, 4));
            if (!request.data.empty() && !ReadExactly(request.data.data(), request.data.size()))
                break;
            {
                std::lock_guard<std::mutex> guard(lock_);
                requests_.push_back(request);
            }
            if (request.op == standin::kForeignGetText)
                Answer(0, title_);
            else if (request.op == standin::kForeignIsWindow)
                Answer(1, "");
            else if (request.op == standin::kForeignCopyData)
                Answer(1, "");
            else
                Answer(queryReply_, "");
            if (answersLeft_ > 0) --answersLeft_;
        }
        ::shutdown(ownEnd_, SHUT_RDWR);
    }

    std::string title_;
    std::int64_t queryReply_;
    int answersLeft_;
    int playerEnd_ = -1;
    int ownEnd_ = -1;
    std::thread thread_;
    std::mutex lock_;
    std::vector<ReceivedRequest> requests_;
};
