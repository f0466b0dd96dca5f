// SPDX-License-Identifier: MIT
#include "platform/standin/kernel/window_questions.h"

#include <atomic>

namespace standin {
namespace {

// Atomic so that the mixer's thread may ask while a test's desktop installs its answers.
std::atomic<bool (*)(HWND)> exists{nullptr};
std::atomic<bool (*)(HWND)> treeActive{nullptr};

bool Ask(const std::atomic<bool (*)(HWND)>& question, HWND window) {
    bool (*answer)(HWND) = question.load();
    return answer != nullptr && window != nullptr && answer(window);
}

}  // namespace

void AnswerWindowQuestions(const WindowQuestions& answers) {
    exists.store(answers.Exists);
    treeActive.store(answers.TreeActive);
}

bool WindowExists(HWND window) {
    return Ask(exists, window);
}

bool WindowTreeIsActive(HWND window) {
    return Ask(treeActive, window);
}

}  // namespace standin
