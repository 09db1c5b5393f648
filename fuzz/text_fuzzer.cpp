// Fuzz target: one expression text through the whole engine.
//
// Input: two header bytes, then the text.
//   byte 0, bit 0      zero-on-math-error
//   byte 0, bits 1-2   abort polls allowed before the callback stops (1 ... 4)
//   byte 0, bits 3-5   node evaluations between polls (small, so loops end fast)
//   byte 0, bit 6      fail allocation number byte 1 while parsing
//   byte 0, bit 7      ... and every allocation after it
// The text is parsed, evaluated by the compiled program and by the tree walk
// from the same variable values (they must agree), cleared, parsed again
// (same result code) and evaluated again; then everything is freed and no
// engine block may be left.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/expr.h"
#include "tests/support/engine_rig.h"

namespace {

int32_t pollsLeft = 0;
int32_t clockReads = 0;

// randomize seeds from the clock, so two evaluations that call it may
// differ by design; the wrapper tells the comparison to stand aside.
EXPR_DECLARE_FUNCTION(countedRandomize) {
    ++clockReads;
    return builtinRandomize(context, args, argCount, refs, refCount, result);
}

int32_t stopAfterAFewPolls(ExprContext*) {
    return --pollsLeft < 0 ? 1 : 0;
}

void collect(const VarEntry* entry, std::vector<double*>& values) {
    for (; entry; entry = entry->right) {
        values.push_back(const_cast<double*>(&entry->value));
        collect(entry->left, values);
    }
}

std::vector<double> snapshot(const std::vector<double*>& values) {
    std::vector<double> copy;
    for (double* value : values) copy.push_back(*value);
    return copy;
}

void restore(const std::vector<double*>& values, const std::vector<double>& copy) {
    for (std::size_t i = 0; i < values.size(); ++i) *values[i] = copy[i];
}

bool sameValue(double a, double b) {
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b) || (a != a && b != b);
}

[[noreturn]] void finding() {
    __builtin_trap();
}

// The tests' engine rig, randomize counted, u set.
struct Engine : quorvel_test::EngineRig {
    Engine() : EngineRig({.abort = stopAfterAFewPolls}) {
        if (exprSetFunction(functions, countedRandomize, "randomize", 0, 0, 1, 1) != EXPR_OK) finding();
        variable("u") = 0.25;
    }
};

constexpr int32_t kIntervals[8] = {1, 2, 3, 7, 16, 64, 500, 5000};

// Evaluates through the program and the walk from the same values.
void evaluateBoth(Engine& engine, int32_t polls) {
    std::vector<double*> values;
    collect(static_cast<const VarEntry*>(engine.variables->root), values);
    const std::vector<double> start = snapshot(values);

    pollsLeft = polls;
    clockReads = 0;
    double compiled = 0.0;
    const int32_t compiledCode = exprEvaluate(engine.context, &compiled);
    const std::vector<double> afterCompiled = snapshot(values);

    // The partial tree of a failed parse may hold null addresses and is
    // never walked; only a Ready context has a tree and a program to compare.
    if (!engine.context->parsed) return;
    restore(values, start);
    pollsLeft = polls;
    engine.context->countdown = engine.context->checkInterval;
    double walked = 0.0;
    const int32_t walkedCode = exprEvalNode(engine.context, engine.context->root, &walked);
    if (compiledCode == EXPR_ERR_ABORTED || walkedCode == EXPR_ERR_ABORTED || clockReads != 0) return;
    if (compiledCode != walkedCode) finding();
    if (compiledCode == EXPR_OK && !sameValue(compiled, walked)) finding();
    const std::vector<double> afterWalk = snapshot(values);
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!sameValue(afterCompiled[i], afterWalk[i])) finding();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const uint8_t flags = data[0];
    const uint8_t failAt = data[1];
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    {
        Engine engine;
        exprSetZeroOnMathError(engine.context, flags & 1);
        engine.context->checkInterval = kIntervals[(flags >> 3) & 7];
        const int32_t polls = 1 + ((flags >> 1) & 3);

        if (flags & 0x40) exprFailAllocation(failAt, (flags & 0x80) ? 1 : 0);
        const int32_t failedParse = exprParse(engine.context, text.c_str());
        exprFailAllocation(0, 0);
        (void)failedParse;

        exprClear(engine.context);
        const int32_t first = exprParse(engine.context, text.c_str());
        evaluateBoth(engine, polls);
        exprClear(engine.context);
        const int32_t second = exprParse(engine.context, text.c_str());
        if (first != second) finding();
        pollsLeft = polls;
        double value;
        exprEvaluate(engine.context, &value);
        // A second parse on a context that holds one is refused, not leaked.
        if (exprParse(engine.context, text.c_str()) == EXPR_OK) finding();
    }
    if (exprLiveBlocks() != 0) finding();
    return 0;
}
