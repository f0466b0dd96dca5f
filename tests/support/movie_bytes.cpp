// SPDX-License-Identifier: MIT
// The debug capture of the decoder tests.
#include "movie_bytes.h"

#include <unistd.h>

#include "core/debug.h"

namespace decoder_test {

DebugCapture::DebugCapture() {
    path_ = (std::filesystem::temp_directory_path() /
             ("zambrel-decoder-" + std::to_string(getpid()) + ".ini"))
                .string();
    std::ofstream(path_) << "[Zambrel]\nDebug=1\n";
    setenv("ZAMBREL_PROFILE", path_.c_str(), 1);
    DebugForgetSetting();
    standin::SetDebugSink([this](const char* text) { text_ += text; });
}

DebugCapture::~DebugCapture() {
    standin::SetDebugSink({});
    DebugForgetSetting();
    unsetenv("ZAMBREL_PROFILE");
    std::filesystem::remove(path_);
}

}  // namespace decoder_test
