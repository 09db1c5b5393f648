// What check tells people: hints for habits from other languages, warnings
// for texts that parse but do not mean what they say, and the report's form.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "examples/source_files.h"
#include "result_codes.h"

namespace quorvel::tools {
namespace {

bool anyContains(const std::vector<Remark>& remarks, const std::string& part) {
    for (const Remark& remark : remarks)
        if (remark.text.find(part) != std::string::npos) return true;
    return false;
}

// ---- The table of texts people type ----------------------------------------------------

struct Row {
    int line;  // in the table's file
    std::string expr;
    std::optional<std::string> init;
    std::string code, kind, place, wanted;
};

std::string unescaped(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char c = field[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

std::vector<Row> tableRows() {
    std::string file;
    if (!quorvel_test::readSourceFile("tools/tests/diagnosis_table.txt", file)) return {};
    std::vector<Row> rows;
    std::size_t start = 0;
    for (int line = 1; start < file.size(); ++line) {
        std::size_t end = file.find('\n', start);
        if (end == std::string::npos) end = file.size();
        const std::string text = file.substr(start, end - start);
        start = end + 1;
        if (text.empty() || text[0] == '#') continue;
        std::vector<std::string> fields;
        for (std::size_t from = 0;;) {
            const std::size_t tab = text.find('\t', from);
            fields.push_back(text.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
            if (tab == std::string::npos) break;
            from = tab + 1;
        }
        if (fields.size() != 6) {
            ADD_FAILURE() << "diagnosis_table.txt line " << line << " has " << fields.size() << " fields, not 6";
            continue;
        }
        const std::optional<std::string> init =
            fields[1] == "-" ? std::nullopt : std::optional<std::string>(unescaped(fields[1]));
        rows.push_back({line, unescaped(fields[0]), init, fields[2], fields[3], fields[4], fields[5]});
    }
    return rows;
}

// "LINE:COLUMN" of an offset, "init " before it on Init, "-" for none.
std::string placeOf(int32_t offset, const TextDiagnosis& d, const std::string& text) {
    if (offset < 0) return "-";
    const LineColumn at = lineColumnOf(text, offset);
    return (d.label == "Init" ? "init " : "") + std::to_string(at.line) + ":" + std::to_string(at.column);
}

TEST(Table, EveryTextGetsItsRemarkWhereItBelongs) {
    const std::vector<Row> rows = tableRows();
    ASSERT_GT(rows.size(), 50u) << "tools/tests/diagnosis_table.txt not found or cut short";
    for (const Row& row : rows) {
        SCOPED_TRACE("diagnosis_table.txt line " + std::to_string(row.line));
        const Diagnosis d = diagnose(row.expr, row.init);
        const std::string report = formatDiagnosis(row.expr, row.init, d);
        EXPECT_EQ(resultCodeName(d.code()), row.code) << report;
        std::vector<std::string> found;
        for (const TextDiagnosis& t : d.texts) {
            const std::vector<Remark>& remarks = row.kind == "hint"      ? t.hints
                                                 : row.kind == "warning" ? t.warnings
                                                                         : t.notes;
            const std::string& text = t.label == "Init" ? *row.init : row.expr;
            for (const Remark& remark : remarks)
                if (remark.text.find(row.wanted) != std::string::npos)
                    // A hint without a place of its own is at the failure's.
                    found.push_back(
                        placeOf(row.kind == "hint" && remark.offset < 0 ? t.report.offset : remark.offset, t, text));
        }
        ASSERT_FALSE(found.empty()) << "no " << row.kind << " saying \"" << row.wanted << "\"\n" << report;
        EXPECT_EQ(found.front(), row.place) << report;
        EXPECT_NE(report.find(row.kind + ": "), std::string::npos) << report;
    }
}

TEST(Hints, DepthLimitNamesTheLimit) {
    std::string sum = "out1 = u";
    for (int i = 0; i < 300; ++i) sum += " + u";
    const Diagnosis d = diagnose(sum + ";");
    ASSERT_EQ(d.code(), EXPR_ERR_SYNTAX);
    EXPECT_TRUE(anyContains(d.texts.back().hints, "256 levels"));
    EXPECT_GT(d.texts.back().report.offset, 0) << "the mark is not at the statement's start";
}

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

TEST(Report, NotesAnInputUsedAsMemoryWhereItIsAssigned) {
    const std::string text = "out1 = y;\ny = y + 1;";
    const std::string printed = formatDiagnosis(text, {}, diagnose(text));
    EXPECT_NE(printed.find("note: line 2, column 1: y is input y"), std::string::npos) << printed;
}

TEST(Report, EveryLineStaysOneLineWhenTheCulpritSpansABreak) {
    for (const std::string text : {"// note\nout1 = u;", "// note\r\nout1 = u;", "a = 1\nout1 = a;"}) {
        const std::string printed = formatDiagnosis(text, {}, diagnose(text));
        const std::size_t quote = printed.find(": \"");
        ASSERT_NE(quote, std::string::npos) << printed;
        const std::string line = printed.substr(quote, printed.find('\n', quote) - quote);
        EXPECT_NE(line.find("\xE2\x8F\x8E"), std::string::npos) << printed;
        EXPECT_EQ(line.back(), '"') << printed;
    }
}

TEST(Hints, NoneForWhatStandsInsideAnotherLanguagesComment) {
    // The ":" and "%" are refused, but the comment is what to mend.
    const Diagnosis d = diagnose("// gain: 50%\nout1 = u;");
    ASSERT_EQ(d.code(), EXPR_ERR_CHARACTER);
    ASSERT_EQ(d.texts.back().hints.size(), 1u) << formatDiagnosis("// gain: 50%\nout1 = u;", {}, d);
    EXPECT_EQ(d.texts.back().hints[0].offset, 0);
}

TEST(Hints, NoMissingSemicolonWhereALineGoesOnWithAnOperatorOrInsideParentheses) {
    for (const std::string text : {"a = 1\n+ 2; out1 = 2 ^ 3;", "out1 = max(u\nv, 1) + ;", "out1 = u\n* 2 +;"}) {
        const Diagnosis d = diagnose(text);
        ASSERT_NE(d.code(), EXPR_OK) << text;
        for (const Remark& hint : d.texts.back().hints)
            EXPECT_EQ(hint.text.find("missing"), std::string::npos) << formatDiagnosis(text, {}, d);
    }
}

TEST(Hints, DoubleMinusInsideAStatementIsASubtraction) {
    const Diagnosis d = diagnose("out1 = u --v * 2 +;");
    ASSERT_EQ(d.code(), EXPR_ERR_SYNTAX);
    EXPECT_FALSE(anyContains(d.texts.back().hints, "starts no comment"))
        << formatDiagnosis("out1 = u --v * 2 +;", {}, d);
}

// Texts of the language's characters and of other languages' habits, made
// at random: every remark lies in its text and every report line stays one.
TEST(Report, RandomTextsGetPlacesInsideThemAndOneLineQuotes) {
    const char* pieces[] = {"out1", " = ", "u",  "2",  "0.5", "+",    "-",        "*",      "/",     "(", ")",
                            ";",    "\n",  "//", "--", "<",   ">",    "+=",       "pi",     "sin(",  ",", "&s",
                            "x",    "e",   " ",  "#",  "%",   "\r\n", "\xC3\xA9", "si\nn(", "ti\nme"};
    std::uint32_t state = 12345;
    auto next = [&state]() { return state = state * 1664525u + 1013904223u; };
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        const int count = 1 + static_cast<int>(next() >> 28);
        for (int k = 0; k < count; ++k) text += pieces[(next() >> 16) % std::size(pieces)];
        SCOPED_TRACE(text);
        const Diagnosis d = diagnose(text);
        for (const TextDiagnosis& t : d.texts)
            for (const std::vector<Remark>* remarks : {&t.hints, &t.warnings, &t.notes})
                for (const Remark& remark : *remarks) {
                    EXPECT_EQ(remark.text.find_first_of("\r\n"), std::string::npos) << remark.text;
                    EXPECT_GE(remark.offset, -1);
                    EXPECT_GE(remark.length, 0);
                    if (remark.offset >= 0) {
                        EXPECT_LE(static_cast<std::size_t>(remark.offset + remark.length), text.size());
                    }
                }
        // The quoted culprit ends its line, and the source line follows it.
        const std::string printed = formatDiagnosis(text, {}, d);
        const std::size_t quote = printed.find(", statement ");
        if (quote != std::string::npos) {
            const std::size_t end = printed.find('\n', quote);
            EXPECT_EQ(printed[end - 1], '"') << printed;
            EXPECT_EQ(printed.compare(end + 1, 4, "    "), 0) << printed;
        }
        EXPECT_EQ(printed.find('\r'), std::string::npos) << printed;
    }
}

TEST(Json, CarriesTheCodePlaceAndEveryRemark) {
    const Diagnosis d = diagnose("x = x + 1; out1 = \"a\" + pi;", std::string("a = 1;"));
    const std::string json = diagnosisJson(d);
    EXPECT_EQ(json.rfind("{\"expr\":{\"code\":\"EXPR_ERR_CHARACTER\",\"offset\":18,\"length\":1,\"statement\":1,", 0),
              0u)
        << json;
    EXPECT_NE(json.find("\"hints\":[{\"text\":\"there are no strings"), std::string::npos) << json;
    EXPECT_NE(json.find("\"init\":{\"code\":\"EXPR_OK\",\"offset\":-1,\"length\":0,\"statement\":-1,\"hints\":[],"
                        "\"warnings\":[],\"notes\":[]}}"),
              std::string::npos)
        << json;
    const std::string parsed = diagnosisJson(diagnose("y = 1; out1 = y; <\"\\\n>", std::nullopt));
    EXPECT_NE(parsed.find("\"notes\":[{\"text\":\"y is input y"), std::string::npos) << parsed;
    EXPECT_NE(parsed.find("\"init\":null"), std::string::npos) << parsed;
}

}  // namespace
}  // namespace quorvel::tools
