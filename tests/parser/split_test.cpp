// The splitting parser: precedence, grouping, signs, parentheses, calls,
// references, name resolution, numbers and token lengths. Trees are compared
// as rendered text (see parser_support.h): "add(a,mul(b,c))", "#M_PI" for a
// constant, "&s" for a reference, "set(a,...)" for an assignment.

#include <cstring>
#include <string>

#include "engine/internal.h"
#include "tests/parser/parser_support.h"

using namespace quorvel_test;

namespace {

struct ShapeCase {
    std::string statement;
    std::string tree;  // rendering, or "code N"
};

using SplitTest = ParserTest;

void expectShapes(SplitTest& test, const ShapeCase* begin, const ShapeCase* end) {
    for (const ShapeCase* c = begin; c != end; ++c)
        EXPECT_EQ(test.tree(c->statement), c->tree) << "statement: " << c->statement;
}

#define EXPECT_SHAPES(cases) expectShapes(*this, std::begin(cases), std::end(cases))

std::string codeText(int32_t code) {
    return "code " + std::to_string(code);
}

TEST_F(SplitTest, PrecedenceGroupingAndSigns) {
    const ShapeCase cases[] = {
        {"a=b=c", "set(a,set(b,c))"},
        {"a-b-c", "sub(sub(a,b),c)"},
        {"a/b*c", "mul(div(a,b),c)"},
        {"a+b*c", "add(a,mul(b,c))"},
        {"a*b+c", "add(mul(a,b),c)"},
        {"-2*3", "mul(neg(2),3)"},
        {"2*-3", "mul(2,neg(3))"},
        {"a*-b*c", "mul(mul(a,neg(b)),c)"},
        {"a--b", "sub(a,neg(b))"},
        {"a-+b", "sub(a,b)"},
        {"--x", "neg(neg(x))"},
        {"+-x", "neg(x)"},
        {"-+x", "neg(x)"},
        {"+x", "x"},
        {"-a+b", "add(neg(a),b)"},
        {"-(a+b)", "neg(add(a,b))"},
        {"a*(b)", "mul(a,b)"},
        {"((a))", "a"},
        {"(((a+b)))*c", "mul(add(a,b),c)"},
        {"((a)+(b))", "add(a,b)"},
        {"x*(a=2)", "mul(x,set(a,2))"},
        {"a=-b", "set(a,neg(b))"},
        {"a=b=-c", "set(a,set(b,neg(c)))"},
        {"-1", "neg(1)"},
        {"out1=-u*(v+1)", "set(out1,mul(neg(u),add(v,1)))"},
        {"out2=max(u,v,w)", "set(out2,max(u,v,w))"},
    };
    EXPECT_SHAPES(cases);
}

TEST_F(SplitTest, MalformedStatements) {
    const ShapeCase cases[] = {
        {"f(x)(y)", "code 12"},
        {"(f)(x)", "code 12"},
        {"(a)b", "code 12"},
        {"()", "code 12"},
        {"a+", "code 12"},
        {"*a", "code 12"},
        {"2*3-", "code 12"},
        {"a=", "code 12"},
        {"=a", "code 12"},
        {"a==b", "code 12"},
        {"a+=1", "code 14"},
        {"1=a", "code 14"},
        {"a,b", "code 14"},
        {"(a)=1", "code 14"},
        {"-", "code 12"},
        {"+", "code 12"},
        {"a*(b)c", "code 12"},
        {"(())", "code 12"},
        {"(()())", "code 12"},
        {"sin(x)y", "code 12"},
        {"a=&b", "code 14"},
        {"&a", "code 14"},
        {"a&", "code 14"},
        {"a=(b)+c=d", "code 14"},  // the second target is checked where the first value's scan found it
    };
    EXPECT_SHAPES(cases);
}

TEST_F(SplitTest, WorkedExampleTreeFields) {
    ASSERT_EQ(parse("out1=-u*(v+1);out2=max(u,v,w);"), EXPR_OK);
    const ExprNode* first = &context->root->args[0];
    ASSERT_EQ(first->kind, NODE_ASSIGN);
    EXPECT_EQ(first->target, variable("out1"));
    const ExprNode* product = first->child;
    ASSERT_EQ(product->kind, NODE_CALL);
    EXPECT_EQ(product->function, opMul);
    ASSERT_EQ(product->argCount, 2);
    EXPECT_EQ(product->args[0].function, opNeg);
    EXPECT_EQ(product->args[0].args[0].valuePtr, variable("u"));
    EXPECT_EQ(product->args[1].function, opAdd);
    EXPECT_EQ(product->args[1].args[1].kind, NODE_CONSTANT);
    EXPECT_EQ(product->args[1].args[1].value, 1.0);
    const ExprNode* call = context->root->args[1].child;
    EXPECT_EQ(call->function, testMax);
    ASSERT_EQ(call->argCount, 3);
    EXPECT_EQ(call->args[2].valuePtr, variable("w"));
    EXPECT_EQ(call->refs, nullptr);
}

TEST_F(SplitTest, CallsAreCountedBeforeTheirItemsAreParsed) {
    const ShapeCase cases[] = {
        {"sin(x)", "sin(x)"},
        {"sin((x))", "sin(x)"},
        {"sin(a+b)", "sin(add(a,b))"},
        {"max(u,max(v,w),1)", "max(u,max(v,w),1)"},
        {"max(a=1,b)", "max(set(a,1),b)"},
        {"sin()", codeText(EXPR_ERR_ARG_COUNT)},
        {"sin(1,2)", codeText(EXPR_ERR_ARG_COUNT)},
        {"sin(,)", codeText(EXPR_ERR_ARG_COUNT)},
        {"sin(1,*)", codeText(EXPR_ERR_ARG_COUNT)},
        {"sin(&s)", codeText(EXPR_ERR_ARG_COUNT)},
        {"max(,)", codeText(EXPR_ERR_SYNTAX)},
        {"max(1,)", codeText(EXPR_ERR_SYNTAX)},
        {"max(a+)", codeText(EXPR_ERR_SYNTAX)},
        {"max()", codeText(EXPR_ERR_ARG_COUNT)},
        {"nosuch(1)", codeText(EXPR_ERR_UNKNOWN_FUNCTION)},
        {"Sin(1)", codeText(EXPR_ERR_UNKNOWN_FUNCTION)},
        {"hollow(1)", codeText(EXPR_ERR_UNKNOWN_FUNCTION)},
        {"2(3)", codeText(EXPR_ERR_TOKEN)},
        {"a.b(3)", codeText(EXPR_ERR_TOKEN)},
        {"none()", "none()"},
        {"none(1)", codeText(EXPR_ERR_ARG_COUNT)},
        {"sin", "sin"},
        {"sin+1", "add(sin,1)"},
        {"any()", "none()"},
        {"any(1,&s,2)", "none(1,2,&s)"},
    };
    // Negative bounds on both sides: any count.
    ASSERT_EQ(exprSetFunction(functions, testNone, "any", -1, -1, -1, -1), EXPR_OK);
    EXPECT_SHAPES(cases);
}

TEST_F(SplitTest, References) {
    const ShapeCase cases[] = {
        {"rand(&s)", "rand(&s)"},
        {"rand(s)", codeText(EXPR_ERR_ARG_COUNT)},
        {"rand()", codeText(EXPR_ERR_ARG_COUNT)},
        {"rand(&s,&t)", codeText(EXPR_ERR_ARG_COUNT)},
        {"random(a,&s,b)", "random(a,b,&s)"},
        {"random(&s,a,b)", "random(a,b,&s)"},
        {"random(a,b,&s)", "random(a,b,&s)"},
        {"random(a,b,s)", codeText(EXPR_ERR_ARG_COUNT)},
        {"rand(&M_PI)", codeText(EXPR_ERR_CONST_REF)},
        {"rand(&time)", codeText(EXPR_ERR_CONST_REF)},
        {"rand(&&s)", codeText(EXPR_ERR_SYNTAX)},
        {"max(a&b)", codeText(EXPR_ERR_SYNTAX)},
        {"rand(s&)", codeText(EXPR_ERR_SYNTAX)},
        {"rand(&)", codeText(EXPR_ERR_TOKEN)},
        {"rand(&2)", codeText(EXPR_ERR_TOKEN)},
        {"rand(&s+1)", codeText(EXPR_ERR_TOKEN)},
        {"max((&a))", codeText(EXPR_ERR_TOKEN)},
        {"max(sin(&a))", codeText(EXPR_ERR_ARG_COUNT)},
        {"rand(&s(1))", codeText(EXPR_ERR_TOKEN)},
        {"random(&s(a,b),1,2)", codeText(EXPR_ERR_TOKEN)},
    };
    EXPECT_SHAPES(cases);
}

TEST_F(SplitTest, ReferenceIsCreatedWhenNewAndUsedByAddress) {
    EXPECT_EQ(variable("seed"), nullptr);
    ASSERT_EQ(parse("rand(&seed); rand(&seed);"), EXPR_OK);
    ASSERT_NE(variable("seed"), nullptr);
    EXPECT_EQ(*variable("seed"), 0.0);
    EXPECT_EQ(context->root->args[0].refs[0], variable("seed"));
    double value = 0.0;
    ASSERT_EQ(exprEvaluate(context, &value), EXPR_OK);
    EXPECT_EQ(value, 2.0);
    EXPECT_EQ(*variable("seed"), 2.0);
}

TEST_F(SplitTest, NamesResolveToConstantsThenVariables) {
    EXPECT_EQ(tree("M_PI"), "#M_PI");
    EXPECT_EQ(tree("time*2"), "mul(#time,2)");
    EXPECT_EQ(tree("M_PI=3"), codeText(EXPR_ERR_CONST_ASSIGN));
    EXPECT_EQ(tree("time=1"), codeText(EXPR_ERR_CONST_ASSIGN));
    EXPECT_EQ(tree("m_pi"), "m_pi");  // case-sensitive: a new variable

    EXPECT_EQ(variable("fresh"), nullptr);
    EXPECT_EQ(tree("fresh"), "fresh");
    ASSERT_NE(variable("fresh"), nullptr);
    EXPECT_EQ(*variable("fresh"), 0.0);

    // A variable created by a statement stays when a later one fails.
    EXPECT_EQ(code("kept; 1.2.3"), EXPR_ERR_TOKEN);
    EXPECT_NE(variable("kept"), nullptr);

    // An existing variable keeps its value and its address.
    double* u = variable("u");
    *u = 7.0;
    EXPECT_EQ(tree("u"), "u");
    EXPECT_EQ(variable("u"), u);
    EXPECT_EQ(*u, 7.0);
}

TEST_F(SplitTest, ConstantsAreReadThroughTheirAddress) {
    ASSERT_EQ(parse("out1 = time * 2;"), EXPR_OK);
    double value = 0.0;
    *constant("time") = 1.5;
    ASSERT_EQ(exprEvaluate(context, &value), EXPR_OK);
    EXPECT_EQ(value, 3.0);
    *constant("time") = 4.0;
    ASSERT_EQ(exprEvaluate(context, &value), EXPR_OK);
    EXPECT_EQ(value, 8.0);
}

TEST_F(SplitTest, NumberForms) {
    const ShapeCase cases[] = {
        {"12", "12"},
        {"1.5", "1.5"},
        {"1.", "1"},
        {".5", "0.5"},
        {"007", "7"},
        {"0.1", "0.10000000000000001"},
        {".", codeText(EXPR_ERR_TOKEN)},
        {"1.2.3", codeText(EXPR_ERR_TOKEN)},
        {"1e5", codeText(EXPR_ERR_TOKEN)},
        {"1e-5", codeText(EXPR_ERR_TOKEN)},
        {"0x1F", codeText(EXPR_ERR_TOKEN)},
        {"1a", codeText(EXPR_ERR_TOKEN)},
        {"..5", codeText(EXPR_ERR_TOKEN)},
    };
    EXPECT_SHAPES(cases);
}

TEST(IsNumber, Forms) {
    const struct {
        const char* text;
        int32_t number;
    } cases[] = {{"0", 1},   {"12", 1},   {"1.5", 1}, {"5.", 1}, {".5", 1}, {"", 0},   {".", 0},   {"1.2.3", 0},
                 {"1e5", 0}, {"0x10", 0}, {"-1", 0},  {"+1", 0}, {" 1", 0}, {"1 ", 0}, {"\xb9", 0}};
    for (const auto& c : cases) EXPECT_EQ(exprIsNumber(c.text), c.number) << c.text;
    EXPECT_EQ(exprIsNumber(nullptr), 0);
}

TEST_F(SplitTest, TokensOf255CharactersAndNot256) {
    const std::string name255 = "n" + std::string(254, 'x');
    const std::string name256 = name255 + "x";
    const std::string digits255(255, '7');
    const std::string digits256(256, '7');
    const std::string fn255 = "f" + std::string(254, 'y');
    ASSERT_EQ(exprSetFunction(functions, testSin, fn255.c_str(), 1, 1, 0, 0), EXPR_OK);
    ASSERT_EQ(exprSetFunction(functions, testSin, (fn255 + "y").c_str(), 1, 1, 0, 0), EXPR_OK);

    EXPECT_EQ(tree(name255), name255);
    EXPECT_EQ(tree(name256), codeText(EXPR_ERR_TOKEN));
    EXPECT_EQ(tree(name255 + "=1"), "set(" + name255 + ",1)");
    EXPECT_EQ(tree(name256 + "=1"), codeText(EXPR_ERR_TOKEN));
    EXPECT_EQ(tree("rand(&" + name255 + ")"), "rand(&" + name255 + ")");
    EXPECT_EQ(tree("rand(&" + name256 + ")"), codeText(EXPR_ERR_TOKEN));
    EXPECT_EQ(tree(fn255 + "(1)"), "sin(1)");
    EXPECT_EQ(tree(fn255 + "y(1)"), codeText(EXPR_ERR_TOKEN));
    EXPECT_EQ(tree(digits255 + "+0").substr(0, 4), "add(");
    EXPECT_EQ(tree(digits256), codeText(EXPR_ERR_TOKEN));
    EXPECT_EQ(tree("." + std::string(254, '0') + "1"), codeText(EXPR_ERR_TOKEN));
    exprClear(context);
    ASSERT_EQ(parse("." + std::string(253, '0') + "1;"), EXPR_OK);
    EXPECT_EQ(context->root->args[0].value, 1e-254);
    EXPECT_EQ(variable(name256.c_str()), nullptr);
}

TEST_F(SplitTest, ContextsWithoutTables) {
    struct Case {
        const char* statement;
        int32_t noFunctions, noVariables, noConstants;
    } cases[] = {
        {"a", EXPR_OK, EXPR_ERR_NO_VARIABLES, EXPR_OK},
        {"a=1", EXPR_OK, EXPR_ERR_NO_VARIABLES, EXPR_OK},
        {"M_PI", EXPR_OK, EXPR_OK, EXPR_OK},
        {"M_PI=1", EXPR_ERR_CONST_ASSIGN, EXPR_ERR_CONST_ASSIGN, EXPR_OK},
        {"sin(1)", EXPR_ERR_UNKNOWN_FUNCTION, EXPR_OK, EXPR_OK},
        {"none()", EXPR_ERR_UNKNOWN_FUNCTION, EXPR_OK, EXPR_OK},
        {"rand(&s)", EXPR_ERR_UNKNOWN_FUNCTION, EXPR_ERR_NO_VARIABLES, EXPR_OK},
        {"rand(&M_PI)", EXPR_ERR_UNKNOWN_FUNCTION, EXPR_ERR_CONST_REF, EXPR_OK},
        {"1+2*3", EXPR_OK, EXPR_OK, EXPR_OK},
    };
    ExprContext* noFunctions = nullptr;
    ExprContext* noVariables = nullptr;
    ExprContext* noConstants = nullptr;
    ASSERT_EQ(exprNewContext(&noFunctions, nullptr, variables, constants, 0, nullptr, nullptr), EXPR_OK);
    ASSERT_EQ(exprNewContext(&noVariables, functions, nullptr, constants, 0, nullptr, nullptr), EXPR_OK);
    ASSERT_EQ(exprNewContext(&noConstants, functions, variables, nullptr, 0, nullptr, nullptr), EXPR_OK);
    for (const Case& c : cases) {
        const std::string text = std::string(c.statement) + ";";
        const std::pair<ExprContext*, int32_t> runs[] = {
            {noFunctions, c.noFunctions}, {noVariables, c.noVariables}, {noConstants, c.noConstants}};
        for (const auto& [ctx, expected] : runs) {
            exprClear(ctx);
            EXPECT_EQ(exprParse(ctx, text.c_str()), expected) << c.statement;
        }
    }
    // Without a constant table, M_PI is a variable of that name.
    exprClear(noConstants);
    ASSERT_EQ(exprParse(noConstants, "M_PI;"), EXPR_OK);
    EXPECT_EQ(noConstants->root->args[0].valuePtr, variable("M_PI"));
    exprFreeContext(noFunctions);
    exprFreeContext(noVariables);
    exprFreeContext(noConstants);
}

TEST_F(SplitTest, RangeEntryRefusesRangesOutsideTheText) {
    ExprNode node{};
    const char* text = "a+b";
    EXPECT_EQ(exprParseRange(context, &node, text, 2, 1), EXPR_ERR_SYNTAX);
    EXPECT_EQ(exprParseRange(context, &node, text, -1, 2), EXPR_ERR_INTERNAL);
    EXPECT_EQ(exprParseRange(context, &node, text, 0, 3), EXPR_ERR_SYNTAX);  // reaches the terminator
    EXPECT_EQ(exprParseRange(context, nullptr, text, 0, 2), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprParseRange(context, &node, nullptr, 0, 2), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprParseRange(nullptr, &node, text, 0, 2), EXPR_ERR_ARGUMENT);
    // Taken alone, a range need not balance its parentheses.
    for (const char* unbalanced : {"(1", "((1", "(1)+(2", "(1)+((2)", "1)", "a+(b))"}) {
        EXPECT_EQ(exprParseRange(context, &node, unbalanced, 0, static_cast<int32_t>(std::strlen(unbalanced)) - 1),
                  EXPR_ERR_PARENTHESES)
            << unbalanced;
        exprFreeNode(&node);
        node = ExprNode{};
    }
    exprFreeNode(&node);
    ExprNode sum{};
    ASSERT_EQ(exprParseRange(context, &sum, "(a+b);", 0, 4), EXPR_OK);
    EXPECT_EQ(render(&sum), "add(a,b)");
    exprFreeNode(&sum);
}

TEST_F(SplitTest, EvaluatesWhatItParses) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"1-2-3;", -4.0},     {"8/4/2;", 1.0},
        {"2+3*4;", 14.0},     {"-2*3;", -6.0},
        {"2*-3;", -6.0},      {"--5;", 5.0},
        {"a=b=4;a+b;", 8.0},  {"(1+2)*(3+4);", 21.0},
        {"max(1,7,3);", 7.0}, {"random(2,&q,3);", 203.0},
        {"x*(x=2);", 0.0},
    };
    for (const auto& c : cases) {
        exprClear(context);
        ASSERT_EQ(parse(c.text), EXPR_OK) << c.text;
        double value = -1.0;
        ASSERT_EQ(exprEvaluate(context, &value), EXPR_OK) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

}  // namespace
