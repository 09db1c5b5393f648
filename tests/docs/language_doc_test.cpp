// docs/language.md, checked against the module's own engine (ModuleEngine:
// its tables and bound names, its contexts and their budgets). Every example
// in a ```quorvel box is parsed and evaluated, and its value must be the one
// the document states:
//
//     max(3, 1, 2);          → 3
//     n = n + 1;             → 1, 2, 3        (values at successive samples)
//     sqrt(2);               → ≈ 1.41421      (to the digits written)
//     a = 1                  → EXPR_ERR_SEMICOLON
//     held;                  → 0, 2, 2  when u is 1, 2, 3 and v is 0, 5, 5
//                                       (set before each sample, as inputs are)
//
// Lines without "→" belong to the example the next "→" line ends. The
// examples of one box share their variables, as Init and Expr do; each
// starts at sample 0 with rate 48000.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "examples/source_files.h"
#include "expr.h"
#include "module_engine.h"

namespace {

using quorvel::module::ModuleEngine;

constexpr const char* kArrow = "\xE2\x86\x92";  // →
constexpr const char* kAbout = "\xE2\x89\x88";  // ≈
constexpr double kRate = 48000.0;

// ---- The module's engine ------------------------------------------------------------

// The examples read the value of a text, which the module's per-sample step
// does not give out, so they evaluate the engine's contexts themselves,
// setting time and sample before each sample as the step does. A fresh
// engine counts Init's abort polls from zero, as the module does before
// every evaluation.
struct Instance {
    ModuleEngine engine;
    double* time = nullptr;
    double* sample = nullptr;

