// The three forms of one parsed text, compared: the machine code, the
// threaded runner and the tree walk, each from the same variable values,
// must give the same result code, the same value and the same variables
// after. Shared by the text fuzz target and the forms check program, so the
// comparison that fuzzing trusts is the one every build runs.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/support/engine_rig.h"

namespace quorvel_test {

// What the abort callback and the counted randomize share with a comparison.
struct FormsClock {
    int32_t pollsLeft = 0;
    int32_t clockReads = 0;
};
inline FormsClock formsClock;

// randomize seeds from the clock, so two evaluations that call it may differ
// by design; counting its calls tells the comparison to stand aside.
inline EXPR_DECLARE_FUNCTION(formsCountedRandomize) {
    ++formsClock.clockReads;
    return builtinRandomize(context, args, argCount, refs, refCount, result);
}

inline int32_t formsStopAfterAFewPolls(ExprContext*) {
    return --formsClock.pollsLeft < 0 ? 1 : 0;
}

// The tests' engine rig, randomize counted, the abort callback stopping after
// a few polls, u set.
struct FormsRig : EngineRig {
    FormsRig() : EngineRig({.abort = formsStopAfterAFewPolls}) {
        if (exprSetFunction(functions, formsCountedRandomize, "randomize", 0, 0, 1, 1) != EXPR_OK) std::abort();
        variable("u") = 0.25;
    }
};

// The intervals between abort polls a header's bits 3-5 choose (small, so
// loops end fast).
inline constexpr int32_t kFormsIntervals[8] = {1, 2, 3, 7, 16, 64, 500, 5000};

// Sets the rig as a text fuzz input's first byte says (zero-on-math-error in
// bit 0, the poll interval in bits 3-5) and gives the abort polls it allows
// (bits 1-2: 1 ... 4).
inline int32_t configureForms(FormsRig& rig, uint8_t flags) {
    exprSetZeroOnMathError(rig.context, flags & 1);
    rig.context->checkInterval = kFormsIntervals[(flags >> 3) & 7];
    return 1 + ((flags >> 1) & 3);
}

// The outcome of one comparison.
enum class FormsVerdict { Agree, Differ, NotCompared };

namespace forms_detail {

inline void collect(const VarEntry* entry, std::vector<double*>& values) {
    for (; entry; entry = entry->right) {
        values.push_back(const_cast<double*>(&entry->value));
        collect(entry->left, values);
    }
}

inline std::vector<double> snapshot(const std::vector<double*>& values) {
    std::vector<double> copy;
    copy.reserve(values.size());
    for (double* value : values) copy.push_back(*value);
    return copy;
}

inline void restore(const std::vector<double*>& values, const std::vector<double>& copy) {
    for (std::size_t i = 0; i < values.size(); ++i) *values[i] = copy[i];
}

// The same bits, or both NaN (a NaN's payload may follow the operand order).
inline bool sameValue(double a, double b) {
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b) || (a != a && b != b);
}

// One evaluation from the given values: its code, value and what the
// variables hold after it.
struct Run {
    int32_t code = EXPR_OK;
    double value = 0.0;
    std::vector<double> after;
    bool clockRead = false;
};

}  // namespace forms_detail

// Evaluates the rig's parsed text through the machine code, the threaded
// runner and the walk, from the same values, with `polls` abort polls
// allowed; the context keeps the threaded runner after.
inline FormsVerdict compareForms(FormsRig& rig, int32_t polls) {
    using namespace forms_detail;
    std::vector<double*> values;
    collect(static_cast<const VarEntry*>(rig.variables->root), values);
    const std::vector<double> start = snapshot(values);
    const auto run = [&](auto evaluate) {
        restore(values, start);
        formsClock.pollsLeft = polls;
        formsClock.clockReads = 0;
        Run r;
        r.code = evaluate(&r.value);
        r.after = snapshot(values);
        r.clockRead = formsClock.clockReads != 0;
        return r;
    };
    const Run machine = run([&](double* value) { return exprEvaluate(rig.context, value); });

    // The partial tree of a failed parse may hold null addresses and is
    // never walked; only a Ready context has a tree and a program to compare.
    if (!rig.context->parsed) return FormsVerdict::NotCompared;
    Run forms[2];
    int32_t count = 0;
    if (rig.context->program != nullptr) {
        exprDropNativeCode(rig.context->program);
        forms[count++] = run([&](double* value) { return exprEvaluate(rig.context, value); });
    }
    forms[count++] = run([&](double* value) {
        rig.context->countdown = rig.context->checkInterval;
        return exprEvalNode(rig.context, rig.context->root, value);
    });
    FormsVerdict verdict = FormsVerdict::NotCompared;
    for (int32_t k = 0; k < count; ++k) {
        const Run& other = forms[k];
        if (machine.code == EXPR_ERR_ABORTED || other.code == EXPR_ERR_ABORTED || machine.clockRead ||
            other.clockRead)
            continue;
        if (machine.code != other.code) return FormsVerdict::Differ;
        if (machine.code == EXPR_OK && !sameValue(machine.value, other.value)) return FormsVerdict::Differ;
        for (std::size_t i = 0; i < values.size(); ++i)
            if (!sameValue(machine.after[i], other.after[i])) return FormsVerdict::Differ;
        verdict = FormsVerdict::Agree;
    }
    return verdict;
}

}  // namespace quorvel_test
