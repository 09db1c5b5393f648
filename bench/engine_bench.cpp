// Per-sample evaluation cost: our engine, the peer parser and plain C++ on
// the same cases, with inputs that change every sample so nothing folds away.

#include <benchmark/benchmark.h>
#include <muParser.h>

#include <array>
#include <string>

#include "bench/cases.h"
#include "engine/expr.h"
#include "engine/program.h"
#include "tests/support/engine_rig.h"

namespace quorvel_bench {
namespace {

constexpr double kTimeStep = 1.0 / 48000.0;
constexpr std::size_t kInputLength = 1024;

// Deterministic inputs in [-1, 1).
const std::array<double, kInputLength>& inputs() {
    static const std::array<double, kInputLength> values = [] {
        std::array<double, kInputLength> v{};
        unsigned state = 12345;
        for (double& x : v) {
            state = state * 1103515245u + 12345u;
            x = static_cast<double>((state >> 8) & 0xFFFF) / 32768.0 - 1.0;
        }
        return v;
    }();
    return values;
}

// Advances the inputs of one sample.
inline void nextSample(std::size_t& index, double& u, double& v, double& w, double& time) {
    const auto& in = inputs();
    u = in[index];
    v = in[(index + 1) % kInputLength];
    w = in[(index + 2) % kInputLength];
    time += kTimeStep;
    index = (index + 1) % kInputLength;
}

// An engine set up as the module sets up its own (the tests' engine rig),
// with time among the constants and the variables the cases use.
struct Engine : quorvel_test::EngineRig {
    double& u = variable("u");
    double& v = variable("v");
    double& w = variable("w");
    double& out1 = variable("out1");
    double& time = constant("time");

    Engine() : EngineRig({.zeroOnMathError = 1}) {}
};

// How ours runs: as exprEvaluate runs it (machine code), by the threaded
// runner that the machine code replaced, or with the tree walked.
enum class Form { Native, Threaded, Walk };

void evaluateCase(benchmark::State& state, const Case& c, Form form) {
    Engine engine;
    if (engine.parse(c.ours) != EXPR_OK) {
        state.SkipWithError("parse failed");
        return;
    }
    if (form == Form::Threaded) engine.threadedOnly();
    if (form == Form::Walk) engine.walkOnly();
    std::size_t index = 0;
    double result = 0;
    for (auto _ : state) {
        nextSample(index, engine.u, engine.v, engine.w, engine.time);
        if (engine.evaluate(&result) != EXPR_OK) {
            state.SkipWithError("evaluation failed");
            return;
        }
        benchmark::DoNotOptimize(engine.out1);
    }
}

void peerCase(benchmark::State& state, const Case& c) {
    mu::Parser parser;
    double u = 0, v = 0, w = 0, time = 0, out1 = 0, y = 0, s = 0;
    try {
        parser.DefineVar("u", &u);
        parser.DefineVar("v", &v);
        parser.DefineVar("w", &w);
        parser.DefineVar("time", &time);
        parser.DefineVar("out1", &out1);
        parser.DefineVar("y", &y);
        parser.DefineVar("s", &s);
        parser.DefineConst("M_PI", kPi);
        parser.SetExpr(c.peer);
        parser.Eval();
    } catch (const mu::Parser::exception_type& e) {
        state.SkipWithError(e.GetMsg().c_str());
        return;
    }
    std::size_t index = 0;
    for (auto _ : state) {
        nextSample(index, u, v, w, time);
        benchmark::DoNotOptimize(parser.Eval());
        benchmark::DoNotOptimize(out1);
    }
}

void nativeCase(benchmark::State& state, const Case& c) {
    SampleState s;
    std::size_t index = 0;
    for (auto _ : state) {
        nextSample(index, s.u, s.v, s.w, s.time);
        benchmark::DoNotOptimize(&s);
        c.native(s);
        benchmark::DoNotOptimize(s.out1);
    }
}

void parseCase(benchmark::State& state, const std::string& text) {
    Engine engine;
    for (auto _ : state) {
        if (engine.parse(text.c_str()) != EXPR_OK) {
            state.SkipWithError("parse failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// What the operating system takes for one page of machine code, which every
// parse of a short text pays: mapped, written, sealed, given back.
void codePage(benchmark::State& state) {
    for (auto _ : state) {
        void* page = exprMapCode(4096);
        if (page == nullptr) {
            state.SkipWithError("no executable memory");
            return;
        }
        static_cast<volatile char*>(page)[0] = static_cast<char>(0xC3);
        if (!exprSealCode(page, 4096)) state.SkipWithError("not sealed");
        exprUnmapCode(page, 4096);
    }
}

// About 64 KiB of ordinary statements.
std::string longText() {
    std::string text;
    for (int i = 0; text.size() < 64 * 1024; ++i) {
        text.append("a").append(std::to_string(i % 97)).append("=max(u,v)*0.5+sin(time*");
        text.append(std::to_string(i % 13)).append(")-w/3;\n");
    }
    return text;
}

[[maybe_unused]] const bool registered = [] {
    for (const Case& c : kCases) {
        benchmark::RegisterBenchmark((std::string("ours/") + c.name).c_str(), evaluateCase, c, Form::Native);
        benchmark::RegisterBenchmark((std::string("threaded/") + c.name).c_str(), evaluateCase, c, Form::Threaded);
        benchmark::RegisterBenchmark((std::string("walk/") + c.name).c_str(), evaluateCase, c, Form::Walk);
        benchmark::RegisterBenchmark((std::string("peer/") + c.name).c_str(), peerCase, c);
        benchmark::RegisterBenchmark((std::string("native/") + c.name).c_str(), nativeCase, c);
        benchmark::RegisterBenchmark((std::string("parse/") + c.name).c_str(), parseCase, std::string(c.ours));
    }
    benchmark::RegisterBenchmark("parse/64KiB", parseCase, longText());
    benchmark::RegisterBenchmark("parse/code page", codePage);
    return true;
}();

}  // namespace
}  // namespace quorvel_bench

BENCHMARK_MAIN();
