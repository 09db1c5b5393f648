// exprParseWithReport: the place of a failure in the caller's own text, and
// a parse identical to exprParse's.
#include "parser_support.h"

namespace quorvel_test {
namespace {

struct ReportCase {
    const char* text;
    int32_t code;
    const char* culprit;  // the bytes the report must mark
    const char* after;    // the culprit is its first occurrence from here on ("" from the start)
    int32_t statement;
};

// Each code where the parser finds it, at the start, in the middle and at the
// end of a text, and behind blanks, line breaks and comments.
const ReportCase kCases[] = {
    // Characters, comments, an empty text.
    {"out1 = 2 ^ 3;", EXPR_ERR_CHARACTER, "^", "", 0},
    {"a = 1;\nb = a % 2;", EXPR_ERR_CHARACTER, "%", "", 1},
    {"x = 1; <note> y = 1 \xd9\xab 5;", EXPR_ERR_CHARACTER, "\xd9\xab", "", 1},
    {"#x = 1;", EXPR_ERR_CHARACTER, "#", "", 0},
    {"a = 1; b = 2 > 1;", EXPR_ERR_COMMENT, ">", "", 1},
    {"a = 1; <open <nested> b = 2;", EXPR_ERR_COMMENT, "<", "", 1},
    {"  <only a comment>  ", EXPR_ERR_EMPTY, "  <only a comment>  ", "", -1},
    // The statement list.
    {"a = (1 + 2", EXPR_ERR_PARENTHESES, "(", "", 0},
    {"a = (1 + 2;", EXPR_ERR_SYNTAX, "(1 + 2;", "", 0},
    {"a = 1; b = 2);", EXPR_ERR_PARENTHESES, ")", "", 1},
    {"a = 1; ;", EXPR_ERR_SYNTAX, ";", " ;", 1},
    {";a = 1;", EXPR_ERR_SYNTAX, ";", "", 0},
    {"a = max(1; 2);", EXPR_ERR_SYNTAX, "(1;", "", 0},
    {"a = 1;\nb = 2\n", EXPR_ERR_SEMICOLON, "b = 2", "", 1},
    {"a = 1; // note", EXPR_ERR_SEMICOLON, "// note", "", 1},
    // Inside a statement.
    {"out1 = sinn(u);", EXPR_ERR_UNKNOWN_FUNCTION, "sinn", "", 0},
    {"a = 1; <call> b = 2 * foo(a) + 1;", EXPR_ERR_UNKNOWN_FUNCTION, "foo", "", 1},
    {"a = rand(u);", EXPR_ERR_ARG_COUNT, "rand(u)", "", 0},
    {"a = 1;\n\nb = sin(1, 2) * 3;", EXPR_ERR_ARG_COUNT, "sin(1, 2)", "", 1},
    {"a = 1e3;", EXPR_ERR_TOKEN, "1e3", "", 0},
    {"a = 1; b = 1.2.3 + a;", EXPR_ERR_TOKEN, "1.2.3", "", 1},
    {"a = 1 +;", EXPR_ERR_SYNTAX, "+", "", 0},
    {"a = 1; b = * 2;", EXPR_ERR_SYNTAX, "*", "", 1},
    {"a = max(1,,2);", EXPR_ERR_SYNTAX, ",", ",", 0},
    {"a = (1)2;", EXPR_ERR_SYNTAX, "2", "(1)", 0},
    {"a = max(1)b;", EXPR_ERR_SYNTAX, "b", "", 0},
    {"a = max(1, 2 & u);", EXPR_ERR_SYNTAX, "&", "", 0},
    {"1 = a;", EXPR_ERR_TOKEN, "1", "", 0},
    {"a = 1; M_PI = 3;", EXPR_ERR_CONST_ASSIGN, "M_PI", "", 1},
    {"a = rand(&time);", EXPR_ERR_CONST_REF, "&time", "", 0},
    {"a = rand(&1x);", EXPR_ERR_TOKEN, "&1x", "", 0},
};

class Reports : public ParserTest, public testing::WithParamInterface<ReportCase> {};

TEST_P(Reports, MarkTheCulpritInTheOriginalText) {
    const ReportCase& c = GetParam();
    const std::string text = c.text;
    ExprParseReport report{};
    ASSERT_EQ(exprParseWithReport(context, text.c_str(), &report), c.code);
    EXPECT_EQ(report.code, c.code);
    const std::size_t from = text.find(c.after);
    const std::size_t expected = text.find(c.culprit, from == std::string::npos ? 0 : from);
    ASSERT_NE(expected, std::string::npos) << "bad case";
    EXPECT_EQ(report.offset, static_cast<int32_t>(expected));
    // A culprit that spans a blank or a comment ends at its last kept byte.
    EXPECT_EQ(report.length, static_cast<int32_t>(std::string(c.culprit).size()))
        << "marked: " << text.substr(report.offset < 0 ? 0 : report.offset, report.length > 0 ? report.length : 0);
    EXPECT_EQ(report.statement, c.statement);
}

INSTANTIATE_TEST_SUITE_P(EveryCode, Reports, testing::ValuesIn(kCases));

// The depth limit marks the construct that passed it, not the statement's start.
TEST_F(Reports, DepthLimitMarksTheConstructBeyondIt) {
    struct Deep {
        std::string text;
        std::size_t from, to;  // the mark lies inside
    };
    const std::string groups = "a = 1;\nb = " + repeat("(", 300) + "u" + repeat(")", 300) + ";";
    const std::string sum = "a = 1;\nb = u" + repeat(" + u", 300) + ";";
    const std::string chain = "a = 1;\n" + repeat("b = ", 300) + "1;";
    for (const Deep& d :
         {Deep{groups, groups.find('(') + 200, groups.find('u', 8)}, Deep{sum, sum.find("b =") + 4, sum.size() - 1},
          Deep{chain, chain.find("b =") + 200 * 4, chain.size() - 1}}) {
        exprClear(context);
        ExprParseReport report{};
        ASSERT_EQ(exprParseWithReport(context, d.text.c_str(), &report), EXPR_ERR_SYNTAX);
        EXPECT_GE(report.offset, static_cast<int32_t>(d.from)) << d.text.substr(0, 40);
        EXPECT_LT(report.offset, static_cast<int32_t>(d.to)) << d.text.substr(0, 40);
        EXPECT_EQ(report.statement, 1);
    }
}

TEST_F(Reports, NoPlaceForSuccessOrAContextInTheWay) {
    ExprParseReport report{};
    EXPECT_EQ(exprParseWithReport(context, "a = 1;", &report), EXPR_OK);
    EXPECT_EQ(report.offset, -1);
    EXPECT_EQ(report.statement, -1);
    EXPECT_EQ(exprParseWithReport(context, "a = +;", &report), EXPR_ERR_BUSY);
    EXPECT_EQ(report.offset, -1);
    exprClear(context);
    EXPECT_EQ(exprParseWithReport(context, "a = +;", &report), EXPR_ERR_SYNTAX);
    EXPECT_EQ(exprParseWithReport(context, "a = 1;", &report), EXPR_ERR_FAILED);
    EXPECT_EQ(report.offset, -1) << "the earlier failure is not reported again";
    exprClear(context);
    EXPECT_EQ(exprParseWithReport(context, "", &report), EXPR_ERR_EMPTY);
    EXPECT_EQ(report.offset, 0);
    EXPECT_EQ(report.length, 0);
    EXPECT_EQ(exprParseWithReport(context, nullptr, &report), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(report.offset, -1);
    EXPECT_EQ(exprParseWithReport(context, "a = 1;", nullptr), EXPR_OK);
}

// What a parse leaves behind, rendered so that two parses compare as strings.
struct Outcome {
    int32_t code;
    std::string state;

    bool operator==(const Outcome&) const = default;
};

void collectNames(const VarEntry* entry, std::string& out) {
    if (!entry) return;
    collectNames(entry->left, out);
    out += std::string(entry->name) + " ";
    collectNames(entry->right, out);
}

class SameParse : public ParserTest {
protected:
    // Parses text in fresh tables and a fresh context with parse, and renders
    // the code, the context's state, the partial tree and the variables.
    template <class Parse> Outcome outcome(const char* text, Parse parse) {
        TearDown();
        SetUp();
        const int32_t code = parse(context, text);
        std::string state = std::to_string(context->parsed) + "/" + std::to_string(context->failed) + "/" +
                            std::to_string(context->failFirst) + "-" + std::to_string(context->failLast) + "/" +
                            std::to_string(context->failStatement) + " tree:";
        if (context->root)
            for (int32_t i = 0; i < context->root->argCount; ++i) state += " " + render(&context->root->args[i]);
        state += " names: ";
        collectNames(static_cast<const VarEntry*>(variables->root), state);
        return {code, state};
    }
};

TEST_F(SameParse, CodeTreeVariablesAndStateEqualExprParse) {
    for (const ReportCase& c : kCases) {
        const Outcome plain = outcome(c.text, [](ExprContext* x, const char* t) { return exprParse(x, t); });
        const Outcome reported = outcome(c.text, [](ExprContext* x, const char* t) {
            ExprParseReport report;
            return exprParseWithReport(x, t, &report);
        });
        EXPECT_EQ(plain, reported) << c.text << "\n" << plain.state << "\n" << reported.state;
    }
}

}  // namespace
}  // namespace quorvel_test
