/*
 * Operations shared between the engine's own source files. Not part of the
 * interface: callers outside engine/ and tests use expr.h. What both
 * evaluators must agree on (the abort poll, division, the math-error
 * judgement, NaN-stable arithmetic, the truth tests) is in evaluation.h.
 *
 * Where each part lives:
 *   alloc.cpp       the allocator
 *   table.cpp       name tables and the identifier rule
 *   parse.cpp       parsing entry: text preparation, the statement list
 *   split.cpp       the splitting parser; decimal.cpp its number literals
 *   context.cpp     contexts, their trees' release, exprEvaluate, what a
 *                   tree refers to
 *   walk.cpp        the tree walk (exprEvalNode)
 *   program.cpp     the compiled form; its instructions in opcodes.h,
 *                   its records in program.h
 *   native_code.cpp the compiled form as x86 machine code
 *   executable_memory.cpp  pages for that code from the operating system
 *   evaluation.cpp  the abort poll and the math-error judgement
 *   operators.cpp   the operator callbacks and the statement sequence
 *   builtins.cpp    the built-in table: a row per built-in and operator
 *   math.cpp, logic.cpp, random.cpp   the built-ins' callbacks
 *   routines.cpp    the mathematical routines (routines.h)
 *   constants.cpp   the named constants
 */
#ifndef QUORVEL_ENGINE_INTERNAL_H
#define QUORVEL_ENGINE_INTERNAL_H

#include "evaluation.h"
#include "expr.h"
#include "register_double.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef EXPR_ALLOC_HOOKS
/* For the other memory the engine holds (alloc.cpp): whether the hooks
 * refuse this allocation, counted with exprAlloc's; and a block gained or
 * given back, counted with the live blocks. */
int32_t exprHookRefusesAllocation(void);
void exprHookCountBlock(int32_t change);
#endif

/* Entry construction (table.cpp); null when the name breaks the identifier rule or
 * memory runs out. */
VarEntry* exprNewVarEntry(const char* name, double value);
FuncEntry* exprNewFuncEntry(ExprFunction function, const char* name, int32_t minArgs, int32_t maxArgs, int32_t minRefs,
                            int32_t maxRefs);

/* A call of function over args, as the walk (walk.cpp) runs it (the operators and the
 * statement sequence in place), from the context's countdown. */
int32_t exprWalkCall(ExprContext* context, ExprFunction function, ExprNode* args, int32_t argCount, double* result);

/* The routines the compiled form runs in place of a built-in's callback,
 * their doubles in registers (register_double.h). */
typedef ExprRegisterDouble EXPR_REGISTER_CALL (*ExprUnaryCompute)(double);
typedef ExprRegisterDouble EXPR_REGISTER_CALL (*ExprBinaryCompute)(double, double);

/* The compiled form of a parsed tree (program.cpp): the same evaluation, node for node,
 * including the node evaluations at which the abort callback is polled, as
 * a flat program. Null when the tree cannot be compiled or memory runs out;
 * exprEvaluate then walks the tree. */
void* exprCompile(ExprNode* root);
int32_t exprRunProgram(ExprContext* context, const void* program, double* result);
void exprFreeProgram(void* program);
/* Whether a program runs as machine code (native_code.cpp); dropping the
 * code leaves it to the threaded runner. For tests and comparisons. */
int32_t exprHasNativeCode(const void* program);
void exprDropNativeCode(void* program);
/* Compiles the context's freshly parsed tree (context.cpp); called by exprParse on success. */
void exprAttachProgram(ExprContext* context);
/* The program exprCompile makes of a tree, as the names of its instructions
 * up to End, one blank between two (the exact copies after End left out),
 * for tests and dumps. Writes at most size bytes, the zero included, and
 * gives the length of the whole listing; -1 when the tree is not compiled. */
int32_t exprListProgram(ExprNode* root, char* text, int32_t size);

/* The value (decimal.cpp) of a number literal that exprIsNumber accepts, of at most
 * EXPR_MAX_TOKEN characters, correctly rounded; "." is its point whatever
 * the process locale. */
double exprDecimalValue(const char* literal);

/* Text preparation and the statement list (parse.cpp). */
int32_t exprStripText(char* text);
int32_t exprCheckCharacters(const char* text);
int32_t exprParseStatements(ExprContext* context, ExprNode* root, const char* text);

/* The splitting parser (split.cpp) over the inclusive range first..last of the prepared
 * text. Each rule fills the zero-filled node its caller owns. */
int32_t exprParseRange(ExprContext* context, ExprNode* node, const char* text, int32_t first, int32_t last);

#ifdef __cplusplus
}

/* ---- The compiled form's instructions and the built-in table ------------ */

/* The instructions, from the one list in opcodes.h. */
enum class ExprOp : int32_t {
#define OPCODE(name, stack) name,
#include "opcodes.h"
#undef OPCODE
};

/* How a function reports a math error once its arguments are evaluated. */
enum class ExprMathErrors : int8_t {
    None,   /* never: a value out of its domain is NaN or infinite */
    Rule,   /* the math-error rule judges what its routine reports */
    OwnTest /* its own test finds the error (logn, pntchange, a zero divisor) */
};

/* How the compiled form runs a call: in place of the callback where the
 * call's counts are within the row's bounds, otherwise (only a hand-built
 * tree breaks them) through the callback, which reports it. */
struct ExprCompiledForm {
    enum Kind : int8_t {
        Callback,    /* Call: the callback, as the walk calls it */
        Instruction, /* `instruction` over the evaluated arguments */
        Sequence,    /* many: each argument, the last one's value */
        Choice,      /* if: a branch */
        Loop         /* for: a loop that tests at the bottom */
    } kind;
    ExprOp instruction;
    ExprUnaryCompute unary;   /* Direct, Rule: the routine */
    ExprBinaryCompute binary; /* Direct2, Rule2: the routine */
};

/* Everything the engine knows of one callback of its own: a built-in
 * function or an operator. The table is in builtins.cpp. */
struct ExprBuiltin {
    const char* name; /* in the language; an operator's sign */
    ExprFunction function;
    int32_t minArgs, maxArgs; /* value arguments; -1: unbounded */
    int32_t minRefs, maxRefs; /* references (&name) */
    ExprMathErrors mathErrors;
    ExprCompiledForm compiled;
};

/* The row of a callback, built-in or operator; null for any other. */
const ExprBuiltin* exprFindBuiltin(ExprFunction function);

#endif

#endif
