#include "wav_io.h"

#include <sndfile.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace quorvel::tools {

namespace {

bool isWav(int format) {
    const int major = format & SF_FORMAT_TYPEMASK;
    return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64;
}

std::string formatName(int format) {
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name) return info.name;
    return "another format";
}

// Why a path cannot be read, in the system's words; empty when it can.
std::string unreadableReason(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return "no such file";
    if (std::filesystem::is_directory(path, ec)) return "it is a directory";
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::strerror(errno);
    std::fclose(file);
    return {};
}

}  // namespace

bool readWavChannel(const std::string& path, int32_t channel, WavChannel& out, std::string* error) {
    if (const std::string reason = unreadableReason(path); !reason.empty()) {
        *error = "cannot read " + path + ": " + reason;
        return false;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        *error = path + " is not a WAV file (" + sf_strerror(nullptr) + ")";
        return false;
    }
    struct Closer {
        SNDFILE* file;
        ~Closer() { sf_close(file); }
    } closer{file};
    if (!isWav(info.format)) {
        *error = path + " is not a WAV file (it is " + formatName(info.format) + ")";
        return false;
    }
    if (channel < 1 || channel > info.channels) {
        *error = path + " has " + std::to_string(info.channels) + (info.channels == 1 ? " channel" : " channels") +
                 ": there is no channel " + std::to_string(channel);
        return false;
    }
    out.rate = info.samplerate;
    out.channels = info.channels;
    out.samples.clear();
    out.samples.reserve(static_cast<std::size_t>(info.frames > 0 ? info.frames : 0));
    constexpr sf_count_t kChunk = 4096;
    std::vector<float> chunk(static_cast<std::size_t>(kChunk * info.channels));
    for (;;) {
        const sf_count_t frames = sf_readf_float(file, chunk.data(), kChunk);
        if (frames <= 0) break;
        for (sf_count_t i = 0; i < frames; ++i)
            out.samples.push_back(chunk[static_cast<std::size_t>(i * info.channels + (channel - 1))]);
    }
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        *error = "cannot read " + path + ": " + sf_strerror(file);
        return false;
    }
    return true;
}

WavWriter::~WavWriter() {
    discard();
}

void WavWriter::discard() {
    if (file_) sf_close(file_);
    file_ = nullptr;
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    temporary_.clear();
}

bool WavWriter::open(const std::string& path, int32_t rate, int32_t channels, int64_t frames, std::string* error) {
    discard();
    path_ = path;
    temporary_ = path + ".partial";
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    // A RIFF chunk counts its bytes in 32 bits; leave room for the header.
    const int64_t bytes = frames * channels * static_cast<int64_t>(sizeof(float));
    info.format = (bytes < 0xFFFF0000LL ? SF_FORMAT_WAV : SF_FORMAT_RF64) | SF_FORMAT_FLOAT;
    file_ = sf_open(temporary_.c_str(), SFM_WRITE, &info);
    if (!file_) {
        *error = "cannot write " + path + ": " + sf_strerror(nullptr);
        discard();
        return false;
    }
    return true;
}

bool WavWriter::write(const float* interleaved, int64_t frames, std::string* error) {
    if (!file_) return false;
    if (sf_writef_float(file_, interleaved, frames) != frames) {
        *error = "cannot write " + path_ + ": " + sf_strerror(file_);
        return false;
    }
    return true;
}

bool WavWriter::commit(std::string* error) {
    if (!file_) return false;
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
        *error = "cannot write " + path_ + ": " + sf_error_number(closed);
        discard();
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(temporary_, path_, ec);
    if (ec) {
        *error = "cannot write " + path_ + ": " + ec.message();
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

}  // namespace quorvel::tools
