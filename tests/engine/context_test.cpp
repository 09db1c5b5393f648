// Contexts and the evaluator over hand-built trees: states, operators,
// division, assignment, the abort countdown, malformed trees, freeing.

#include <gtest/gtest.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>

#include "engine/expr.h"
#include "engine/internal.h"
#include "support/tree.h"

using namespace quorvel_test;

namespace {

struct AbortProbe {
    int calls = 0;
    int32_t answer = 0;
};

int32_t countingAbort(ExprContext* context) {
    AbortProbe* probe = static_cast<AbortProbe*>(exprUserData(context));
    ++probe->calls;
    return probe->answer;
}

// A context over one variable table, optionally with an abort probe.
struct Fixture {
    NameTable* variables = nullptr;
    ExprContext* context = nullptr;
    AbortProbe probe;
    explicit Fixture(bool withAbort = false) {
        EXPECT_EQ(exprNewTable(&variables), EXPR_OK);
        EXPECT_EQ(exprNewContext(&context, nullptr, variables, nullptr, 0, withAbort ? countingAbort : nullptr, &probe),
                  EXPR_OK);
    }
    ~Fixture() {
        exprFreeContext(context);
        exprFreeVarTable(variables);
    }
    double* variable(const char* name, double value = 0.0) {
        double* address = nullptr;
        EXPECT_EQ(exprSetVariable(variables, name, value), EXPR_OK);
        EXPECT_EQ(exprFindVariable(variables, name, &address), EXPR_OK);
        return address;
    }
    ExprNode* root() {
        ExprNode* node = newRoot();
        adoptTree(context, node);
        return node;
    }
};

TEST(Context, CreationAndAccessors) {
    NameTable tables[3] = {};
    int user = 0;
    ExprContext* context = nullptr;
    ASSERT_EQ(exprNewContext(&context, &tables[0], &tables[1], &tables[2], 7, countingAbort, &user), EXPR_OK);
    EXPECT_EQ(exprFunctions(context), &tables[0]);
    EXPECT_EQ(exprVariables(context), &tables[1]);
    EXPECT_EQ(exprConstants(context), &tables[2]);
    EXPECT_EQ(exprUserData(context), &user);
    EXPECT_EQ(context->reserved, 7);
    EXPECT_EQ(context->checkInterval, 100000);
    EXPECT_EQ(context->countdown, 0);
    EXPECT_EQ(context->root, nullptr);
    EXPECT_EQ(context->parsed + context->failed + context->zeroOnMathError, 0);
    exprSetZeroOnMathError(context, 5);
    EXPECT_EQ(exprZeroOnMathError(context), 5);
    exprFreeContext(context);

    EXPECT_EQ(exprFunctions(nullptr), nullptr);
    EXPECT_EQ(exprVariables(nullptr), nullptr);
    EXPECT_EQ(exprConstants(nullptr), nullptr);
    EXPECT_EQ(exprUserData(nullptr), nullptr);
    EXPECT_EQ(exprZeroOnMathError(nullptr), 0);
    EXPECT_EQ(exprPollAbort(nullptr), 0);
    exprSetZeroOnMathError(nullptr, 1);
    EXPECT_EQ(exprClear(nullptr), EXPR_OK);
    EXPECT_EQ(exprFreeContext(nullptr), EXPR_OK);
    EXPECT_EQ(exprNewContext(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr), EXPR_ERR_ARGUMENT);
}

TEST(Context, CreationFailureLeavesOutParameterAndNoBlock) {
    const int32_t live = exprLiveBlocks();
    ExprContext* context = reinterpret_cast<ExprContext*>(&context);
    ExprContext* const sentinel = context;
    exprFailAllocation(1, 0);
    EXPECT_EQ(exprNewContext(&context, nullptr, nullptr, nullptr, 0, nullptr, nullptr), EXPR_ERR_MEMORY);
    exprFailAllocation(0, 0);
    EXPECT_EQ(context, sentinel);
    EXPECT_EQ(exprLiveBlocks(), live);
}

TEST(Evaluate, NotReadyStatesAndNullArguments) {
    Fixture f;
    double result = 0.0;
    EXPECT_EQ(exprEvaluate(f.context, &result), EXPR_ERR_NOT_READY);
    EXPECT_EQ(exprEvaluate(nullptr, &result), EXPR_ERR_ARGUMENT);
    makeConstant(f.root(), 4.0);
    EXPECT_EQ(exprEvaluate(f.context, nullptr), EXPR_ERR_ARGUMENT);
    ASSERT_EQ(exprEvaluate(f.context, &result), EXPR_OK);
    EXPECT_EQ(result, 4.0);
    f.context->failed = 1;
    f.context->parsed = 0;
    EXPECT_EQ(exprEvaluate(f.context, &result), EXPR_ERR_NOT_READY);
    // Marked ready by hand without a tree.
    ExprNode* root = f.context->root;
    f.context->root = nullptr;
    f.context->failed = 0;
    f.context->parsed = 1;
    EXPECT_EQ(exprEvaluate(f.context, &result), EXPR_ERR_NOT_READY);
    f.context->root = root;
    EXPECT_EQ(exprClear(f.context), EXPR_OK);
    EXPECT_EQ(f.context->root, nullptr);
    EXPECT_EQ(f.context->parsed + f.context->failed, 0);
    EXPECT_EQ(exprEvaluate(f.context, &result), EXPR_ERR_NOT_READY);
    EXPECT_EQ(exprEvalNode(nullptr, nullptr, &result), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprEvalNode(f.context, nullptr, &result), EXPR_ERR_ARGUMENT);
}

TEST(Operators, ArithmeticOverConstants) {
    struct Case {
        ExprFunction op;
        std::initializer_list<double> operands;
        double expected;
    };
    const Case cases[] = {
        {opAdd, {2.0, 3.0}, 5.0},
        {opSub, {2.0, 3.0}, -1.0},
        {opMul, {2.5, -4.0}, -10.0},
        {opDiv, {1.0, 4.0}, 0.25},
        {opNeg, {3.0}, -3.0},
        {builtinMany, {1.0, 2.0, 3.0}, 3.0},
        {opDiv, {1e308, 1e-308}, std::numeric_limits<double>::infinity()},
    };
    for (const Case& c : cases) {
        Fixture f;
        makeCallOf(f.root(), c.op, c.operands);
        double result = 0.0;
        ASSERT_EQ(exprEvaluate(f.context, &result), EXPR_OK);
        EXPECT_EQ(result, c.expected);
    }
}

TEST(Operators, NegationFlipsTheSignOfZeroAndNaN) {
    for (double operand : {0.0, std::numeric_limits<double>::quiet_NaN()}) {
        Fixture f;
        makeCallOf(f.root(), opNeg, {operand});
        double result = 0.0;
        ASSERT_EQ(exprEvaluate(f.context, &result), EXPR_OK);
        EXPECT_TRUE(std::signbit(result));
    }
}

TEST(Operators, WrongArgumentCountEvaluatesNothing) {
    const std::pair<ExprFunction, int> cases[] = {{opAdd, 3}, {opSub, 1}, {opMul, 0}, {opDiv, 3}, {opNeg, 2}};
    for (const auto& [op, count] : cases) {
        Fixture f;
        double* x = f.variable("x", 1.0);
        ExprNode* args = makeCall(f.root(), op, count);
        for (int i = 0; i < count; ++i) makeCallOf(makeAssign(&args[i], x), opAdd, {5.0, 5.0});
        double result = 0.0;
        EXPECT_EQ(exprEvaluate(f.context, &result), EXPR_ERR_ARG_COUNT);
        EXPECT_EQ(*x, 1.0);
    }
}

TEST(Operators, LeftFailureSkipsTheRightOperand) {
    for (ExprFunction op : {opAdd, opSub, opMul, opDiv}) {
        Fixture f;
        double* x = f.variable("x", 1.0);
        ExprNode* args = makeCall(f.root(), op, 2);
        makeCallOf(&args[0], opDiv, {1.0, 0.0});
        makeConstant(makeAssign(&args[1], x), 9.0);
        double result = 42.0;
        EXPECT_EQ(exprEvaluate(f.context, &result), EXPR_ERR_DIVIDE_BY_ZERO);
        EXPECT_EQ(*x, 1.0);
    }
}

TEST(Operators, DivisionByZeroAndNaN) {
    for (double divisor : {0.0, -0.0, std::numeric_limits<double>::quiet_NaN()}) {
        for (int32_t flag : {0, 1}) {
            Fixture f;
            exprSetZeroOnMathError(f.context, flag);
            makeCallOf(f.root(), opDiv, {3.0, divisor});
            double result = 42.0;
            EXPECT_EQ(exprEvaluate(f.context, &result), flag ? EXPR_OK : EXPR_ERR_DIVIDE_BY_ZERO);
            EXPECT_EQ(result, flag ? 0.0 : 42.0);
            EXPECT_FALSE(std::signbit(result));
        }
    }
}

TEST(Evaluate, AssignmentStoresAndYieldsAndKeepsTargetOnFailure) {
    Fixture f;
    double* a = f.variable("a", 1.0);
    ExprNode* statements = makeCall(f.root(), builtinMany, 2);
    makeCallOf(makeAssign(&statements[0], a), opAdd, {2.0, 5.0});
    ExprNode* sum = makeCall(&statements[1], opAdd, 2);
    makeVariable(&sum[0], a);
    makeVariable(&sum[1], a);
    double result = 0.0;
    ASSERT_EQ(exprEvaluate(f.context, &result), EXPR_OK);
    EXPECT_EQ(*a, 7.0);
    EXPECT_EQ(result, 14.0);  // the second statement sees the first's assignment

    Fixture g;
    double* b = g.variable("b", 3.0);
    makeCallOf(makeAssign(g.root(), b), opDiv, {1.0, 0.0});
    EXPECT_EQ(exprEvaluate(g.context, &result), EXPR_ERR_DIVIDE_BY_ZERO);
    EXPECT_EQ(*b, 3.0);
}

TEST(Evaluate, StatementFailureStopsTheSequence) {
    Fixture f;
    double* a = f.variable("a");
    double* b = f.variable("b");
    ExprNode* statements = makeCall(f.root(), builtinMany, 3);
    makeConstant(makeAssign(&statements[0], a), 1.0);
    makeCallOf(&statements[1], opDiv, {1.0, 0.0});
    makeConstant(makeAssign(&statements[2], b), 1.0);
    double result = 0.0;
    EXPECT_EQ(exprEvaluate(f.context, &result), EXPR_ERR_DIVIDE_BY_ZERO);
    EXPECT_EQ(*a, 1.0);
    EXPECT_EQ(*b, 0.0);
}

TEST(Evaluate, MalformedTreesAreInternalErrors) {
    for (int32_t kind : {0, 5, -1, 255}) {
        Fixture f;
        f.root()->kind = kind;
        double result = 0.0;
        EXPECT_EQ(exprEvaluate(f.context, &result), EXPR_ERR_INTERNAL) << kind;
    }
    Fixture f;
    makeCallOf(f.root(), nullptr, {1.0});
    double result = 0.0;
    EXPECT_EQ(exprEvaluate(f.context, &result), EXPR_ERR_INTERNAL);
    // An unfilled argument surfaces from inside a callback unchanged.
    Fixture g;
    ExprNode* args = makeCall(g.root(), opAdd, 2);
    makeConstant(&args[0], 1.0);
    EXPECT_EQ(exprEvaluate(g.context, &result), EXPR_ERR_INTERNAL);
    // An assignment without a value has no operand to evaluate.
    Fixture h;
    h.root()->kind = NODE_ASSIGN;
    h.context->root->target = h.variable("a");
    EXPECT_EQ(exprEvaluate(h.context, &result), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprEvalNode(h.context, h.context->root, &result), EXPR_ERR_ARGUMENT);
}

// A callback of the caller's own that hands its arguments straight to an
// operator or the statement sequence.
template <ExprFunction op> EXPR_DECLARE_FUNCTION(forwardTo) {
    return op(context, args, argCount, refs, refCount, result);
}

TEST(Operators, CalledDirectlyByAnotherCallback) {
    struct Case {
        ExprFunction forward;
        std::initializer_list<double> operands;
        int32_t code;
        double expected;
    };
    const Case cases[] = {
        {forwardTo<opAdd>, {2.0, 3.0}, EXPR_OK, 5.0},
        {forwardTo<opSub>, {2.0, 3.0}, EXPR_OK, -1.0},
        {forwardTo<opMul>, {2.5, -4.0}, EXPR_OK, -10.0},
        {forwardTo<opDiv>, {1.0, 4.0}, EXPR_OK, 0.25},
        {forwardTo<opNeg>, {3.0}, EXPR_OK, -3.0},
        {forwardTo<builtinMany>, {1.0, 2.0, 3.0}, EXPR_OK, 3.0},
        {forwardTo<opDiv>, {1.0, 0.0}, EXPR_ERR_DIVIDE_BY_ZERO, 0.0},
        {forwardTo<opAdd>, {1.0, 2.0, 3.0}, EXPR_ERR_ARG_COUNT, 0.0},
        {forwardTo<opNeg>, {1.0, 2.0}, EXPR_ERR_ARG_COUNT, 0.0},
    };
    for (const Case& c : cases) {
        Fixture f;
        makeCallOf(f.root(), c.forward, c.operands);
        double result = 42.0;
        ASSERT_EQ(exprEvaluate(f.context, &result), c.code);
        EXPECT_EQ(result, c.code == EXPR_OK ? c.expected : 42.0);
    }
    // The operands' failure and the zero-on-math-error flag reach through.
    Fixture f;
    exprSetZeroOnMathError(f.context, 1);
    ExprNode* args = makeCall(f.root(), forwardTo<opSub>, 2);
    makeCallOf(&args[0], forwardTo<opDiv>, {1.0, 0.0});
    makeConstant(&args[1], 2.0);
    double result = 0.0;
    ASSERT_EQ(exprEvaluate(f.context, &result), EXPR_OK);
    EXPECT_EQ(result, -2.0);
}

// Run in place, a forwarded call still counts its own node and each operand
// as one node evaluation and hands the countdown back.
TEST(Operators, ForwardedCallsKeepTheAbortCountdown) {
    for (int32_t interval = 0; interval <= 4; ++interval) {
        Fixture f(true);
        f.probe.answer = 1;
        f.context->checkInterval = interval;
        makeCallOf(f.root(), forwardTo<opAdd>, {1.0, 2.0});
        double result = 0.0;
        const int32_t code = exprEvaluate(f.context, &result);
        EXPECT_EQ(code, interval >= 3 ? EXPR_OK : EXPR_ERR_ABORTED) << interval;
        EXPECT_EQ(f.probe.calls, interval >= 3 ? 0 : 1) << interval;
        if (code == EXPR_OK) {
            EXPECT_EQ(f.context->countdown, interval - 3);
        }
    }
}

// A sequence of `count` constants costs count + 1 node evaluations.
void buildSequence(Fixture& f, int count) {
    ExprNode* args = makeCall(f.root(), builtinMany, count);
    for (int i = 0; i < count; ++i) makeConstant(&args[i], i);
}

TEST(Abort, AlwaysStopPollsAtNodeEvaluation100001) {
    Fixture f(true);
    f.probe.answer = 1;
    double result = 0.0;
    buildSequence(f, 99999);  // 100000 evaluations: no poll
    ASSERT_EQ(exprEvaluate(f.context, &result), EXPR_OK);
    EXPECT_EQ(f.probe.calls, 0);
    EXPECT_EQ(result, 99998.0);
    exprClear(f.context);
    buildSequence(f, 100000);  // 100001 evaluations: the last one polls
    EXPECT_EQ(exprEvaluate(f.context, &result), EXPR_ERR_ABORTED);
    EXPECT_EQ(f.probe.calls, 1);
    // The next evaluation starts a fresh countdown.
    EXPECT_EQ(exprEvaluate(f.context, &result), EXPR_ERR_ABORTED);
    EXPECT_EQ(f.probe.calls, 2);
}

TEST(Abort, ContinuingCallbackIsPolledEvery100001Evaluations) {
    const std::pair<int, int> cases[] = {{200001, 1}, {200002, 2}, {300002, 2}, {300003, 3}};
    for (const auto& [evaluations, polls] : cases) {
        Fixture f(true);
        buildSequence(f, evaluations - 1);
        double result = 0.0;
        ASSERT_EQ(exprEvaluate(f.context, &result), EXPR_OK);
        EXPECT_EQ(f.probe.calls, polls) << evaluations;
    }
}

TEST(Abort, FreshContextPollsAtItsFirstNode) {
    Fixture f(true);
    f.probe.answer = 1;
    ExprNode node{};
    makeConstant(&node, 1.0);
    double result = 0.0;
    EXPECT_EQ(exprEvalNode(f.context, &node, &result), EXPR_ERR_ABORTED);
    EXPECT_EQ(f.probe.calls, 1);
    EXPECT_EQ(f.context->countdown, -1);
    f.probe.answer = 0;
    EXPECT_EQ(exprEvalNode(f.context, &node, &result), EXPR_OK);
    EXPECT_EQ(f.context->countdown, 100000);
    // Without a callback the poll goes on.
    Fixture g;
    EXPECT_EQ(exprPollAbort(g.context), 0);
    EXPECT_EQ(exprEvalNode(g.context, &node, &result), EXPR_OK);
    EXPECT_EQ(g.context->countdown, 100000);
}

TEST(Abort, CountdownNeverOverflows) {
    Fixture f(true);
    f.probe.answer = 1;
    ExprNode node{};
    makeConstant(&node, 1.0);
    f.context->countdown = INT_MIN + 1;
    double result = 0.0;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(exprEvalNode(f.context, &node, &result), EXPR_ERR_ABORTED);
    EXPECT_EQ(f.context->countdown, INT_MIN);
}

// The rule judges errno as the computation left it: a range error is an
// underflow, and no error, only for a zero or subnormal value.
TEST(MathRule, JudgesErrnoAndValue) {
    const double inf = std::numeric_limits<double>::infinity();
    const double subnormal = DBL_MIN / 4;
    struct Case {
        int error;
        double value;
        int32_t flag, code;
        double result;
    };
    const Case cases[] = {
        {0, inf, 0, EXPR_OK, inf},
        {EDOM, 5.0, 0, EXPR_ERR_MATH, 5.0},
        {EDOM, 5.0, 1, EXPR_OK, 0.0},
        {ERANGE, inf, 0, EXPR_ERR_MATH, inf},
        {ERANGE, -inf, 1, EXPR_OK, 0.0},
        {ERANGE, DBL_MIN, 0, EXPR_ERR_MATH, DBL_MIN},
        {ERANGE, subnormal, 0, EXPR_OK, subnormal},
        {ERANGE, -0.0, 0, EXPR_OK, -0.0},
        {EINVAL, 1.0, 0, EXPR_OK, 1.0},
    };
    for (const Case& c : cases) {
        Fixture f;
        exprSetZeroOnMathError(f.context, c.flag);
        double result = 42.0;
        errno = c.error;
        EXPECT_EQ(exprApplyMathRule(f.context, c.value, &result), c.code) << c.error << " " << c.value;
        EXPECT_EQ(result, c.result) << c.error << " " << c.value;
        EXPECT_EQ(std::signbit(result), std::signbit(c.result));
    }
}

TEST(Free, PartialTreesAndSharedTables) {
    const int32_t live = exprLiveBlocks();
    {
        Fixture f;
        // A call whose second argument was never filled, and an assignment
        // without a child: both release cleanly.
        ExprNode* args = makeCall(f.root(), builtinMany, 3);
        makeCall(&args[0], opAdd, 2);
        args[2].kind = NODE_ASSIGN;
        exprClear(f.context);
        EXPECT_EQ(f.context->root, nullptr);
        exprFreeNode(nullptr);
    }
    EXPECT_EQ(exprLiveBlocks(), live);

    NameTable* variables = nullptr;
    ASSERT_EQ(exprNewTable(&variables), EXPR_OK);
    ASSERT_EQ(exprSetVariable(variables, "s", 2.0), EXPR_OK);
    double* s = nullptr;
    ASSERT_EQ(exprFindVariable(variables, "s", &s), EXPR_OK);
    ExprContext* first = nullptr;
    ExprContext* second = nullptr;
    ASSERT_EQ(exprNewContext(&first, nullptr, variables, nullptr, 0, nullptr, nullptr), EXPR_OK);
    ASSERT_EQ(exprNewContext(&second, nullptr, variables, nullptr, 0, nullptr, nullptr), EXPR_OK);
    for (ExprContext* context : {first, second}) {
        ExprNode* root = newRoot();
        ExprNode* args = makeCall(makeAssign(root, s), opMul, 2);
        makeVariable(&args[0], s);
        makeConstant(&args[1], 3.0);
        adoptTree(context, root);
    }
    exprFreeContext(first);
    double result = 0.0;
    ASSERT_EQ(exprEvaluate(second, &result), EXPR_OK);
    EXPECT_EQ(result, 6.0);
    EXPECT_EQ(exprSetVariable(variables, "t", 1.0), EXPR_OK);
    exprFreeContext(second);
    exprFreeVarTable(variables);
    EXPECT_EQ(exprLiveBlocks(), live);
}

}  // namespace
