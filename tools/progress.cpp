#include "progress.h"

#include <string>

#if defined(_WIN32)
#include <io.h>
#define QUORVEL_ISATTY(fd) _isatty(fd)
#define QUORVEL_FILENO(f)  _fileno(f)
#else
#include <unistd.h>
#define QUORVEL_ISATTY(fd) isatty(fd)
#define QUORVEL_FILENO(f)  fileno(f)
#endif

namespace quorvel::tools {

namespace {
constexpr auto kQuietStart = std::chrono::milliseconds(500);  // shorter renders show no bar
constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr int kWidth = 40;
}  // namespace

ProgressBar::ProgressBar(std::FILE* stream, int64_t total)
    : stream_(stream),
      total_(total),
      enabled_(stream && total > 0 && QUORVEL_ISATTY(QUORVEL_FILENO(stream))),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_) {}

void ProgressBar::update(int64_t done) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < kQuietStart || now - lastDraw_ < kRedraw) return;
    lastDraw_ = now;
    const double fraction = total_ > 0 ? static_cast<double>(done) / static_cast<double>(total_) : 1.0;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kWidth, '.');
    std::fprintf(stream_, "\r[%s] %3d%%", bar.c_str(), static_cast<int>(fraction * 100.0));
    std::fflush(stream_);
    shown_ = true;
}

void ProgressBar::finish() {
    if (!shown_) return;
    std::fprintf(stream_, "\r%*s\r", kWidth + 8, "");
    std::fflush(stream_);
    shown_ = false;
}

}  // namespace quorvel::tools
