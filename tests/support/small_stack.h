// Runs a piece of test code on a thread with a small stack, the way a host
// may deliver pin updates, so that deep recursion shows as a crash.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace quorvel_test {

inline constexpr std::size_t kSmallStack = 256 * 1024;

// Returns false when the thread could not be started.
inline bool runOnSmallStack(const std::function<void()>& body, std::size_t stackSize = kSmallStack) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_attr_setstacksize(&attr, stackSize);
    pthread_t thread;
    auto entry = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    const bool started = pthread_create(&thread, &attr, entry, const_cast<std::function<void()>*>(&body)) == 0;
    pthread_attr_destroy(&attr);
    if (started) pthread_join(thread, nullptr);
    return started;
}

}  // namespace quorvel_test
