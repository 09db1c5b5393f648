// What check tells people: hints for habits from other languages, warnings
// for texts that parse but do not mean what they say, and the report's form.
#include <gtest/gtest.h>

#include <string>

#include "diagnostics.h"

namespace quorvel::tools {
namespace {

bool anyContains(const std::vector<std::string>& lines, const std::string& part) {
    for (const std::string& line : lines)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

bool anyContains(const std::vector<Remark>& remarks, const std::string& part) {
    for (const Remark& remark : remarks)
        if (remark.text.find(part) != std::string::npos) return true;
    return false;
}

struct HintCase {
    const char* text;
    int32_t code;
    const char* hint;
};

// Each habit where people meet it, with the failure the engine reports.
const HintCase kHints[] = {
    {"out1 = 2 ^ 3;", EXPR_ERR_CHARACTER, "pow(a, b)"},
    {"out1 = 1e3;", EXPR_ERR_TOKEN, "write 1000"},
    {"out1 = 2.5E-3 * u;", EXPR_ERR_TOKEN, "no exponent"},
    {"out1 = if(x > 0, 1, 0);", EXPR_ERR_COMMENT, "above(x, 0)"},
    {"out1 = if(x < 0, 1, 0);", EXPR_ERR_COMMENT, "below(x, 0)"},
    {"out1 = if(x == 0, 1, 0);", EXPR_ERR_SYNTAX, "equal(a, b)"},
    {"out1 = if(x != 0, 1, 0);", EXPR_ERR_CHARACTER, "not(equal(a, b))"},
    {"out1 = u; // gain", EXPR_ERR_SEMICOLON, "// starts no comment"},
    {"# gain\nout1 = u;", EXPR_ERR_CHARACTER, "# starts no comment"},
    {"out1 = u % 2;", EXPR_ERR_CHARACTER, "mod(a, b)"},
    {"out1 = u ? 1 : 0;", EXPR_ERR_CHARACTER, "if(condition, then, else)"},
    {"out1 = u && v;", EXPR_ERR_TOKEN, "and(a, b)"},
    {"<gain -> level> out1 = u;", EXPR_ERR_COMMENT, "closes the comment here"},
    {"out1 = u || v;", EXPR_ERR_CHARACTER, "or(a, b)"},
    {"out1 = !u;", EXPR_ERR_CHARACTER, "not(x)"},
    {"out1 = rand(s);", EXPR_ERR_ARG_COUNT, "rand(&seed)"},
    {"out1 = random(0, 1, s);", EXPR_ERR_ARG_COUNT, "random(low, high, &seed)"},
    {"out1 = sinn(u);", EXPR_ERR_UNKNOWN_FUNCTION, "did you mean sin"},
    {"out1 = Sin(u);", EXPR_ERR_UNKNOWN_FUNCTION, "did you mean sin"},
    {"out1 = sin(u, v);", EXPR_ERR_ARG_COUNT, "sin takes 1 value"},
    {"out1 = max();", EXPR_ERR_ARG_COUNT, "max takes 1 or more values"},
    {"time = 1;", EXPR_ERR_CONST_ASSIGN, "can only be read"},
};

class Hints : public testing::TestWithParam<HintCase> {};

TEST_P(Hints, NameTheHabit) {
    const Diagnosis d = diagnose(GetParam().text);
    ASSERT_EQ(d.code(), GetParam().code);
    EXPECT_TRUE(anyContains(d.texts.back().hints, GetParam().hint)) << formatDiagnosis(GetParam().text, {}, d);
}

INSTANTIATE_TEST_SUITE_P(Habits, Hints, testing::ValuesIn(kHints));

TEST(Hints, DepthLimitNamesTheLimit) {
    std::string sum = "out1 = u";
    for (int i = 0; i < 300; ++i) sum += " + u";
    const Diagnosis d = diagnose(sum + ";");
    ASSERT_EQ(d.code(), EXPR_ERR_SYNTAX);
    EXPECT_TRUE(anyContains(d.texts.back().hints, "256 levels"));
    EXPECT_GT(d.texts.back().report.offset, 0) << "the mark is not at the statement's start";
}

struct WarningCase {
    const char* expr;
    const char* init;  // null: no Init
    const char* warning;
};

const WarningCase kWarnings[] = {
    {"level = 5;\ngain = level\nout1 = u * gain;", nullptr, "levelout1"},
    {"out1 = u; g = 1 0;", nullptr, "read as one name or number"},
    {"out1 = u; out4 = v;", nullptr, "out4 is no output"},
    {"Out1 = u;", nullptr, "Out1 is no output"},
    {"a = u * 2;", nullptr, "never assign out1, out2 or out3"},
    {"out1 = u * gain;", nullptr, "gain is read but never written"},
    {"out1 = u * gain;", "other = 1;", "gain is read but never written in Init or Expr"},
    {"<a -> b <c> out1 = u;", nullptr, "closes the comment here"},
    {"<a <= b> c> out1 = u;", nullptr, "opens a comment nested"},
};

class Warnings : public testing::TestWithParam<WarningCase> {};

TEST_P(Warnings, ForTextsThatParseButMislead) {
    const WarningCase& c = GetParam();
    const std::optional<std::string> init = c.init ? std::optional<std::string>(c.init) : std::nullopt;
    const Diagnosis d = diagnose(c.expr, init);
    std::vector<Remark> all;
    for (const TextDiagnosis& t : d.texts) all.insert(all.end(), t.warnings.begin(), t.warnings.end());
    EXPECT_TRUE(anyContains(all, c.warning)) << formatDiagnosis(c.expr, init, d);
}

INSTANTIATE_TEST_SUITE_P(Traps, Warnings, testing::ValuesIn(kWarnings));

TEST(Warnings, NoneForAPlainPatch) {
    const Diagnosis d = diagnose("phase = fpart(phase + 440 / rate);\nout1 = sin(2 * M_PI * phase); <a comment>");
    ASSERT_EQ(d.code(), EXPR_OK);
    EXPECT_TRUE(d.texts.back().warnings.empty()) << formatDiagnosis("", {}, d);
}

TEST(Warnings, InitSetsWhatExprReads) {
    const Diagnosis d = diagnose("out1 = u * gain;", std::string("gain = 2;"));
    ASSERT_EQ(d.code(), EXPR_OK);
    for (const TextDiagnosis& t : d.texts) EXPECT_FALSE(anyContains(t.warnings, "never written")) << t.label;
}

TEST(Report, LineColumnAndUnderlineAtTheCulprit) {
    const std::string text = "a = 1;\n  out1 = sinn(u);\n";
    const std::string out = formatDiagnosis(text, {}, diagnose(text));
    EXPECT_NE(out.find("EXPR_ERR_UNKNOWN_FUNCTION"), std::string::npos) << out;
    EXPECT_NE(out.find("line 2, column 10"), std::string::npos) << out;
    EXPECT_NE(out.find("      out1 = sinn(u);\n             ^^^^\n"), std::string::npos) << out;
    EXPECT_NE(out.find("hint: did you mean sin"), std::string::npos) << out;
}

TEST(Report, ColumnsCountCharactersNotBytes) {
    const std::string text = "<é> out1 = u %;";
    const Diagnosis d = diagnose(text);
    ASSERT_EQ(d.code(), EXPR_ERR_CHARACTER);
    EXPECT_EQ(lineColumnOf(text, d.texts.back().report.offset).column, 14);
}

// ---- Where a parse fails ---------------------------------------------------------------

struct Located {
    const char* text;
    int32_t code;
    int32_t statement;  // 1-based; 0: no place
    int32_t line, column;
};

TEST(Report, FindsTheStatementAndPlaceOfEveryKindOfFailure) {
    const Located cases[] = {
        {"a = 1;\nb = 2 % 3;", EXPR_ERR_CHARACTER, 2, 2, 7},
        {"a = 1; < open\nb = 2;", EXPR_ERR_COMMENT, 2, 1, 8},
        {"a = 1; > b = 2;", EXPR_ERR_COMMENT, 2, 1, 8},
        {"a = (1;", EXPR_ERR_SYNTAX, 1, 1, 5},
        {"a = 1;;", EXPR_ERR_SYNTAX, 2, 1, 7},
        {"a = 1); b = 2;", EXPR_ERR_PARENTHESES, 1, 1, 6},
        {"a = (1 + (2);", EXPR_ERR_SYNTAX, 1, 1, 5},
        {"a = ((1 + 2)", EXPR_ERR_PARENTHESES, 1, 1, 5},
        {"a = 1; b = 2", EXPR_ERR_SEMICOLON, 2, 1, 8},
        {"a = 1;\n  b = max(1, );", EXPR_ERR_SYNTAX, 2, 2, 12},
        {"a=1; b=2; c = nosuch(1);", EXPR_ERR_UNKNOWN_FUNCTION, 3, 1, 15},
        {"a=1; b = sin(1, 2); c = 1;", EXPR_ERR_ARG_COUNT, 2, 1, 10},
        {"time = 1;", EXPR_ERR_CONST_ASSIGN, 1, 1, 1},
        {"a = rand(&rate);", EXPR_ERR_CONST_REF, 1, 1, 10},
        {"<c> a = 1e5;", EXPR_ERR_TOKEN, 1, 1, 9},
        {"   ", EXPR_ERR_EMPTY, 0, 0, 0},
        {"", EXPR_ERR_EMPTY, 0, 0, 0},
    };
    for (const Located& c : cases) {
        SCOPED_TRACE(c.text);
        const ExprParseReport report = diagnose(c.text).texts.back().report;
        EXPECT_EQ(report.code, c.code);
        if (c.statement == 0) {
            EXPECT_EQ(report.statement, -1);
            continue;
        }
        EXPECT_EQ(report.statement + 1, c.statement);
        ASSERT_GE(report.offset, 0);
        const LineColumn at = lineColumnOf(c.text, report.offset);
        EXPECT_EQ(at.line, c.line);
        EXPECT_EQ(at.column, c.column);
    }
}

TEST(Report, EndsTheTextAtAZeroByteAsTheModuleDoes) {
    EXPECT_EQ(diagnose(std::string("a = 1;\0 b % 2", 13)).code(), EXPR_OK);
}

TEST(Report, ListsWhatATextReadsWritesAndCreates) {
    const std::string text = "phase = fpart(phase + f / rate); out1 = sin(phase) * u; n = rand(&s);";
    const Diagnosis d = diagnose(text);
    ASSERT_EQ(d.code(), EXPR_OK);
    const TextDiagnosis& t = d.texts.back();
    EXPECT_EQ(t.statements, 3);
    EXPECT_EQ(t.reads, (std::vector<std::string>{"phase", "f", "u", "s"}));
    EXPECT_EQ(t.writes, (std::vector<std::string>{"phase", "out1", "n", "s"}));
    EXPECT_EQ(t.creates, (std::vector<std::string>{"phase", "f", "n", "s"}));
    EXPECT_EQ(t.constants, (std::vector<std::string>{"rate"}));
    const std::string printed = formatDiagnosis(text, {}, d);
    EXPECT_NE(printed.find("f is read but never written"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("phase is read but never"), std::string::npos) << printed;
}

TEST(Report, NotesAnInputUsedAsMemory) {
    const std::string printed = formatDiagnosis("y = y + 1; out1 = y;", {}, diagnose("y = y + 1; out1 = y;"));
    EXPECT_NE(printed.find("note: y is input y"), std::string::npos) << printed;
}

}  // namespace
}  // namespace quorvel::tools
