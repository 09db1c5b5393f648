/*
 * Quorvel expression engine: the one interface header.
 *
 * Plain functions over plain records. Every operation returns a result code
 * (EXPR_OK or an EXPR_ERR_ value) and delivers its results through
 * out-parameters; nothing throws, nothing logs, nothing keeps global state
 * besides the C library's errno. The header compiles as C11 and as C++20.
 *
 * Ownership in one paragraph: a NameTable owns its entries and a private copy
 * of every name; a context owns its tree and borrows its three tables (their
 * owner frees them after every context using them); a call node owns its
 * argument array and its reference array, an assignment node its child.
 * Addresses of values handed out by a table stay valid until it is freed.
 */
#ifndef QUORVEL_ENGINE_EXPR_H
#define QUORVEL_ENGINE_EXPR_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------ */

enum {
    EXPR_OK = 0,
    EXPR_ERR_MEMORY = 1,            /* allocation failed, or a new name broke the identifier rule */
    EXPR_ERR_ARGUMENT = 2,          /* a required table, context, node, text or out-pointer is null */
    EXPR_ERR_NOT_FOUND = 3,         /* name null, empty or not in the table */
    EXPR_ERR_COMMENT = 4,           /* comment brackets do not balance */
    EXPR_ERR_CHARACTER = 5,         /* a character outside the expression alphabet */
    EXPR_ERR_FAILED = 8,            /* the context holds a failed parse; clear it first */
    EXPR_ERR_BUSY = 9,              /* the context holds a parsed expression; clear it first */
    EXPR_ERR_EMPTY = 10,            /* nothing left after blanks and comments */
    EXPR_ERR_PARENTHESES = 11,      /* parentheses do not balance */
    EXPR_ERR_SYNTAX = 12,           /* malformed statement, operator, call or reference; nesting too deep */
    EXPR_ERR_SEMICOLON = 13,        /* the last statement is not closed by ";" */
    EXPR_ERR_TOKEN = 14,            /* malformed name or number, or longer than 255 characters */
    EXPR_ERR_UNKNOWN_FUNCTION = 15, /* call of a name that is not in the function table */
    EXPR_ERR_ARG_COUNT = 16,        /* argument or reference count outside the function's bounds */
    EXPR_ERR_NOT_READY = 17,        /* the context holds no successfully parsed expression */
    EXPR_ERR_MATH = 19,             /* domain or range error without zero-on-math-error */
    EXPR_ERR_DIVIDE_BY_ZERO = 20,   /* division by zero without zero-on-math-error */
    EXPR_ERR_NO_VARIABLES = 21,     /* a variable is needed and the context has no variable table */
    EXPR_ERR_ABORTED = 22,          /* the abort callback asked the evaluation to stop */
    EXPR_ERR_CONST_ASSIGN = 23,     /* assignment to a constant */
    EXPR_ERR_CONST_REF = 24,        /* reference to a constant */
    EXPR_ERR_INTERNAL = 255         /* malformed tree or inconsistent text range */
};

/* ---- Limits ------------------------------------------------------------ */

enum {
    /* Longest name or number literal, in characters. */
    EXPR_MAX_TOKEN = 255,
    /* Deepest nesting the parser accepts. A statement's top node stands at
     * level 1 and every operand, argument, assignment value or parenthesised
     * group stands one level below what contains it; a node that would stand
     * below this level makes the parse fail with EXPR_ERR_SYNTAX. It keeps
     * parsing, evaluating and freeing within a small thread stack. */
    EXPR_MAX_DEPTH = 256,
    /* Node evaluations between two polls of the abort callback. */
    EXPR_CHECK_INTERVAL = 100000
};

/* ---- Records ----------------------------------------------------------- */

typedef struct ExprContext ExprContext;
typedef struct ExprNode ExprNode;

/* Every operator and built-in function. It evaluates its own arguments with
 * exprEvalNode, returns the first nonzero code unchanged, and writes *result
 * only on EXPR_OK. refs[i] is the address of a referenced variable's value. */
typedef int32_t (*ExprFunction)(ExprContext* context, ExprNode* args, int32_t argCount, double** refs, int32_t refCount,
                                double* result);

/* Polled during evaluation on the evaluating thread; nonzero asks to stop. */
typedef int32_t (*AbortCallback)(ExprContext* context);

/* A table: variables and constants hold VarEntry records, functions
 * FuncEntry records, never both. An unbalanced binary search tree keyed by
 * byte-wise name comparison; entries are never moved or removed singly. */
typedef struct NameTable {
    void* root; /* root entry, null while empty */
} NameTable;

typedef struct VarEntry {
    char* name;             /* owned copy */
    double value;           /* its address is stable for the table's life */
    struct VarEntry* left;  /* names that compare less */
    struct VarEntry* right; /* names that compare greater */
} VarEntry;

typedef struct FuncEntry {
    char* name; /* owned copy */
    ExprFunction function;
    int32_t minArgs, maxArgs; /* value-argument bounds; negative = unbounded */
    int32_t minRefs, maxRefs; /* reference bounds; negative = unbounded */
    struct FuncEntry* left;
    struct FuncEntry* right;
} FuncEntry;

