// The parsing entry: blanks, comments, the alphabet, the statement list and
// the context states.

#include <string>

#include "engine/internal.h"
#include "tests/parser/parser_support.h"

using namespace quorvel_test;

namespace {

struct TextCase {
    const char* text;
    int32_t code;
};

using EntryTest = ParserTest;

TEST_F(EntryTest, WholeTextsGiveTheirCodes) {
    const TextCase cases[] = {
        {"", EXPR_ERR_EMPTY},
        {" \t\r\n\v\f\a\b", EXPR_ERR_EMPTY},
        {"<note>", EXPR_ERR_EMPTY},
        {"<a;b(>", EXPR_ERR_EMPTY},
        {"a=1;<note", EXPR_ERR_COMMENT},
        {"a=1;>", EXPR_ERR_COMMENT},
        {"a=1;<<x>", EXPR_ERR_COMMENT},
        {"><a=1;", EXPR_ERR_COMMENT},
        {"<a<b>c>a=1;", EXPR_OK},
        {"<%$#@!\"'\x80\xff;((>a=1;", EXPR_OK},
        {"a=b%2;", EXPR_ERR_CHARACTER},
        {"a=b<%>2;", EXPR_OK},
        {"a=b\x80;", EXPR_ERR_CHARACTER},
        {"a=\xff;", EXPR_ERR_CHARACTER},
        {"a=b[1];", EXPR_ERR_CHARACTER},
        {"a=\"1\";", EXPR_ERR_CHARACTER},
        {"a=\x01\x06;", EXPR_ERR_CHARACTER},  // control bytes below the blanks
        {"a=1", EXPR_ERR_SEMICOLON},
        {"a=1;b=2", EXPR_ERR_SEMICOLON},
        {"a=1;;", EXPR_ERR_SYNTAX},
        {";a=1;", EXPR_ERR_SYNTAX},
        {";", EXPR_ERR_SYNTAX},
        {"a=1; ;", EXPR_ERR_SYNTAX},
        {"(a;", EXPR_ERR_SYNTAX},
        {"(a;)", EXPR_ERR_SYNTAX},
        {"a);", EXPR_ERR_PARENTHESES},
        {"(a);(", EXPR_ERR_PARENTHESES},
        {"(a", EXPR_ERR_PARENTHESES},
        {"u;", EXPR_OK},
        {"u;v;w;", EXPR_OK},
        {"a=1;b=a+1;", EXPR_OK},
    };
    for (const TextCase& c : cases) {
        exprClear(context);
        EXPECT_EQ(parse(c.text), c.code) << "text: " << c.text;
    }
}

TEST_F(EntryTest, BlanksAndCommentsJoinWhatSurroundsThem) {
    ASSERT_EQ(parse("a = b <x> c;\n x<1>y = 1 000 + 2<a<b>c>5;"), EXPR_OK);
    ASSERT_EQ(context->root->argCount, 2);
    EXPECT_EQ(render(&context->root->args[0]), "set(a,bc)");
    EXPECT_EQ(render(&context->root->args[1]), "set(xy,add(1000,25))");
    EXPECT_EQ(variable("b"), nullptr);
}

TEST_F(EntryTest, StripRewritesInPlace) {
    char text[] = " a\t<x <y> z>b ;\r\n";
    EXPECT_EQ(exprStripText(text), EXPR_OK);
    EXPECT_STREQ(text, "ab;");
    char closing[] = "a>b";
    EXPECT_EQ(exprStripText(closing), EXPR_ERR_COMMENT);
    EXPECT_EQ(exprStripText(nullptr), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprCheckCharacters(nullptr), EXPR_ERR_ARGUMENT);
    ExprNode root{};
    EXPECT_EQ(exprParseStatements(nullptr, &root, "a;"), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprParseStatements(context, nullptr, "a;"), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprParseStatements(context, &root, nullptr), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(root.kind, 0);
}

TEST_F(EntryTest, AlphabetIsJudgedByUnsignedByte) {
    EXPECT_EQ(exprCheckCharacters(""), EXPR_OK);
    EXPECT_EQ(exprCheckCharacters("AZaz09_.+-*/()&;,="), EXPR_OK);
    for (int byte = 1; byte < 256; ++byte) {
        const char text[2] = {static_cast<char>(byte), '\0'};
        const bool allowed = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                             (byte >= '0' && byte <= '9') ||
                             std::string("_.+-*/()&;,=").find(char(byte)) != std::string::npos;
        EXPECT_EQ(exprCheckCharacters(text), allowed ? EXPR_OK : EXPR_ERR_CHARACTER) << "byte " << byte;
    }
}

TEST_F(EntryTest, RootCallsTheStatementSequenceDirectly) {
    ASSERT_EQ(parse("out1 = -u * (v + 1); <note> out2 = max(u, v, w);"), EXPR_OK);
    EXPECT_EQ(context->parsed, 1);
    EXPECT_EQ(context->failed, 0);
    ExprNode* root = context->root;
    EXPECT_EQ(root->function, builtinMany);
    EXPECT_EQ(root->refs, nullptr);
    EXPECT_EQ(root->refCount, 0);
    EXPECT_EQ(render(root), "many(set(out1,mul(neg(u),add(v,1))),set(out2,max(u,v,w)))");
}

TEST_F(EntryTest, RootWorksWithoutManyInTheFunctionTable) {
    ExprContext* bare = nullptr;
    ASSERT_EQ(exprNewContext(&bare, nullptr, variables, nullptr, 0, nullptr, nullptr), EXPR_OK);
    ASSERT_EQ(exprParse(bare, "u=2;u*3;"), EXPR_OK);
    double value = 0.0;
    EXPECT_EQ(exprEvaluate(bare, &value), EXPR_OK);
    EXPECT_EQ(value, 6.0);
    exprFreeContext(bare);
}

TEST_F(EntryTest, StatesBusyFailedAndClear) {
    EXPECT_EQ(exprParse(nullptr, "a;"), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(parse("a;"), EXPR_OK);
    EXPECT_EQ(parse("b;"), EXPR_ERR_BUSY);
    EXPECT_EQ(exprParse(context, nullptr), EXPR_ERR_BUSY);  // state first, then the text
    exprClear(context);
    EXPECT_EQ(context->root, nullptr);
    EXPECT_EQ(parse("a+;"), EXPR_ERR_SYNTAX);
    EXPECT_EQ(context->failed, 1);
    EXPECT_EQ(context->parsed, 0);
    EXPECT_NE(context->root, nullptr);  // the partial tree is kept
    EXPECT_EQ(parse("a;"), EXPR_ERR_FAILED);
    double value = 0.0;
    EXPECT_EQ(exprEvaluate(context, &value), EXPR_ERR_NOT_READY);
    exprClear(context);
    EXPECT_EQ(parse("a;"), EXPR_OK);
}

TEST_F(EntryTest, EarlyFailuresLeaveTheContextEmpty) {
    const TextCase early[] = {
        {"", EXPR_ERR_EMPTY},      {"<x>", EXPR_ERR_EMPTY},      {"a;<", EXPR_ERR_COMMENT},
        {"a;>", EXPR_ERR_COMMENT}, {"a=%;", EXPR_ERR_CHARACTER},
    };
    for (const TextCase& c : early) {
        EXPECT_EQ(parse(c.text), c.code) << c.text;
        EXPECT_EQ(context->root, nullptr) << c.text;
        EXPECT_EQ(context->parsed, 0) << c.text;
        EXPECT_EQ(context->failed, 0) << c.text;
    }
    EXPECT_EQ(exprParse(context, nullptr), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(context->root, nullptr);
    EXPECT_EQ(parse("a;"), EXPR_OK);  // no clear needed
}

TEST_F(EntryTest, StatementFailureKeepsPartialTreeAndLaterStatementsUnfilled) {
    EXPECT_EQ(parse("a=1;b=1.2.3;c=3;"), EXPR_ERR_TOKEN);
    ASSERT_NE(context->root, nullptr);
    EXPECT_EQ(render(context->root), "many(set(a,1),set(b,_),_)");
    EXPECT_NE(variable("a"), nullptr);
    EXPECT_NE(variable("b"), nullptr);  // created before the value failed
    EXPECT_EQ(variable("c"), nullptr);
}

TEST_F(EntryTest, CallersTextIsNotModified) {
    const std::string original = "a = 1 <c> ;";
    std::string text = original;
    EXPECT_EQ(exprParse(context, text.c_str()), EXPR_OK);
    EXPECT_EQ(text, original);
}

TEST_F(EntryTest, ManyStatementsParseAndRunInOrder) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "s = s + " + std::to_string(i % 7) + ";\n";
    ASSERT_EQ(parse(text), EXPR_OK);
    EXPECT_EQ(context->root->argCount, 2000);
    double value = 0.0;
    ASSERT_EQ(exprEvaluate(context, &value), EXPR_OK);
    double expected = 0.0;
    for (int i = 0; i < 2000; ++i) expected += i % 7;
    EXPECT_EQ(value, expected);
    EXPECT_EQ(*variable("s"), expected);
}

TEST_F(EntryTest, EndToEnd) {
    *variable("u") = 3.0;
    *variable("v") = 5.0;
    ASSERT_EQ(parse("out1 = (u + v) * 0.5; out2 = -out1;"), EXPR_OK);
    double value = 0.0;
    ASSERT_EQ(exprEvaluate(context, &value), EXPR_OK);
    EXPECT_EQ(*variable("out1"), 4.0);
    EXPECT_EQ(*variable("out2"), -4.0);
    EXPECT_EQ(value, -4.0);
}

}  // namespace
