// WAV files through libsndfile: one channel of an input file, and a
// three-channel 32-bit float output that appears under its name only once
// it is complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;

namespace quorvel::tools {

struct WavChannel {
    std::vector<float> samples;  // as libsndfile reads them: integer formats scaled to [-1, 1)
    int32_t rate = 0;
    int32_t channels = 0;  // of the whole file
};

// Reads channel `channel` (1-based) of a WAV file. False with *error set,
// naming the file, when it cannot be read, is not a WAV file or lacks the
// channel.
bool readWavChannel(const std::string& path, int32_t channel, WavChannel& out, std::string* error);

class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();  // removes the unfinished file unless commit() succeeded
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Creates the file under a temporary name beside `path`: a plain WAV
    // file, or RF64 (the WAV form without the 4 GB limit) when `frames`
    // would not fit in a plain one.
    bool open(const std::string& path, int32_t rate, int32_t channels, int64_t frames, std::string* error);
    bool write(const float* interleaved, int64_t frames, std::string* error);
    // Closes the file and gives it its name.
    bool commit(std::string* error);

private:
    void discard();

    sf_private_tag* file_ = nullptr;
    std::string path_;
    std::string temporary_;
};

}  // namespace quorvel::tools
