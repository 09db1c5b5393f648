// `quorvel render`: runs the texts in the built plug-in through our own host,
// block by block as a host does, and reports what came out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "cli_options.h"
#include "pins.h"

namespace quorvel::tools {

// Figures of one output channel. NaN and infinite samples are counted and
// left out of the peak, the RMS and the count above full scale.
struct OutputFigures {
    double peak = 0.0;
    double sumOfSquares = 0.0;
    int64_t finite = 0;
    int64_t nonFinite = 0;
    int64_t overFullScale = 0;  // |sample| > 1.0, where a host's output clips

    void add(float sample);
    double rms() const;
};

struct RenderSummary {
    int64_t samples = 0;
    OutputFigures outputs[module::kOutputCount];
    // Samples whose Expr evaluation failed, which the module writes as 0.0
    // on all outputs, in total and by result code.
    int64_t silenced = 0;
    std::map<int32_t, int64_t> silencedBy;
    // Samples where the plug-in's output differs from the engine run beside it.
    int64_t disagreements = 0;
};

// The whole command; returns the exit status. Figures and messages go to
// out and err (the figures to err when --csv takes standard output).
int runRender(const RenderOptions& options, std::FILE* out, std::FILE* err);

// "0.5 (-6.0 dBFS)".
std::string levelText(double level);

}  // namespace quorvel::tools