    Instance() {
        EXPECT_TRUE(engine.ready());
        engine.restart(static_cast<float>(kRate));
        exprFindVariable(engine.constants(), "time", &time);
        exprFindVariable(engine.constants(), "sample", &sample);
    }
};

// A variable set before each sample, as the module sets its inputs.
struct Feed {
    std::string name;
    std::vector<double> values;  // one per sample
};

enum class Pin { Expr, Init };

// Parses the text into the pin's context and evaluates it `times` samples;
// the parse code, or the first failing evaluation's code, or EXPR_OK with
// the values.
int32_t run(Instance& instance, const std::string& text, int times, std::vector<double>& values,
            const std::vector<Feed>& feeds = {}, Pin pin = Pin::Expr) {
    ModuleEngine& engine = instance.engine;
    ExprContext* context = pin == Pin::Init ? engine.initContext() : engine.exprContext();
    int32_t code = pin == Pin::Init ? engine.parseInit(text.c_str()) : engine.parseExpr(text.c_str());
    double time = 0.0;
    for (int n = 0; n < times && code == EXPR_OK; ++n) {
        *instance.time = time;
        *instance.sample = n;
        for (const Feed& feed : feeds) exprSetVariable(engine.variables(), feed.name.c_str(), feed.values[n]);
        double value = 0.0;
        code = exprEvaluate(context, &value);
        values.push_back(value);
        time += 1.0 / kRate;
    }
    return code;
}

// ---- Reading the document -------------------------------------------------------

struct Expected {
    bool about = false;  // "≈": to the digits written
    std::string text;    // as written
};

struct Example {
    int line = 0;  // of the "→"
    int box = 0;
    std::string text;
    std::string codeName;  // a result code, or empty
    std::vector<Expected> values;
    std::vector<Feed> feeds;
};

std::string trim(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::vector<std::string> splitAt(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(trim(text.substr(start, at == std::string::npos ? std::string::npos : at - start)));
        if (at == std::string::npos) return parts;
        start = at + separator.size();
    }
}

bool parseStated(const std::string& text, double& value) {
    if (text == "NaN") return value = NAN, true;
    if (text == "inf") return value = INFINITY, true;
    if (text == "-inf") return value = -INFINITY, true;
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0';
}

// "u is 1, 2, 3 and v is 0, 5, 5": empty on success, else what is wrong.
std::string parseFeeds(const std::string& text, std::size_t samples, std::vector<Feed>& feeds) {
    for (const std::string& part : splitAt(text, " and ")) {
        const std::size_t is = part.find(" is ");
        if (is == std::string::npos) return "\"" + part + "\" is not \"NAME is VALUES\"";
        Feed feed{trim(part.substr(0, is)), {}};
        for (const std::string& item : splitAt(part.substr(is + 4), ",")) {
            double value = 0.0;
            if (!parseStated(item, value)) return "cannot read the value \"" + item + "\" of " + feed.name;
            feed.values.push_back(value);
        }
        if (feed.values.size() != samples) return feed.name + " needs one value per stated sample";
        feeds.push_back(feed);
    }
    return {};
}

struct Document {
    std::string text;
    std::vector<Example> examples;
    std::vector<std::string> problems;
};

const Document& document() {
    static const Document doc = [] {
        Document d;
        if (!quorvel_test::readSourceFile("docs/language.md", d.text)) {
            d.problems.push_back("docs/language.md not found");
            return d;
        }
        const std::vector<std::string> all = lines(d.text);
        bool inBox = false;
        int box = 0;
        std::string pending;
        for (std::size_t i = 0; i < all.size(); ++i) {
            const std::string& line = all[i];
            const std::string lineNo = "line " + std::to_string(i + 1);
            if (!inBox) {
                if (trim(line) == "```quorvel") {
                    inBox = true;
                    ++box;
                }
                continue;
            }
            if (trim(line) == "```") {
                if (!trim(pending).empty()) d.problems.push_back(lineNo + ": an example without \xE2\x86\x92");
                pending.clear();
                inBox = false;
                continue;
            }
            const std::size_t arrow = line.rfind(kArrow);
            if (arrow == std::string::npos) {
                if (trim(line).empty() && !trim(pending).empty())
                    d.problems.push_back(lineNo + ": an example without \xE2\x86\x92");
                if (trim(line).empty())
                    pending.clear();
                else
                    pending += line + "\n";
                continue;
            }
            Example example;
            example.line = static_cast<int>(i + 1);
            example.box = box;
            example.text = pending + line.substr(0, arrow);
            pending.clear();
            std::string expected = trim(line.substr(arrow + std::strlen(kArrow)));
            const std::size_t when = expected.find(" when ");
            const std::string fed = when == std::string::npos ? "" : expected.substr(when + 6);
            expected = trim(expected.substr(0, when));
            if (expected.rfind("EXPR_", 0) == 0) {
                example.codeName = expected;
            } else {
                std::size_t start = 0;
                while (start <= expected.size()) {
                    std::size_t comma = expected.find(',', start);
                    if (comma == std::string::npos) comma = expected.size();
                    std::string item = trim(expected.substr(start, comma - start));
                    Expected value;
                    if (item.rfind(kAbout, 0) == 0) {
                        value.about = true;
                        item = trim(item.substr(std::strlen(kAbout)));
                    }
                    value.text = item;
                    example.values.push_back(value);
                    start = comma + 1;
                }
            }
            if (!fed.empty()) {
                if (const std::string problem = parseFeeds(fed, example.values.size(), example.feeds); !problem.empty())
                    d.problems.push_back(lineNo + ": " + problem);
            }
            d.examples.push_back(example);
        }
        if (inBox) d.problems.push_back("a ```quorvel box is not closed");
        return d;
    }();
    return doc;
}

// ---- Values as written ------------------------------------------------------------

// Half a unit in the last digit written: "0.7616" allows 0.00005.
double halfLastDigit(const std::string& text) {
    const std::size_t point = text.find('.');
    const std::size_t exponent = text.find_first_of("eE");
    const std::size_t mantissaEnd = exponent == std::string::npos ? text.size() : exponent;
    int decimals = point == std::string::npos || point > mantissaEnd ? 0 : static_cast<int>(mantissaEnd - point - 1);
    int power = exponent == std::string::npos ? 0 : std::atoi(text.c_str() + exponent + 1);
    return 0.5 * std::pow(10.0, power - decimals);
}

::testing::AssertionResult matches(const Expected& expected, double actual) {
    double stated = 0.0;
    if (!parseStated(expected.text, stated))
        return ::testing::AssertionFailure() << "cannot read the stated value \"" << expected.text << "\"";
    if (std::isnan(stated) || std::isnan(actual)) {
        if (std::isnan(stated) && std::isnan(actual)) return ::testing::AssertionSuccess();
    } else if (expected.about ? std::fabs(actual - stated) <= halfLastDigit(expected.text) : actual == stated) {
        return ::testing::AssertionSuccess();
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", actual);
    return ::testing::AssertionFailure() << "the engine gives " << text;
}

const char* codeName(int32_t code) {
    switch (code) {
// clang-format off
#define NAME(c) case c: return #c;
        NAME(EXPR_OK) NAME(EXPR_ERR_MEMORY) NAME(EXPR_ERR_ARGUMENT) NAME(EXPR_ERR_NOT_FOUND)
        NAME(EXPR_ERR_COMMENT) NAME(EXPR_ERR_CHARACTER) NAME(EXPR_ERR_FAILED) NAME(EXPR_ERR_BUSY)
        NAME(EXPR_ERR_EMPTY) NAME(EXPR_ERR_PARENTHESES) NAME(EXPR_ERR_SYNTAX) NAME(EXPR_ERR_SEMICOLON)
        NAME(EXPR_ERR_TOKEN) NAME(EXPR_ERR_UNKNOWN_FUNCTION) NAME(EXPR_ERR_ARG_COUNT) NAME(EXPR_ERR_NOT_READY)
        NAME(EXPR_ERR_MATH) NAME(EXPR_ERR_DIVIDE_BY_ZERO) NAME(EXPR_ERR_NO_VARIABLES) NAME(EXPR_ERR_ABORTED)
        NAME(EXPR_ERR_CONST_ASSIGN) NAME(EXPR_ERR_CONST_REF) NAME(EXPR_ERR_INTERNAL)
#undef NAME
        default: return "an unknown code";
        // clang-format on
    }
}

constexpr int32_t kAllCodes[] = {EXPR_OK,
                                 EXPR_ERR_MEMORY,
                                 EXPR_ERR_ARGUMENT,
                                 EXPR_ERR_NOT_FOUND,
                                 EXPR_ERR_COMMENT,
                                 EXPR_ERR_CHARACTER,
                                 EXPR_ERR_FAILED,
                                 EXPR_ERR_BUSY,
                                 EXPR_ERR_EMPTY,
                                 EXPR_ERR_PARENTHESES,
                                 EXPR_ERR_SYNTAX,
                                 EXPR_ERR_SEMICOLON,
                                 EXPR_ERR_TOKEN,
                                 EXPR_ERR_UNKNOWN_FUNCTION,
                                 EXPR_ERR_ARG_COUNT,
                                 EXPR_ERR_NOT_READY,
                                 EXPR_ERR_MATH,
                                 EXPR_ERR_DIVIDE_BY_ZERO,
                                 EXPR_ERR_NO_VARIABLES,
                                 EXPR_ERR_ABORTED,
                                 EXPR_ERR_CONST_ASSIGN,
                                 EXPR_ERR_CONST_REF,
                                 EXPR_ERR_INTERNAL};

// The names of a table's entries; Entry says which kind the table holds.
template <typename Entry> std::vector<std::string> namesIn(NameTable* table) {
    std::vector<std::string> names;
    std::vector<const Entry*> pending;
    if (table->root) pending.push_back(static_cast<const Entry*>(table->root));
    while (!pending.empty()) {
        const Entry* entry = pending.back();
        pending.pop_back();
        names.push_back(entry->name);
        if (entry->left) pending.push_back(entry->left);
        if (entry->right) pending.push_back(entry->right);
    }
    return names;
}

// ---- The tests ------------------------------------------------------------------------

TEST(LanguageDoc, IsReadAndHasItsExamples) {
    const Document& doc = document();
    for (const std::string& problem : doc.problems) ADD_FAILURE() << problem;
    EXPECT_GT(doc.examples.size(), 150u);
}

TEST(LanguageDoc, EveryExampleGivesTheStatedValue) {
    const Document& doc = document();
    int box = -1;
    std::unique_ptr<Instance> instance;
    for (const Example& example : doc.examples) {
        if (example.box != box) {
            box = example.box;
            instance = std::make_unique<Instance>();
        }
        SCOPED_TRACE("docs/language.md line " + std::to_string(example.line) + ": " + trim(example.text));
        std::vector<double> values;
        const int times = example.codeName.empty() ? static_cast<int>(example.values.size()) : 1;
        const int32_t code = run(*instance, example.text, times, values, example.feeds);
        if (!example.codeName.empty()) {
            EXPECT_EQ(example.codeName, codeName(code));
            continue;
        }
        ASSERT_EQ(code, EXPR_OK) << codeName(code);
        for (std::size_t n = 0; n < example.values.size(); ++n)
            EXPECT_TRUE(matches(example.values[n], values[n]))
                << "value " << n + 1 << ", stated " << example.values[n].text;
    }
}

TEST(LanguageDoc, NamesEveryResultCode) {
    const std::string& text = document().text;
    for (const int32_t code : kAllCodes)
        EXPECT_NE(text.find(std::string("`") + codeName(code) + "`"), std::string::npos) << codeName(code);
}

TEST(LanguageDoc, ShowsEveryFunctionAndConstantInAnExample) {
    Instance instance;
    std::string examples;
    for (const Example& example : document().examples) examples += example.text + "\n";
    for (const std::string& name : namesIn<FuncEntry>(instance.engine.functions()))
        EXPECT_NE(examples.find(name + "("), std::string::npos) << name << " has no example";
    for (const std::string& name : namesIn<VarEntry>(instance.engine.constants()))
        EXPECT_NE(examples.find(name), std::string::npos) << name << " has no example";
}

// The limits the document states, at their edges.
TEST(LanguageDoc, LimitsAreWhereTheDocumentSaysTheyAre) {
    Instance instance;
    std::vector<double> values;
    const std::string longName(255, 'n');
    EXPECT_EQ(run(instance, longName + " = 1;", 1, values), EXPR_OK);
    EXPECT_EQ(run(instance, longName + "n = 1;", 1, values), EXPR_ERR_TOKEN);
    EXPECT_EQ(run(instance, std::string(255, '7') + ";", 1, values), EXPR_OK);
    EXPECT_EQ(run(instance, std::string(256, '7') + ";", 1, values), EXPR_ERR_TOKEN);

    // A sum of 256 terms is one statement 256 levels deep; "a =" takes one of them.
    std::string terms = "1";
    for (int i = 1; i < 256; ++i) terms += "+1";
    EXPECT_EQ(run(instance, terms + ";", 1, values), EXPR_OK);
    EXPECT_EQ(run(instance, terms + "+1;", 1, values), EXPR_ERR_SYNTAX);
    EXPECT_EQ(run(instance, "a=" + terms + ";", 1, values), EXPR_ERR_SYNTAX);
    const std::string open(254, '('), close(254, ')');
    EXPECT_EQ(run(instance, "a=" + open + "1" + close + ";", 1, values), EXPR_OK);
    EXPECT_EQ(run(instance, "a=(" + open + "1" + close + ");", 1, values), EXPR_ERR_SYNTAX);

    // Expr: 100000 node evaluations pass, the 100001st is stopped. This
    // loop costs 11 per pass and 7 more.
    EXPECT_EQ(run(instance, "for(i = 0, below(i, 9090), i = i + 1, s = s + i);", 1, values), EXPR_OK);
    EXPECT_EQ(run(instance, "for(i = 0, below(i, 9091), i = i + 1, s = s + i);", 1, values), EXPR_ERR_ABORTED);
    // Init: a hundred polls, 10000099 node evaluations.
    Instance first, second;
    EXPECT_EQ(run(first, "for(i = 0, below(i, 909099), i = i + 1, s = s + i);", 1, values, {}, Pin::Init), EXPR_OK);
    EXPECT_EQ(run(second, "for(i = 0, below(i, 909100), i = i + 1, s = s + i);", 1, values, {}, Pin::Init),
              EXPR_ERR_ABORTED);
}

}  // namespace
