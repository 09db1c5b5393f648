// Depth and size limits. Every construct that deepens the tree is built for
// exactly EXPR_MAX_DEPTH levels, which parses, evaluates and frees on a small
// stack, and for one level more, which is refused with EXPR_ERR_SYNTAX.

#include <algorithm>
#include <string>
#include <vector>

#include "engine/internal.h"
#include "tests/parser/parser_support.h"
#include "tests/support/small_stack.h"

using namespace quorvel_test;

namespace {

constexpr int L = EXPR_MAX_DEPTH;

// Statements whose deepest node stands at level `levels` (a statement's top
// node is level 1).
std::string sumChain(int levels) {
    return "1" + repeat("+1", levels - 1);
}  // levels terms
std::string productChain(int levels) {
    return "2" + repeat("/1", levels - 1);
}
std::string differenceChain(int levels) {
    return "1" + repeat("-1", levels - 1);
}
std::string minusChain(int levels) {
    return repeat("-", levels - 1) + "x";
}
std::string plusChain(int levels) {
    return repeat("+", levels - 1) + "x";
}
std::string mixedSigns(int levels) {
    return repeat("-+", (levels - 1) / 2) + repeat("-", (levels - 1) % 2) + "x";
}
std::string parentheses(int levels) {
    return repeat("(", levels - 1) + "x" + repeat(")", levels - 1);
}
std::string calls(int levels) {
    return repeat("max(", levels - 1) + "x" + repeat(")", levels - 1);
}
std::string lastArguments(int levels) {
    return repeat("max(0,", levels - 1) + "x" + repeat(")", levels - 1);
}
std::string assignments(int levels) {
    return repeat("a=", levels - 1) + "3";
}
std::string groupedSign(int levels) {
    return repeat("(", levels - 2) + "-x" + repeat(")", levels - 2);
}
// a*(a*(...)): a product and a removed pair per step.
std::string rightProducts(int levels) {
    const int steps = (levels - 1) / 2;
    return repeat("1*(", steps) + (levels % 2 ? "x" : "-x") + repeat(")", steps);
}
// The deepest term of a sum deepened by its own product chain.
std::string sumOfProducts(int levels) {
    return "1+" + std::string("1") + repeat("*1", levels - 2);
}

struct Construct {
    const char* name;
    std::string (*build)(int levels);
};

const Construct kConstructs[] = {
    {"sum chain", sumChain},
    {"product chain", productChain},
    {"difference chain", differenceChain},
    {"minus chain", minusChain},
    {"plus chain", plusChain},
    {"mixed signs", mixedSigns},
    {"parentheses", parentheses},
    {"nested calls", calls},
    {"nested last arguments", lastArguments},
    {"assignment chain", assignments},
    {"grouped sign", groupedSign},
    {"right products", rightProducts},
    {"sum of products", sumOfProducts},
};

// The depth of a tree in levels, counting removed pairs and "+" signs as the
// parser does cannot be seen in the tree; the node depth is a lower bound.
int nodeDepth(const ExprNode* node) {
    int deepest = 0;
    if (node->kind == NODE_CALL)
        for (int32_t i = 0; i < node->argCount; ++i) deepest = std::max(deepest, nodeDepth(&node->args[i]));
    if (node->kind == NODE_ASSIGN) deepest = nodeDepth(node->child);
    return deepest + 1;
}

using LimitsTest = ParserTest;

TEST_F(LimitsTest, EveryConstructParsesAtTheLimitAndNotBeyond) {
    *variable("u") = 0.0;
    for (const Construct& c : kConstructs) {
        const std::string atLimit = c.build(L) + ";";
        const std::string beyond = c.build(L + 1) + ";";
        int32_t codeAt = -1, evalAt = -1, codeBeyond = -1, depth = 0;
        const bool ran = runOnSmallStack([&] {
            exprClear(context);
            codeAt = parse(atLimit);
            if (codeAt == EXPR_OK) {
                double value = 0.0;
                evalAt = exprEvaluate(context, &value);
                depth = nodeDepth(&context->root->args[0]);
            }
            exprClear(context);
            codeBeyond = parse(beyond);
            exprClear(context);
        });
        ASSERT_TRUE(ran);
        EXPECT_EQ(codeAt, EXPR_OK) << c.name;
        EXPECT_EQ(evalAt, EXPR_OK) << c.name;
        EXPECT_LE(depth, L) << c.name;
        EXPECT_EQ(codeBeyond, EXPR_ERR_SYNTAX) << c.name;
    }
}

// The splitting parser alone, without what exprParse does around it, so
// that its own stack use is seen apart from the evaluator's.
TEST_F(LimitsTest, RangeParserAloneFitsInASmallStack) {
    for (const Construct& c : kConstructs) {
        const std::string text = c.build(L);
        int32_t code = -1;
        ASSERT_TRUE(runOnSmallStack([&] {
            ExprNode node{};
            code = exprParseRange(context, &node, text.c_str(), 0, static_cast<int32_t>(text.size()) - 1);
            exprFreeNode(&node);
        }));
        EXPECT_EQ(code, EXPR_OK) << c.name;
    }
}

TEST_F(LimitsTest, DeepTreesHaveTheExpectedValues) {
    ASSERT_EQ(exprSetVariable(variables, "x", 2.0), EXPR_OK);
    const struct {
        std::string text;
        double value;
    } cases[] = {
        {sumChain(L), double(L)},
        {differenceChain(L), 2.0 - L},
        {minusChain(L), 2.0 * ((L - 1) % 2 ? -1 : 1)},
        {parentheses(L), 2.0},
        {calls(L), 2.0},
        {assignments(L), 3.0},
    };
    for (const auto& c : cases) {
        double value = 0.0;
        int32_t parsed = -1, evaluated = -1;
        ASSERT_TRUE(runOnSmallStack([&] {
            exprClear(context);
            parsed = parse(c.text + ";");
            evaluated = exprEvaluate(context, &value);
            exprClear(context);
        }));
        EXPECT_EQ(parsed, EXPR_OK) << c.text.substr(0, 20);
        EXPECT_EQ(evaluated, EXPR_OK) << c.text.substr(0, 20);
        EXPECT_EQ(value, c.value) << c.text.substr(0, 20);
    }
}

TEST_F(LimitsTest, EachStatementStartsAtTheTop) {
    const std::string text = sumChain(L) + ";" + calls(L) + ";" + minusChain(L) + ";";
    int32_t code = -1;
    ASSERT_TRUE(runOnSmallStack([&] {
        code = parse(text);
        exprClear(context);
    }));
    EXPECT_EQ(code, EXPR_OK);
}

TEST_F(LimitsTest, DepthIsCountedThroughTheWholeStatement) {
    // Depth adds up across constructs: a call argument inside a group inside
    // an assignment value.
    EXPECT_EQ(code("a=(" + sumChain(L - 2) + ")"), EXPR_OK);
    EXPECT_EQ(code("a=(" + sumChain(L - 1) + ")"), EXPR_ERR_SYNTAX);
    EXPECT_EQ(code("max(" + minusChain(L - 1) + ")"), EXPR_OK);
    EXPECT_EQ(code("max(" + minusChain(L) + ")"), EXPR_ERR_SYNTAX);
    EXPECT_EQ(code("1+" + minusChain(L - 1)), EXPR_OK);
    EXPECT_EQ(code("1+" + minusChain(L)), EXPR_ERR_SYNTAX);
    EXPECT_EQ(code(minusChain(L - 1) + "*1"), EXPR_OK);
    EXPECT_EQ(code(minusChain(L) + "*1"), EXPR_ERR_SYNTAX);
}

TEST_F(LimitsTest, OrdinaryLongTextsParse) {
    std::string sum = "s = 0";
    for (int i = 1; i <= 200; ++i) sum += " + " + std::to_string(i);
    ASSERT_EQ(parse(sum + ";"), EXPR_OK);
    double value = 0.0;
    ASSERT_EQ(exprEvaluate(context, &value), EXPR_OK);
    EXPECT_EQ(value, 20100.0);

    exprClear(context);
    std::string arguments = "max(0";
    for (int i = 1; i <= 5000; ++i) arguments += "," + std::to_string(i % 1000);
    ASSERT_EQ(parse(arguments + ");"), EXPR_OK);
    EXPECT_EQ(context->root->args[0].argCount, 5001);
    ASSERT_EQ(exprEvaluate(context, &value), EXPR_OK);
    EXPECT_EQ(value, 999.0);
}

// Texts of 1 MiB that are too deep, too long or malformed in the worst
// places. Each must come back with a code; the time they take is watched by
// hand (all of them together well within a second each).
std::vector<std::pair<std::string, std::string>> pathologicalTexts() {
    constexpr size_t kSize = 1 << 20;
    auto fill = [](const std::string& head, const std::string& piece, const std::string& tail) {
        std::string text = head;
        while (text.size() + piece.size() + tail.size() < kSize) text += piece;
        return text + tail;
    };
    const std::string hugeSum = fill("", "a+", "a");
    std::vector<std::pair<std::string, std::string>> texts = {
        {"sum", hugeSum + ";"},
        {"product", fill("", "a*", "a;")},
        {"signs", fill("", "-", "x;")},
        {"plus signs", fill("", "+", "x;")},
        {"assignments", fill("", "a=", "1;")},
        {"open parentheses", fill("", "(", ";")},
        {"balanced parentheses", repeat("(", kSize / 2 - 2) + "x" + repeat(")", kSize / 2 - 2) + ";"},
        {"sign and group", repeat("-(", kSize / 4 - 2) + "x" + repeat(")", kSize / 4 - 2) + ";"},
        {"nested calls", repeat("max(", kSize / 5 - 2) + "x" + repeat(")", kSize / 5 - 2) + ";"},
        {"groups around a sum", repeat("(", L - 1) + hugeSum + repeat(")", L - 1) + ";"},
        {"calls around a sum", repeat("max(0,", L - 2) + hugeSum + repeat(")", L - 2) + ";"},
        {"products around a sum", repeat("a*(", L / 2 - 1) + hugeSum + repeat(")", L / 2 - 1) + ";"},
        {"deep wide call", repeat("max(0,", L - 10) + fill("max(", "(a),", "(a)") + ")" + repeat(")", L - 10) + ";"},
        {"deep wide sums", repeat("max(0,", L - 10) + fill("max(", "a+(a),", "a") + ")" + repeat(")", L - 10) + ";"},
        {"deep groups", repeat("(", L - 10) + fill("max(", "((a)),", "a") + ")" + repeat(")", L - 10) + ";"},
        {"deep chain over a wide group", "(" + fill("max(", "(a),", "(a)") + "))" + repeat("+a", L - 6) + ";"},
        {"deep assignments over a wide group", repeat("a=", L - 10) + "(" + fill("max(", "(a),", "(a)") + "));"},
        {"deep signs over a wide group", repeat("-", L - 10) + "(" + fill("max(", "(a),", "(a)") + "));"},
        {"deep signs and groups",
         repeat("-(", L / 2 - 5) + fill("max(", "(a),", "(a)") + ")" + repeat(")", L / 2 - 5) + ";"},
        {"deep products over a wide group", "(" + fill("max(", "(a),", "(a)") + "))" + repeat("*a", L - 6) + ";"},
        {"deep statements", fill("", lastArguments(L) + ";", "")},
        {"deep sums of calls", fill("", "a=" + calls(L - 2) + "+" + calls(L - 2) + ";", "")},
        {"one name", std::string(kSize, 'n') + ";"},
        {"arguments", fill("max(", "a,", "a);")},
        {"statements", fill("", "a;", "")},
        {"comments", fill("", "<", "")},
        {"blanks", std::string(kSize, ' ')},
        {"empty items", fill("max(", ",", ");")},
        {"references", fill("rand(", "&s,", "&s);")},
    };
    return texts;
}

TEST_F(LimitsTest, PathologicalMegabyteTextsReturnACode) {
    for (const auto& [name, text] : pathologicalTexts()) {
        int32_t code = -1;
        ASSERT_TRUE(runOnSmallStack([&] {
            exprClear(context);
            code = parse(text);
            exprClear(context);
        }));
        EXPECT_GE(code, 0) << name;
        EXPECT_LE(code, EXPR_ERR_INTERNAL) << name;
        if (name.find("deep") == 0) {
            EXPECT_EQ(code, EXPR_OK) << name;
        }
        if (name == "sum" || name == "product" || name == "signs" || name == "assignments" ||
            name == "balanced parentheses" || name == "nested calls" || name.find("around") != std::string::npos) {
            EXPECT_EQ(code, EXPR_ERR_SYNTAX) << name;
        }
    }
}

}  // namespace
