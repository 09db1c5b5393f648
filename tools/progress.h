// A progress bar on standard error, for renders long enough to wait for.
// It shows only on a terminal and only once the render has run for a while.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace quorvel::tools {

class ProgressBar {
public:
    ProgressBar(std::FILE* stream, int64_t total);
    ~ProgressBar() { finish(); }
    void update(int64_t done);
    void finish();  // clears the bar's line

private:
    std::FILE* stream_;
    int64_t total_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace quorvel::tools
