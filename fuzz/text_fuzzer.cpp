// Fuzz target: one expression text through the whole engine.
//
// Input: two header bytes, then the text.
//   byte 0, bit 0      zero-on-math-error
//   byte 0, bits 1-2   abort polls allowed before the callback stops (1 ... 4)
//   byte 0, bits 3-5   node evaluations between polls (small, so loops end fast)
//   byte 0, bit 6      fail allocation number byte 1 while parsing
//   byte 0, bit 7      ... and every allocation after it
// The text is parsed, evaluated as machine code, by the threaded runner and
// by the tree walk from the same variable values (they must agree; the
// context keeps the threaded runner after), cleared, parsed again
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

// One evaluation from the given values: its code, value and what the
// variables hold after it.
struct Run {
    int32_t code = EXPR_OK;
    double value = 0.0;
    std::vector<double> after;
    bool clockRead = false;
};

// Evaluates through the machine code, the threaded runner and the walk, from
// the same values; all three must agree.
void evaluateEveryForm(Engine& engine, int32_t polls) {
    std::vector<double*> values;
    collect(static_cast<const VarEntry*>(engine.variables->root), values);
    const std::vector<double> start = snapshot(values);
    const auto run = [&](auto evaluate) {
        restore(values, start);
        pollsLeft = polls;
        clockReads = 0;
        Run r;
        r.code = evaluate(&r.value);
        r.after = snapshot(values);
        r.clockRead = clockReads != 0;
        return r;
    };
    const Run native = run([&](double* value) { return exprEvaluate(engine.context, value); });

    // The partial tree of a failed parse may hold null addresses and is
    // never walked; only a Ready context has a tree and a program to compare.
    if (!engine.context->parsed) return;
    Run forms[2];
    int32_t count = 0;
    if (engine.context->program != nullptr) {
        exprDropNativeCode(engine.context->program);
        forms[count++] = run([&](double* value) { return exprEvaluate(engine.context, value); });
    }
    forms[count++] = run([&](double* value) {
        engine.context->countdown = engine.context->checkInterval;
        return exprEvalNode(engine.context, engine.context->root, value);
    });
    for (int32_t k = 0; k < count; ++k) {
        const Run& other = forms[k];
        if (native.code == EXPR_ERR_ABORTED || other.code == EXPR_ERR_ABORTED || native.clockRead || other.clockRead)
            continue;
        if (native.code != other.code) finding();
        if (native.code == EXPR_OK && !sameValue(native.value, other.value)) finding();
        for (std::size_t i = 0; i < values.size(); ++i)
            if (!sameValue(native.after[i], other.after[i])) finding();
    }
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
        evaluateEveryForm(engine, polls);
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
