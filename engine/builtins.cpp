// The built-in table: one row per built-in function, and one per operator,
// with everything the engine knows of it: its name, callback, bounds on
// value arguments and references, how it reports a math error, and how the
// compiled form runs it (the instruction and the in-place routine).
// exprRegisterBuiltins registers the built-ins from it and the compiler
// reads it; adding a built-in takes its callback and one row.

#include <algorithm>
#include <iterator>

#include "internal.h"
#include "routines.h"

namespace {

using Op = ExprOp;
using Form = ExprCompiledForm;
constexpr ExprMathErrors kNone = ExprMathErrors::None;
constexpr ExprMathErrors kRule = ExprMathErrors::Rule;
constexpr ExprMathErrors kOwnTest = ExprMathErrors::OwnTest;

// Reached only where a row gives an instruction what it cannot run: not a
// constant expression, so such a table does not compile.
inline void rowBreaksItsInstruction() {}

// The compiled forms, as a row spells them; an instruction takes a routine
// exactly when it runs one.
constexpr Form kCalled{Form::Callback, Op::Call, nullptr, nullptr};
constexpr Form kSequence{Form::Sequence, Op::Call, nullptr, nullptr};
constexpr Form kChoice{Form::Choice, Op::Call, nullptr, nullptr};
constexpr Form kLoop{Form::Loop, Op::Call, nullptr, nullptr};
constexpr Form in(Op op) {
    switch (op) {
        case Op::Add:
        case Op::Sub:
        case Op::Mul:
        case Op::Div:
        case Op::Neg:
        case Op::Abs:
        case Op::Equal:
        case Op::Above:
        case Op::Below: break;
        default: rowBreaksItsInstruction();
    }
    return {Form::Instruction, op, nullptr, nullptr};
}
constexpr Form in(Op op, ExprUnaryCompute routine) {
    if (op != Op::Direct && op != Op::Rule) rowBreaksItsInstruction();
    return {Form::Instruction, op, routine, nullptr};
}
constexpr Form in(Op op, ExprBinaryCompute routine) {
    if (op != Op::Direct2 && op != Op::Rule2) rowBreaksItsInstruction();
    return {Form::Instruction, op, nullptr, routine};
}

// The library, in the order of registration, which fixes the shape of the
// function table's tree.
// The rows keep their columns aligned: the formatter leaves them alone.
// clang-format off
constexpr ExprBuiltin kBuiltins[] = {
    // name        callback           values  refs  math errors  compiled form
    // abs runs in place: through a call, 32-bit x86 would quiet a signalling NaN.
    {"abs",        builtinAbs,        1, 1,   0, 0, kNone,    in(Op::Abs)},
    {"mod",        builtinMod,        2, 2,   0, 0, kRule,    in(Op::Rule2, exprBareFmod)},
    {"ipart",      builtinIpart,      1, 1,   0, 0, kRule,    kCalled},
    {"fpart",      builtinFpart,      1, 1,   0, 0, kRule,    kCalled},
    {"min",        builtinMin,        1, -1,  0, 0, kNone,    kCalled},
    {"max",        builtinMax,        1, -1,  0, 0, kNone,    kCalled},
    {"pow",        builtinPow,        2, 2,   0, 0, kRule,    in(Op::Rule2, exprBarePow)},
    {"sqrt",       builtinSqrt,       1, 1,   0, 0, kNone,    in(Op::Direct, exprDirectSqrt)},
    {"sin",        builtinSin,        1, 1,   0, 0, kNone,    in(Op::Direct, exprDirectSin)},
    {"sinh",       builtinSinh,       1, 1,   0, 0, kRule,    in(Op::Rule, exprBareSinh)},
    {"asin",       builtinAsin,       1, 1,   0, 0, kRule,    in(Op::Rule, exprBareAsin)},
    {"cos",        builtinCos,        1, 1,   0, 0, kNone,    in(Op::Direct, exprDirectCos)},
    {"cosh",       builtinCosh,       1, 1,   0, 0, kRule,    in(Op::Rule, exprBareCosh)},
    {"acos",       builtinAcos,       1, 1,   0, 0, kRule,    in(Op::Rule, exprBareAcos)},
    {"tan",        builtinTan,        1, 1,   0, 0, kNone,    in(Op::Direct, exprDirectTan)},
    {"tanh",       builtinTanh,       1, 1,   0, 0, kRule,    in(Op::Rule, exprBareTanh)},
    {"atan",       builtinAtan,       1, 1,   0, 0, kNone,    in(Op::Direct, exprDirectAtan)},
    {"atan2",      builtinAtan2,      2, 2,   0, 0, kNone,    in(Op::Direct2, exprDirectAtan2)},
    {"log",        builtinLog,        1, 1,   0, 0, kNone,    in(Op::Direct, exprDirectLog)},
    {"pow10",      builtinPow10,      1, 1,   0, 0, kRule,    in(Op::Rule, exprBarePow10)},
    {"ln",         builtinLn,         1, 1,   0, 0, kNone,    in(Op::Direct, exprDirectLn)},
    {"exp",        builtinExp,        1, 1,   0, 0, kNone,    in(Op::Direct, exprDirectExp)},
    {"logn",       builtinLogn,       2, 2,   0, 0, kOwnTest, kCalled},
    {"ceil",       builtinCeil,       1, 1,   0, 0, kRule,    in(Op::Rule, exprBareCeil)},
    {"floor",      builtinFloor,      1, 1,   0, 0, kRule,    in(Op::Rule, exprBareFloor)},
    {"rand",       builtinRand,       0, 0,   1, 1, kNone,    kCalled},
    {"random",     builtinRandom,     2, 2,   1, 1, kNone,    kCalled},
    {"randomize",  builtinRandomize,  0, 0,   1, 1, kNone,    kCalled},
    {"deg",        builtinDeg,        1, 1,   0, 0, kNone,    in(Op::Direct, exprDirectDeg)},
    {"rad",        builtinRad,        1, 1,   0, 0, kNone,    in(Op::Direct, exprDirectRad)},
    {"recttopolr", builtinRecttopolr, 2, 2,   0, 0, kNone,    in(Op::Direct2, exprDirectRecttopolr)},
    {"recttopola", builtinRecttopola, 2, 2,   0, 0, kNone,    in(Op::Direct2, exprDirectRecttopola)},
    {"poltorectx", builtinPoltorectx, 2, 2,   0, 0, kNone,    in(Op::Direct2, exprDirectPoltorectx)},
    {"poltorecty", builtinPoltorecty, 2, 2,   0, 0, kNone,    in(Op::Direct2, exprDirectPoltorecty)},
    {"if",         builtinIf,         3, 3,   0, 0, kNone,    kChoice},
    {"select",     builtinSelect,     3, 4,   0, 0, kNone,    kCalled},
    {"equal",      builtinEqual,      2, 2,   0, 0, kNone,    in(Op::Equal)},
    {"above",      builtinAbove,      2, 2,   0, 0, kNone,    in(Op::Above)},
    {"below",      builtinBelow,      2, 2,   0, 0, kNone,    in(Op::Below)},
    {"avg",        builtinAvg,        1, -1,  0, 0, kNone,    kCalled},
    {"clip",       builtinClip,       3, 3,   0, 0, kNone,    kCalled},
    {"clamp",      builtinClamp,      3, 3,   0, 0, kRule,    kCalled},
    {"pntchange",  builtinPntchange,  5, 5,   0, 0, kOwnTest, kCalled},
    {"poly",       builtinPoly,       2, -1,  0, 0, kRule,    kCalled},
    {"and",        builtinAnd,        2, 2,   0, 0, kNone,    kCalled},
    {"or",         builtinOr,         2, 2,   0, 0, kNone,    kCalled},
    {"not",        builtinNot,        1, 1,   0, 0, kNone,    kCalled},
    {"for",        builtinFor,        4, -1,  0, 0, kNone,    kLoop},
    {"many",       builtinMany,       1, -1,  0, 0, kNone,    kSequence},
};

// The operators: the parser builds their calls; they are not registered.
constexpr ExprBuiltin kOperators[] = {
    {"+",          opAdd,             2, 2,   0, 0, kNone,    in(Op::Add)},
    {"-",          opSub,             2, 2,   0, 0, kNone,    in(Op::Sub)},
    {"*",          opMul,             2, 2,   0, 0, kNone,    in(Op::Mul)},
    {"/",          opDiv,             2, 2,   0, 0, kOwnTest, in(Op::Div)},
    {"-",          opNeg,             1, 1,   0, 0, kNone,    in(Op::Neg)},
};
// clang-format on

// An instruction runs a call of exactly its operands, without references,
// and reports math errors as its routine or operation does.
constexpr bool runsAs(const ExprBuiltin& row, int32_t operands, ExprMathErrors errors) {
    return row.minArgs == operands && row.maxArgs == operands && row.minRefs == 0 && row.maxRefs == 0 &&
           row.mathErrors == errors;
}

constexpr bool consistent(const ExprBuiltin& row) {
    if (row.compiled.kind != Form::Instruction) return true;
    switch (row.compiled.instruction) {
        case Op::Neg:
        case Op::Abs:
        case Op::Direct: return runsAs(row, 1, kNone);
        case Op::Rule: return runsAs(row, 1, kRule);
        case Op::Div: return runsAs(row, 2, kOwnTest);
        case Op::Rule2: return runsAs(row, 2, kRule);
        default: return runsAs(row, 2, kNone);
    }
}
static_assert(std::ranges::all_of(kBuiltins, consistent) && std::ranges::all_of(kOperators, consistent));
static_assert(std::size(kBuiltins) == 49);

}  // namespace

extern "C" int32_t exprRegisterBuiltins(NameTable* functions) {
    if (functions == nullptr) return EXPR_ERR_ARGUMENT;
    for (const ExprBuiltin& row : kBuiltins) {
        const int32_t code =
            exprSetFunction(functions, row.function, row.name, row.minArgs, row.maxArgs, row.minRefs, row.maxRefs);
        if (code != EXPR_OK) return code;
    }
    return EXPR_OK;
}

const ExprBuiltin* exprFindBuiltin(ExprFunction function) {
    for (const ExprBuiltin& row : kOperators)
        if (row.function == function) return &row;
    for (const ExprBuiltin& row : kBuiltins)
        if (row.function == function) return &row;
    return nullptr;
}
