// Shared fixture of the parser tests: the shared engine rig with a few
// functions of the tests' own in place of the built-ins, and a rendering of
// trees as text so that a tree's shape (kinds, callbacks, argument order,
// addresses) compares as one string.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

#include "engine/expr.h"
#include "support/engine_rig.h"

namespace quorvel_test {

// Callbacks with the bounds of the built-in functions of the same names.
inline EXPR_DECLARE_FUNCTION(testSin) {
    (void)argCount, (void)refs, (void)refCount;
    double x;
    const int32_t code = exprEvalNode(context, &args[0], &x);
    if (code != EXPR_OK) return code;
    *result = std::sin(x);
    return EXPR_OK;
}

inline EXPR_DECLARE_FUNCTION(testMax) {
    (void)refs, (void)refCount;
    double best = 0.0;
    for (int32_t i = 0; i < argCount; ++i) {
        double x;
        const int32_t code = exprEvalNode(context, &args[i], &x);
        if (code != EXPR_OK) return code;
        if (i == 0 || x > best) best = x;
    }
    *result = best;
    return EXPR_OK;
}

// Counts in its seed, so that a test sees which variable it was given.
inline EXPR_DECLARE_FUNCTION(testRand) {
    (void)context, (void)args, (void)argCount, (void)refCount;
    *refs[0] += 1.0;
    *result = *refs[0];
    return EXPR_OK;
}

inline EXPR_DECLARE_FUNCTION(testRandom) {
    (void)argCount, (void)refCount;
    double low, high;
    int32_t code = exprEvalNode(context, &args[0], &low);
    if (code != EXPR_OK) return code;
    code = exprEvalNode(context, &args[1], &high);
    if (code != EXPR_OK) return code;
    *refs[0] += 1.0;
    *result = low * 100.0 + high;
    return EXPR_OK;
}

inline EXPR_DECLARE_FUNCTION(testNone) {
    (void)context, (void)args, (void)argCount, (void)refs, (void)refCount;
    *result = 42.0;
    return EXPR_OK;
}

inline const char* calleeName(ExprFunction f) {
    if (f == opAdd) return "add";
    if (f == opSub) return "sub";
    if (f == opMul) return "mul";
    if (f == opDiv) return "div";
    if (f == opNeg) return "neg";
    if (f == builtinMany) return "many";
    if (f == testSin) return "sin";
    if (f == testMax) return "max";
    if (f == testRand) return "rand";
    if (f == testRandom) return "random";
    if (f == testNone) return "none";
    return "?";
}

// The entry that holds a value address.
inline const VarEntry* entryOf(const double* address) {
    return reinterpret_cast<const VarEntry*>(reinterpret_cast<const char*>(address) - offsetof(VarEntry, value));
}

// The engine of the parser tests: the tests' functions instead of the
// built-ins, the pins' variables, and time among the constants.
struct ParserRig : EngineRig {
    ParserRig() : EngineRig({.builtins = false}) {
        EXPECT_EQ(exprSetFunction(functions, testSin, "sin", 1, 1, 0, 0), EXPR_OK);
        EXPECT_EQ(exprSetFunction(functions, testMax, "max", 1, -1, 0, 0), EXPR_OK);
        EXPECT_EQ(exprSetFunction(functions, testRand, "rand", 0, 0, 1, 1), EXPR_OK);
        EXPECT_EQ(exprSetFunction(functions, testRandom, "random", 2, 2, 1, 1), EXPR_OK);
        EXPECT_EQ(exprSetFunction(functions, testNone, "none", 0, 0, 0, 0), EXPR_OK);
        EXPECT_EQ(exprSetFunction(functions, nullptr, "hollow", 0, -1, 0, -1), EXPR_OK);
        for (const char* name : {"u", "v", "w", "out1", "out2", "out3"}) variable(name);
        constant("time");
    }
};

struct ParserTest : ::testing::Test {
    NameTable* functions = nullptr;
    NameTable* variables = nullptr;
    NameTable* constants = nullptr;
    ExprContext* context = nullptr;
    int32_t liveAtStart = 0;

    void SetUp() override {
        exprFailAllocation(0, 0);
        liveAtStart = exprLiveBlocks();
        rig_.emplace();
        functions = rig_->functions;
        variables = rig_->variables;
        constants = rig_->constants;
        context = rig_->context;
    }

    void TearDown() override {
        exprFailAllocation(0, 0);
        rig_.reset();
        EXPECT_EQ(exprLiveBlocks(), liveAtStart) << "blocks leaked";
    }

    int32_t parse(const std::string& text) { return exprParse(context, text.c_str()); }

    // Clears, parses and renders the first statement; on failure the code.
    std::string tree(const std::string& statement) {
        exprClear(context);
        const int32_t code = parse(statement + ";");
        if (code != EXPR_OK) return "code " + std::to_string(code);
        return render(&context->root->args[0]);
    }

    int32_t code(const std::string& statement) {
        exprClear(context);
        const int32_t result = parse(statement + ";");
        exprClear(context);
        return result;
    }

    double* variable(const char* name) {
        double* address = nullptr;
        exprFindVariable(variables, name, &address);
        return address;
    }

    double* constant(const char* name) {
        double* address = nullptr;
        exprFindVariable(constants, name, &address);
        return address;
    }

    // A variable renders as its name, a constant as #name; an address that
    // is not the one its table holds for that name renders as "?".
    std::string nameOf(const double* address) {
        if (address == nullptr) return "null";
        const char* name = entryOf(address)->name;
        if (address == variable(name)) return name;
        if (address == constant(name)) return std::string("#") + name;
        return "?";
    }

    std::string render(const ExprNode* node) {
        switch (node->kind) {
            case 0: return "_";
            case NODE_CONSTANT: {
                char text[64];
                std::snprintf(text, sizeof text, "%.17g", node->value);
                return text;
            }
            case NODE_VARIABLE: return nameOf(node->valuePtr);
            case NODE_ASSIGN:
                return "set(" + nameOf(node->target) + "," + (node->child ? render(node->child) : "null") + ")";
            case NODE_CALL: {
                std::string out = std::string(calleeName(node->function)) + "(";
                if ((node->argCount == 0) != (node->args == nullptr)) out += "!args ";
                if ((node->refCount == 0) != (node->refs == nullptr)) out += "!refs ";
                for (int32_t i = 0; i < node->argCount; ++i) out += (i ? "," : "") + render(&node->args[i]);
                for (int32_t i = 0; i < node->refCount; ++i)
                    out += (node->argCount + i ? ",&" : "&") + nameOf(node->refs[i]);
                return out + ")";
            }
            default: return "kind " + std::to_string(node->kind);
        }
    }

private:
    std::optional<ParserRig> rig_;
};

inline std::string repeat(const std::string& piece, int times) {
    std::string out;
    out.reserve(piece.size() * static_cast<size_t>(times > 0 ? times : 0));
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

}  // namespace quorvel_test
