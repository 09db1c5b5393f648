/*
 * The compiled form's records, shared by the compiler and runner
 * (program.cpp) and the machine-code translator (native_code.cpp). Internal
 * to engine/.
 */
#ifndef QUORVEL_ENGINE_PROGRAM_H
#define QUORVEL_ENGINE_PROGRAM_H

#include <cstddef>
#include <cstdint>

#include "internal.h"

struct ExprInstruction {
    union {
        ExprOp op;            // as compiled
        const void* handler;  // once linked: the address of op's code in the runner
    };
    // Tick: evaluations; a jump: target index; inside a segment, while
    // compiling: the evaluations counted in the segment before it.
    int32_t count;
    union {
        double value;
        double* address;
        ExprNode* node;
        ExprUnaryCompute compute;
        ExprBinaryCompute compute2;
        int32_t exactCopy;  // Tick: index of the segment's exact copy, or 0
    };
};

// Machine code for one program: an entry with the contract of
// exprRunProgram (the threaded form's runner), except that it starts the
// countdown itself, at the context's check interval, as exprEvaluate would;
// in memory of its own (executable_memory.cpp), never writable while it may
// run. All null when there is none.
typedef int32_t (*ExprNativeEntry)(ExprContext* context, double* result);
struct ExprNativeCode {
    ExprNativeEntry entry;
    void* memory;
    size_t size;
};

// The instructions that read a variable's value (at `address`).
inline bool exprReadsVariable(ExprOp op) {
    return op == ExprOp::Load || op == ExprOp::AddVariable || op == ExprOp::SubVariable || op == ExprOp::MulVariable ||
           op == ExprOp::DivVariable || op == ExprOp::MulVariableAddConstant;
}

struct ExprProgram {
    ExprNativeCode native;
    int32_t length;           // instructions, the exact copies after End included
    ExprInstruction code[1];  // length instructions
};

/* Translates a compiled program, before it is linked, into machine code for
 * the processor this build runs on (native_code.cpp). False, with nothing
 * held, where none can be made: another processor, no executable memory, a
 * program it cannot place. The program then runs as it is. */
bool exprTranslateProgram(ExprProgram* program);
void exprReleaseNativeCode(ExprNativeCode* native);

/* Executable memory (executable_memory.cpp): pages from the operating
 * system, writable until sealed, then only readable and executable; freed
 * with exprUnmapCode. Null or false where the system refuses. */
void* exprMapCode(size_t size);
bool exprSealCode(void* memory, size_t size);
void exprUnmapCode(void* memory, size_t size);

#endif