enum {
    NODE_CONSTANT = 1, /* value */
    NODE_VARIABLE = 2, /* valuePtr */
    NODE_CALL = 3,     /* function, args, argCount, refs, refCount */
    NODE_ASSIGN = 4    /* target, child */
};

/* One tree node. Kind 0 is a node as allocated: it owns nothing. Argument
 * nodes of a call lie side by side in one block owned by the call. */
struct ExprNode {
    int32_t kind;
    union {
        double value;
        double* valuePtr;
        struct {
            ExprFunction function;
            ExprNode* args; /* argCount nodes, null when argCount is 0 */
            int32_t argCount;
            double** refs; /* refCount addresses, null when refCount is 0 */
            int32_t refCount;
        };
        struct {
            double* target;
            ExprNode* child; /* separately allocated */
        };
    };
};

struct ExprContext {
    NameTable* functions; /* borrowed, may be null */
    NameTable* variables; /* borrowed, may be null */
    NameTable* constants; /* borrowed, may be null */
    ExprNode* root;       /* owned tree; null when Empty */
    int32_t reserved;     /* stored, never read */
    AbortCallback abortCallback;
    void* userData;
    int32_t parsed;          /* 1 while Ready */
    int32_t failed;          /* 1 while Failed (partial tree kept) */
    int32_t zeroOnMathError; /* nonzero: math errors and x/0 give 0.0 */
    int32_t checkInterval;   /* node evaluations between abort polls */
    int32_t countdown;       /* node evaluations left before the next poll */
    void* program;           /* engine-private: the tree compiled for exprEvaluate; owned */
    /* Engine-private: where the last failed parse stopped, in the text as
     * prepared (blanks and comments removed), for exprParseWithReport. */
    int32_t failFirst, failLast; /* the culprit's first and last prepared position; -1 none */
    int32_t failStatement;       /* 0-based statement of the failure; -1 none */
};

/* ---- Allocation and names ---------------------------------------------- */

void* exprAlloc(size_t size); /* zero-filled, or null */
void exprDealloc(void* block);
int32_t exprIsIdentifier(const char* text);

/* ---- Tables ------------------------------------------------------------ */

int32_t exprNewTable(NameTable** table);
int32_t exprFreeVarTable(NameTable* table);
int32_t exprFreeFunctionTable(NameTable* table);
int32_t exprSetVariable(NameTable* table, const char* name, double value);
int32_t exprFindVariable(NameTable* table, const char* name, double** value);
int32_t exprSetFunction(NameTable* table, ExprFunction function, const char* name, int32_t minArgs, int32_t maxArgs,
                        int32_t minRefs, int32_t maxRefs);
int32_t exprFindFunction(NameTable* table, ExprFunction* function, const char* name, int32_t* minArgs, int32_t* maxArgs,
                         int32_t* minRefs, int32_t* maxRefs);

/* ---- Contexts and evaluation ------------------------------------------- */

int32_t exprNewContext(ExprContext** context, NameTable* functions, NameTable* variables, NameTable* constants,
                       int32_t reserved, AbortCallback abortCallback, void* userData);
int32_t exprFreeContext(ExprContext* context);
int32_t exprClear(ExprContext* context);
int32_t exprParse(ExprContext* context, const char* text);

/* Where a parse failed, in the caller's own text. */
typedef struct ExprParseReport {
    int32_t code;      /* the result code, as exprParse returns it */
    int32_t offset;    /* byte offset of the culprit in the text given (blanks and comments counted); -1 when
                          the failure has no place (success, a null text, a busy context, memory) */
    int32_t length;    /* its length in bytes: at least 1, or 0 for an empty text */
    int32_t statement; /* 0-based index of the statement it stands in; -1 when none */
} ExprParseReport;

/* Parses exactly as exprParse does (same code, tree, variables and context
 * state) and fills *report when report is not null. */
int32_t exprParseWithReport(ExprContext* context, const char* text, ExprParseReport* report);
int32_t exprEvaluate(ExprContext* context, double* result);

/* exprEvaluate for what the context holds now, as a function for a loop to
 * call: the text's machine code itself where it has some (exprEvaluate's
 * checks of the context done once, here), exprEvaluate otherwise. Called
 * as exprEvaluate is, with this context; valid until the context is parsed
 * again, cleared or freed. */
typedef int32_t (*ExprEvaluator)(ExprContext* context, double* result);
ExprEvaluator exprEvaluator(ExprContext* context);
int32_t exprEvalNode(ExprContext* context, ExprNode* node, double* result);
void exprFreeNode(ExprNode* node);

/* 1 when the context's tree (a failed parse's partial tree included) reads,
 * assigns or references (&name) the value at this address, a variable's
 * from its table; otherwise 0. Walks the whole tree: for the control side,
 * after a parse, not for every evaluation. */
int32_t exprRefersToValue(const ExprContext* context, const double* value);

NameTable* exprFunctions(ExprContext* context);
NameTable* exprVariables(ExprContext* context);
NameTable* exprConstants(ExprContext* context);
void* exprUserData(ExprContext* context);
int32_t exprZeroOnMathError(ExprContext* context);
void exprSetZeroOnMathError(ExprContext* context, int32_t flag);
int32_t exprPollAbort(ExprContext* context);

