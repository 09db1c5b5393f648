// The engine's own elementary functions against the runtime's, ns per call
// over the argument ranges patches use: each function runs over the same
// 4 096 arguments, the best of several rounds counts. scripts/bench prints
// the table; on x86-64 Linux the runtime is glibc.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/elementary.h"

namespace {

constexpr int kArguments = 4096;
constexpr int kPasses = 200;  // over the arguments, per round
constexpr int kRounds = 9;

// splitmix64, as uniform doubles in [low, high).
class Uniform {
public:
    explicit Uniform(uint64_t seed) : state_(seed) {}
    double operator()(double low, double high) {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return low + (high - low) * static_cast<double>(z >> 11) * 0x1p-53;
    }

private:
    uint64_t state_;
};

struct Range {
    double low, high;
};

struct Row {
    const char* name;
    const char* range;
    Range a, b;  // b unused by functions of one argument
    double (*ours1)(double);
    double (*theirs1)(double);
    double (*ours2)(double, double);
    double (*theirs2)(double, double);
};

double glibcSin(double x) { return std::sin(x); }
double glibcCos(double x) { return std::cos(x); }
double glibcTan(double x) { return std::tan(x); }
double glibcAsin(double x) { return std::asin(x); }
double glibcAcos(double x) { return std::acos(x); }
double glibcAtan(double x) { return std::atan(x); }
double glibcAtan2(double y, double x) { return std::atan2(y, x); }
double glibcExp(double x) { return std::exp(x); }
double glibcExp10(double x) { return std::pow(10.0, x); }
double glibcLn(double x) { return std::log(x); }
double glibcLog10(double x) { return std::log10(x); }
double glibcPow(double a, double b) { return std::pow(a, b); }
double glibcSinh(double x) { return std::sinh(x); }
double glibcCosh(double x) { return std::cosh(x); }
double glibcTanh(double x) { return std::tanh(x); }
double glibcFmod(double a, double b) { return std::fmod(a, b); }
double glibcFloor(double x) { return std::floor(x); }

constexpr double kTwoPi = 6.283185307179586;
const Row kRows[] = {
    {"sin", "[0, 2pi)", {0, kTwoPi}, {}, exprSin, glibcSin, nullptr, nullptr},
    {"sin", "|x| < 100", {-100, 100}, {}, exprSin, glibcSin, nullptr, nullptr},
    {"cos", "[0, 2pi)", {0, kTwoPi}, {}, exprCos, glibcCos, nullptr, nullptr},
    {"cos", "|x| < 100", {-100, 100}, {}, exprCos, glibcCos, nullptr, nullptr},
    {"tan", "|x| < 1.5", {-1.5, 1.5}, {}, exprTan, glibcTan, nullptr, nullptr},
    {"asin", "|x| < 1", {-1, 1}, {}, exprAsin, glibcAsin, nullptr, nullptr},
    {"acos", "|x| < 1", {-1, 1}, {}, exprAcos, glibcAcos, nullptr, nullptr},
    {"atan", "|x| < 100", {-100, 100}, {}, exprAtan, glibcAtan, nullptr, nullptr},
    {"atan2", "|y|, |x| < 100", {-100, 100}, {-100, 100}, nullptr, nullptr, exprAtan2, glibcAtan2},
    {"exp", "|x| < 20", {-20, 20}, {}, exprExp, glibcExp, nullptr, nullptr},
    {"pow10", "|x| < 5", {-5, 5}, {}, exprExp10, glibcExp10, nullptr, nullptr},
    {"ln", "(0, 1e5)", {1e-3, 1e5}, {}, exprLn, glibcLn, nullptr, nullptr},
    {"log", "(0, 1e5)", {1e-3, 1e5}, {}, exprLog10, glibcLog10, nullptr, nullptr},
    {"pow", "a in (0, 10), b in [-5, 5]", {1e-3, 10}, {-5, 5}, nullptr, nullptr, exprPow, glibcPow},
    {"sinh", "|x| < 5", {-5, 5}, {}, exprSinh, glibcSinh, nullptr, nullptr},
    {"cosh", "|x| < 5", {-5, 5}, {}, exprCosh, glibcCosh, nullptr, nullptr},
    {"tanh", "|x| < 5", {-5, 5}, {}, exprTanh, glibcTanh, nullptr, nullptr},
    {"mod", "a in [-100, 100), b in [0.5, 3)", {-100, 100}, {0.5, 3}, nullptr, nullptr, exprFmod, glibcFmod},
    {"floor", "|x| < 1e6", {-1e6, 1e6}, {}, exprFloor, glibcFloor, nullptr, nullptr},
};

volatile double sink;

// The best round's ns per call of f over the arguments.
template <typename Call> double nsPerCall(Call call) {
    double best = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        double sum = 0.0;
        for (int pass = 0; pass < kPasses; ++pass)
            for (int k = 0; k < kArguments; ++k) sum += call(k);
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        sink = sum;
        best = std::fmin(best, took.count() / (double(kPasses) * kArguments));
    }
    return best;
}

}  // namespace

int main() {
    std::printf("%-6s %-32s %8s %8s %7s\n", "", "arguments", "ours", "glibc", "ratio");
    for (const Row& row : kRows) {
        Uniform uniform(0x5EED);
        std::vector<double> a(kArguments), b(kArguments);
        for (int k = 0; k < kArguments; ++k) {
            a[k] = uniform(row.a.low, row.a.high);
            b[k] = uniform(row.b.low, row.b.high);
        }
        double ours, theirs;
        if (row.ours1) {
            ours = nsPerCall([&](int k) { return row.ours1(a[k]); });
            theirs = nsPerCall([&](int k) { return row.theirs1(a[k]); });
        } else {
            ours = nsPerCall([&](int k) { return row.ours2(a[k], b[k]); });
            theirs = nsPerCall([&](int k) { return row.theirs2(a[k], b[k]); });
        }
        std::printf("%-6s %-32s %8.2f %8.2f %7.2f\n", row.name, row.range, ours, theirs, ours / theirs);
    }
    return 0;
}
