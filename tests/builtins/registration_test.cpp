// Registration of the 49 built-ins and the 14 constants: names, callbacks,
// bounds, exact values, behaviour when memory runs out, and one text that
// calls every function.

#include <algorithm>
#include <string>
#include <vector>

#include "builtins/library.h"

using namespace quorvel_test;

namespace {

struct Row {
    const char* name;
    ExprFunction function;
    int32_t minArgs, maxArgs, minRefs, maxRefs;
};

// Written from the library's documentation, independently of builtins.cpp, so
// that a row with the wrong callback or bounds shows.
const std::vector<Row>& expectedRows() {
    static const std::vector<Row> rows = {
        {"abs", builtinAbs, 1, 1, 0, 0},
        {"mod", builtinMod, 2, 2, 0, 0},
        {"ipart", builtinIpart, 1, 1, 0, 0},
        {"fpart", builtinFpart, 1, 1, 0, 0},
        {"min", builtinMin, 1, -1, 0, 0},
        {"max", builtinMax, 1, -1, 0, 0},
        {"pow", builtinPow, 2, 2, 0, 0},
        {"sqrt", builtinSqrt, 1, 1, 0, 0},
        {"sin", builtinSin, 1, 1, 0, 0},
        {"sinh", builtinSinh, 1, 1, 0, 0},
        {"asin", builtinAsin, 1, 1, 0, 0},
        {"cos", builtinCos, 1, 1, 0, 0},
        {"cosh", builtinCosh, 1, 1, 0, 0},
        {"acos", builtinAcos, 1, 1, 0, 0},
        {"tan", builtinTan, 1, 1, 0, 0},
        {"tanh", builtinTanh, 1, 1, 0, 0},
        {"atan", builtinAtan, 1, 1, 0, 0},
        {"atan2", builtinAtan2, 2, 2, 0, 0},
        {"log", builtinLog, 1, 1, 0, 0},
        {"pow10", builtinPow10, 1, 1, 0, 0},
        {"ln", builtinLn, 1, 1, 0, 0},
        {"exp", builtinExp, 1, 1, 0, 0},
        {"logn", builtinLogn, 2, 2, 0, 0},
        {"ceil", builtinCeil, 1, 1, 0, 0},
        {"floor", builtinFloor, 1, 1, 0, 0},
        {"rand", builtinRand, 0, 0, 1, 1},
        {"random", builtinRandom, 2, 2, 1, 1},
        {"randomize", builtinRandomize, 0, 0, 1, 1},
        {"deg", builtinDeg, 1, 1, 0, 0},
        {"rad", builtinRad, 1, 1, 0, 0},
        {"recttopolr", builtinRecttopolr, 2, 2, 0, 0},
        {"recttopola", builtinRecttopola, 2, 2, 0, 0},
        {"poltorectx", builtinPoltorectx, 2, 2, 0, 0},
        {"poltorecty", builtinPoltorecty, 2, 2, 0, 0},
        {"if", builtinIf, 3, 3, 0, 0},
        {"select", builtinSelect, 3, 4, 0, 0},
        {"equal", builtinEqual, 2, 2, 0, 0},
        {"above", builtinAbove, 2, 2, 0, 0},
        {"below", builtinBelow, 2, 2, 0, 0},
        {"avg", builtinAvg, 1, -1, 0, 0},
        {"clip", builtinClip, 3, 3, 0, 0},
        {"clamp", builtinClamp, 3, 3, 0, 0},
        {"pntchange", builtinPntchange, 5, 5, 0, 0},
        {"poly", builtinPoly, 2, -1, 0, 0},
        {"and", builtinAnd, 2, 2, 0, 0},
        {"or", builtinOr, 2, 2, 0, 0},
        {"not", builtinNot, 1, 1, 0, 0},
        {"for", builtinFor, 4, -1, 0, 0},
        {"many", builtinMany, 1, -1, 0, 0},
    };
    return rows;
}

template <typename Entry> int countIn(const Entry* entry) {
    return entry == nullptr ? 0 : 1 + countIn(entry->left) + countIn(entry->right);
}
int countFunctions(NameTable* table) {
    return countIn(static_cast<const FuncEntry*>(table->root));
}
int countVariables(NameTable* table) {
    return countIn(static_cast<const VarEntry*>(table->root));
}

bool isRegistered(NameTable* table, const char* name) {
    ExprFunction function = nullptr;
    int32_t a, b, c, d;
    return exprFindFunction(table, &function, name, &a, &b, &c, &d) == EXPR_OK;
}

TEST(Registration, EveryRowHasItsCallbackAndBounds) {
    Library library;
    ASSERT_EQ(expectedRows().size(), 49u);
    EXPECT_EQ(countFunctions(library.functions), 49);
    for (const Row& row : expectedRows()) {
        ExprFunction function = nullptr;
        int32_t minArgs = 99, maxArgs = 99, minRefs = 99, maxRefs = 99;
        ASSERT_EQ(exprFindFunction(library.functions, &function, row.name, &minArgs, &maxArgs, &minRefs, &maxRefs),
                  EXPR_OK)
            << row.name;
        EXPECT_EQ(function, row.function) << row.name;
        EXPECT_EQ(minArgs, row.minArgs) << row.name;
        EXPECT_EQ(maxArgs, row.maxArgs) << row.name;
        EXPECT_EQ(minRefs, row.minRefs) << row.name;
        EXPECT_EQ(maxRefs, row.maxRefs) << row.name;
    }
}

TEST(Registration, NamesAreCaseSensitive) {
    Library library;
    for (const char* name : {"ABS", "Abs", "IF", "Many", "M_PI"})
        EXPECT_FALSE(isRegistered(library.functions, name)) << name;
}

TEST(Registration, NullTablesAreRefused) {
    EXPECT_EQ(exprRegisterBuiltins(nullptr), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprRegisterConstants(nullptr), EXPR_ERR_ARGUMENT);
}

TEST(Registration, RegisteringAgainOverwritesInPlace) {
    Library library;
    ASSERT_EQ(exprSetFunction(library.functions, builtinNot, "abs", 0, 0, 0, 0), EXPR_OK);
    ASSERT_EQ(exprSetVariable(library.constants, "M_PI", 3.0), EXPR_OK);
    EXPECT_EQ(exprRegisterBuiltins(library.functions), EXPR_OK);
    EXPECT_EQ(exprRegisterConstants(library.constants), EXPR_OK);
    EXPECT_EQ(countFunctions(library.functions), 49);
    EXPECT_TRUE(sameValue(library.run("abs(-3);").value, 3.0));
    EXPECT_TRUE(sameValue(library.run("M_PI;").value, fromBits(0x400921FB54442D18)));
}

TEST(Registration, ConstantsAreExact) {
    struct Constant {
        const char* name;
        uint64_t bits;
    };
    const Constant constants[] = {
        {"M_E", 0x4005BF0A8B145769},     {"M_LOG2E", 0x3FF71547652B82FE},    {"M_LOG10E", 0x3FDBCB7B1526E50E},
        {"M_LN2", 0x3FE62E42FEFA39EF},   {"M_LN10", 0x40026BB1BBB55516},     {"M_PI", 0x400921FB54442D18},
        {"M_PI_2", 0x3FF921FB54442D18},  {"M_PI_4", 0x3FE921FB54442D18},     {"M_1_PI", 0x3FD45F306DC9C883},
        {"M_2_PI", 0x3FE45F306DC9C883},  {"M_1_SQRTPI", 0x3FE20DD750429B8F}, {"M_2_SQRTPI", 0x3FF20DD750429B6D},
        {"M_SQRT2", 0x3FF6A09E667F3BCD}, {"M_1_SQRT2", 0x3FE6A09E667F3BCD},
    };
    Library library;
    EXPECT_EQ(countVariables(library.constants), 14);
    for (const Constant& constant : constants) {
        double* value = nullptr;
        ASSERT_EQ(exprFindVariable(library.constants, constant.name, &value), EXPR_OK) << constant.name;
        EXPECT_EQ(bitsOf(*value), constant.bits) << constant.name;
        EXPECT_TRUE(sameValue(library.run(std::string(constant.name) + ";").value, fromBits(constant.bits)))
            << constant.name;
    }
    // The one constant that is not the double nearest its meaning.
    EXPECT_NE(library.run("M_1_SQRTPI * 2;").value, library.run("M_2_SQRTPI;").value);
}

// Each row or constant costs two allocations (entry and name copy): the
// failure at allocation n keeps the rows before it and leaks nothing.
TEST(Registration, AllocationFailureKeepsEarlierRowsAndLeaksNothing) {
    const int32_t start = exprLiveBlocks();
    for (int32_t n = 1;; ++n) {
        NameTable* table = nullptr;
        ASSERT_EQ(exprNewTable(&table), EXPR_OK);
        exprFailAllocation(n, 0);
        const int32_t code = exprRegisterBuiltins(table);
        exprFailAllocation(0, 0);
        if (code == EXPR_OK) {
            EXPECT_EQ(n, 2 * 49 + 1);
            EXPECT_EQ(countFunctions(table), 49);
            exprFreeFunctionTable(table);
            break;
        }
        ASSERT_EQ(code, EXPR_ERR_MEMORY) << n;
        const int kept = (n - 1) / 2;
        EXPECT_EQ(countFunctions(table), kept) << n;
        for (int i = 0; i < kept; ++i) EXPECT_TRUE(isRegistered(table, expectedRows()[i].name)) << n;
        EXPECT_FALSE(isRegistered(table, expectedRows()[kept].name)) << n;
        exprFreeFunctionTable(table);
        ASSERT_EQ(exprLiveBlocks(), start) << n;
    }
    EXPECT_EQ(exprLiveBlocks(), start);
}

TEST(Registration, ConstantAllocationFailureKeepsEarlierConstants) {
    const int32_t start = exprLiveBlocks();
    for (int32_t n = 1;; ++n) {
        NameTable* table = nullptr;
        ASSERT_EQ(exprNewTable(&table), EXPR_OK);
        exprFailAllocation(n, 0);
        const int32_t code = exprRegisterConstants(table);
        exprFailAllocation(0, 0);
        const int entries = countVariables(table);
        exprFreeVarTable(table);
        ASSERT_EQ(exprLiveBlocks(), start) << n;
        if (code == EXPR_OK) {
            EXPECT_EQ(n, 2 * 14 + 1);
            EXPECT_EQ(entries, 14);
            break;
        }
        ASSERT_EQ(code, EXPR_ERR_MEMORY) << n;
        EXPECT_EQ(entries, (n - 1) / 2) << n;
    }
}

// The parser checks calls against the registered bounds.
TEST(Registration, BoundsReachTheParser) {
    Library library;
    const char* refused[] = {"abs();",        "abs(1, 2);",    "select(1, 2);", "select(1, 2, 3, 4, 5);",
                             "rand();",       "rand(1);",      "rand(&a, &b);", "random(1, &s);",
                             "randomize(1);", "for(1, 2, 3);", "poly(1);",      "pntchange(1, 2, 3, 4);",
                             "many();",       "abs(&a);",      "min();"};
    for (const char* text : refused) EXPECT_EQ(library.parseCode(text), EXPR_ERR_ARG_COUNT) << text;
    EXPECT_EQ(library.parseCode("rand(&M_PI);"), EXPR_ERR_CONST_REF);
    EXPECT_EQ(library.parseCode("ABS(1);"), EXPR_ERR_UNKNOWN_FUNCTION);
    EXPECT_EQ(library.parseCode("min(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12);"), EXPR_OK);
}

TEST(Registration, OneTextCallsEveryFunction) {
    Library library;
    const Outcome outcome = library.run(
        "a = abs(-1) + mod(7, 3) + ipart(1.5) + fpart(1.5) + min(1, 2) + max(1, 2) + pow(2, 3) + sqrt(4);"
        "b = sin(0) + sinh(0) + asin(0) + cos(0) + cosh(0) + acos(1) + tan(0) + tanh(0) + atan(0) + atan2(0, 1);"
        "c = log(10) + pow10(1) + ln(1) + exp(0) + logn(8, 2) + ceil(0.5) + floor(0.5);"
        "d = rand(&s) + random(0, 1, &s) + randomize(&t) + deg(0) + rad(0);"
        "e = recttopolr(3, 4) + recttopola(1, 0) + poltorectx(1, 0) + poltorecty(1, 0);"
        "f = if(1, 2, 3) + select(1, 2, 3, 4) + equal(1, 1) + above(2, 1) + below(1, 2) + avg(1, 3);"
        "g = clip(5, 0, 10) + clamp(12, 0, 10) + pntchange(0, 10, 0, 100, 5) + poly(2, 1, 0);"
        "h = and(1, 1) + or(0, 1) + not(0) + for(i = 0, below(i, 3), i = i + 1, i);"
        "many(a, b, c, d, e, f, g, h);");
    ASSERT_EQ(outcome.code, EXPR_OK);
    EXPECT_TRUE(sameValue(library.variable("a"), 1 + 1 + 1 + 0.5 + 1 + 2 + 8 + 2.0));
    EXPECT_TRUE(sameValue(library.variable("b"), 2.0));
    EXPECT_TRUE(withinOneUlp(library.variable("c"), 1 + 10 + 0 + 1 + 3 + 1 + 0.0));
    EXPECT_TRUE(sameValue(library.variable("e"), 5 + 0 + 1 + 0.0));
    EXPECT_TRUE(sameValue(library.variable("f"), 2 + 4 + 1 + 1 + 1 + 2.0));
    EXPECT_TRUE(sameValue(library.variable("g"), 5 + 2 + 50 + 2.0));
    EXPECT_TRUE(sameValue(outcome.value, 1 + 1 + 1 + 2.0));
    EXPECT_NE(library.variable("s"), 0.0);
}

// Every function with value arguments passes up the code of a failing
// argument, whichever it is, unchanged and evaluates nothing after it; the
// seed of random is not stepped. Three arguments where the count is
// unbounded. if, select and for, which choose what they evaluate, have
// their own cases in logic_test.cpp.
TEST(Registration, EveryFunctionPassesUpArgumentErrors) {
    for (const Row& row : expectedRows()) {
        const std::string name = row.name;
        if (row.minArgs < 1 || name == "if" || name == "select" || name == "for") continue;
        const int32_t count = row.maxArgs < 0 ? std::max(row.minArgs, 3) : row.minArgs;
        for (int32_t failing = 0; failing < count; ++failing) {
            std::string text = name + "(";
            for (int32_t i = 0; i < count; ++i) text += i < failing ? "1, " : i == failing ? "1/0" : ", hit = 1";
            for (int32_t i = 0; i < row.minRefs; ++i) text += ", &s";
            text += ");";
            for (bool walked : {false, true}) {
                Library library;
                EXPECT_EQ(library.run(text, 0, nullptr, walked).code, EXPR_ERR_DIVIDE_BY_ZERO)
                    << text << " walked " << walked;
                EXPECT_EQ(library.variable("hit"), 0.0) << text;
                EXPECT_EQ(library.variable("s"), 0.0) << text;
            }
        }
    }
}

}  // namespace