/* 1 when the whole text is a number literal: digits with at most one ".". */
int32_t exprIsNumber(const char* text);

/* ---- Built-in library -------------------------------------------------- */

int32_t exprRegisterBuiltins(NameTable* functions);
int32_t exprRegisterConstants(NameTable* table);

#define EXPR_DECLARE_FUNCTION(name)                                                                       \
    int32_t name(ExprContext* context, ExprNode* args, int32_t argCount, double** refs, int32_t refCount, \
                 double* result)

/* Operators, built by the parser; not entries of the function table. */
EXPR_DECLARE_FUNCTION(opAdd);
EXPR_DECLARE_FUNCTION(opSub);
EXPR_DECLARE_FUNCTION(opMul);
EXPR_DECLARE_FUNCTION(opDiv);
EXPR_DECLARE_FUNCTION(opNeg);

/* Statement sequence: the root of every parsed text, and "many". */
EXPR_DECLARE_FUNCTION(builtinMany);

/* Mathematics. */
EXPR_DECLARE_FUNCTION(builtinAbs);
EXPR_DECLARE_FUNCTION(builtinMod);
EXPR_DECLARE_FUNCTION(builtinIpart);
EXPR_DECLARE_FUNCTION(builtinFpart);
EXPR_DECLARE_FUNCTION(builtinPow);
EXPR_DECLARE_FUNCTION(builtinSqrt);
EXPR_DECLARE_FUNCTION(builtinSin);
EXPR_DECLARE_FUNCTION(builtinSinh);
EXPR_DECLARE_FUNCTION(builtinAsin);
EXPR_DECLARE_FUNCTION(builtinCos);
EXPR_DECLARE_FUNCTION(builtinCosh);
EXPR_DECLARE_FUNCTION(builtinAcos);
EXPR_DECLARE_FUNCTION(builtinTan);
EXPR_DECLARE_FUNCTION(builtinTanh);
EXPR_DECLARE_FUNCTION(builtinAtan);
EXPR_DECLARE_FUNCTION(builtinAtan2);
EXPR_DECLARE_FUNCTION(builtinLog);
EXPR_DECLARE_FUNCTION(builtinPow10);
EXPR_DECLARE_FUNCTION(builtinLn);
EXPR_DECLARE_FUNCTION(builtinExp);
EXPR_DECLARE_FUNCTION(builtinLogn);
EXPR_DECLARE_FUNCTION(builtinCeil);
EXPR_DECLARE_FUNCTION(builtinFloor);
EXPR_DECLARE_FUNCTION(builtinDeg);
EXPR_DECLARE_FUNCTION(builtinRad);
EXPR_DECLARE_FUNCTION(builtinRecttopolr);
EXPR_DECLARE_FUNCTION(builtinRecttopola);
EXPR_DECLARE_FUNCTION(builtinPoltorectx);
EXPR_DECLARE_FUNCTION(builtinPoltorecty);

/* Logic, selection, aggregates and the loop. */
EXPR_DECLARE_FUNCTION(builtinMin);
EXPR_DECLARE_FUNCTION(builtinMax);
EXPR_DECLARE_FUNCTION(builtinIf);
EXPR_DECLARE_FUNCTION(builtinSelect);
EXPR_DECLARE_FUNCTION(builtinEqual);
EXPR_DECLARE_FUNCTION(builtinAbove);
EXPR_DECLARE_FUNCTION(builtinBelow);
EXPR_DECLARE_FUNCTION(builtinAvg);
EXPR_DECLARE_FUNCTION(builtinClip);
EXPR_DECLARE_FUNCTION(builtinClamp);
EXPR_DECLARE_FUNCTION(builtinPntchange);
EXPR_DECLARE_FUNCTION(builtinPoly);
EXPR_DECLARE_FUNCTION(builtinAnd);
EXPR_DECLARE_FUNCTION(builtinOr);
EXPR_DECLARE_FUNCTION(builtinNot);
EXPR_DECLARE_FUNCTION(builtinFor);

/* Pseudo-random streams; the seed is the referenced variable. */
EXPR_DECLARE_FUNCTION(builtinRand);
EXPR_DECLARE_FUNCTION(builtinRandom);
EXPR_DECLARE_FUNCTION(builtinRandomize);

/* One generator step: replaces *seed, returns 0 ... 32767. */
int32_t nextRandom(double* seed);

/* ---- Allocation failure on demand (test builds only) -------------------- */

#ifdef EXPR_ALLOC_HOOKS
/* Make allocation number n (1 = the next one) fail; with persistent nonzero
 * every later allocation fails too. n = 0 switches failures off. */
void exprFailAllocation(int32_t n, int32_t persistent);
/* Allocations attempted since the last exprFailAllocation. */
int32_t exprAllocationCount(void);
/* Blocks handed out by exprAlloc and not yet released. */
int32_t exprLiveBlocks(void);
#endif

#ifdef __cplusplus
}
#endif

#endif
