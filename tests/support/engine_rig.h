// One engine, set up as the module sets up its own: a function table with the
// built-ins, a constant table with the fourteen constants, a variable table
// and a context over the three. The engine's tests, the benchmarks and the
// fuzz targets all start from it. Only a failing allocation can stop the set-
// up, and no test makes one fail while a rig is made, so that aborts.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/expr.h"
#include "engine/internal.h"

namespace quorvel_test {

struct RigOptions {
    AbortCallback abort = nullptr;  // the context's abort callback
    void* userData = nullptr;       // what exprUserData hands the callback
    int32_t zeroOnMathError = 0;
    bool builtins = true;  // false: the function table stays empty, for a test's own functions
};

class EngineRig {
public:
    explicit EngineRig(const RigOptions& options = {}) {
        const bool made =
            exprNewTable(&functions) == EXPR_OK && exprNewTable(&constants) == EXPR_OK &&
            exprNewTable(&variables) == EXPR_OK && (!options.builtins || exprRegisterBuiltins(functions) == EXPR_OK) &&
            exprRegisterConstants(constants) == EXPR_OK &&
            exprNewContext(&context, functions, variables, constants, 0, options.abort, options.userData) == EXPR_OK;
        if (!made) std::abort();
        exprSetZeroOnMathError(context, options.zeroOnMathError);
    }
    ~EngineRig() {
        exprFreeContext(context);  // first: its tree points into the tables
        exprFreeFunctionTable(functions);
        exprFreeVarTable(variables);
        exprFreeVarTable(constants);
    }
    EngineRig(const EngineRig&) = delete;
    EngineRig& operator=(const EngineRig&) = delete;

    // The value of a variable or a constant, created at 0.0 when it is new;
    // the reference stays valid for the rig's life.
    double& variable(const char* name) { return valueIn(variables, name); }
    double& constant(const char* name) { return valueIn(constants, name); }

    // Clears the context and parses text, as the module does when a text changes.
    int32_t parse(const char* text) {
        exprClear(context);
        return exprParse(context, text);
    }
    int32_t parse(const std::string& text) { return parse(text.c_str()); }

    // Evaluates what was parsed: the compiled program, or the tree after walkOnly.
    int32_t evaluate(double* value) { return exprEvaluate(context, value); }

    // Drops the compiled program, so that evaluate walks the tree until the next parse.
    void walkOnly() {
        exprFreeProgram(context->program);
        context->program = nullptr;
    }
    // Drops the program's machine code, so that the threaded runner runs it.
    void threadedOnly() { exprDropNativeCode(context->program); }

    // The context's abort callback and its data, which only creation sets.
    void setAbort(AbortCallback abort, void* userData = nullptr) {
        context->abortCallback = abort;
        context->userData = userData;
    }

    NameTable* functions = nullptr;
    NameTable* constants = nullptr;
    NameTable* variables = nullptr;
    ExprContext* context = nullptr;

private:
    static double& valueIn(NameTable* table, const char* name) {
        double* address = nullptr;
        if (exprFindVariable(table, name, &address) != EXPR_OK &&
            (exprSetVariable(table, name, 0.0) != EXPR_OK || exprFindVariable(table, name, &address) != EXPR_OK))
            std::abort();
        return *address;
    }
};

}  // namespace quorvel_test
