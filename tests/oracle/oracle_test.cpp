// A differential oracle: random arithmetic texts evaluated by our engine and
// by an independent parser (muparser, optimizer off so that it keeps the
// order of operations) on the same variable values. With the operations in
// the same order IEEE arithmetic has one answer, so results and variables
// must agree bit for bit.
//
// Where the two differ by design the oracle applies our rule instead of
// generating the case away: muparser's "/" and "pow" are replaced by
// callbacks that give 0.0 where our zero-on-math-error rule does, and note
// that the rule fired, so that our strict mode must then fail; "min" and
// "max" follow our rule for NaN operands; the functions give our NaN (the
// first NaN argument made quiet, else the default NaN) and compute with the
// engine's own sine, cosine and tangent, which the oracle does not judge
// (the accuracy tests do), where the runtime's differ in the last place for
// some arguments. Assignments
// are our statements; muparser evaluates each statement's value and the
// oracle assigns it.
//
// QUORVEL_ORACLE_TEXTS=n (environment) sets the number of texts, 10^4 by
// default; QUORVEL_ORACLE_SEED the first seed.
#include <gtest/gtest.h>
#include <muParser.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/elementary.h"
#include "engine/expr.h"
#include "support/engine_rig.h"

namespace {

// ---- The rule, on muparser's side ------------------------------------------------

bool ruleFired = false;

double ruleDivide(double a, double b) {
    if (!(b < 0.0 || b > 0.0)) {
        ruleFired = true;
        return 0.0;
    }
    return a / b;
}

// Our NaN for a function's NaN result: the first NaN argument made quiet,
// or x86's default NaN where the arguments had none. glibc's routines pick
// other signs (pow of a NaN gives +NaN, log10(-1) +NaN).
double nanByRule(double a, double b = 0.0) {
    const double nan = std::isnan(a) ? a : std::isnan(b) ? b : std::bit_cast<double>(0xFFF8000000000000ull);
    return std::bit_cast<double>(std::bit_cast<uint64_t>(nan) | 0x0008000000000000ull);
}

// The engine's own functions, as the plain doubles the other parser takes.
double ourSin(double a) {
    return exprFromRegister(exprSin(a));
}
double ourCos(double a) {
    return exprFromRegister(exprCos(a));
}
double ourTan(double a) {
    return exprFromRegister(exprTan(a));
}

template <double (*routine)(double)> double ruleNaN(double a) {
    const double r = routine(a);
    return std::isnan(r) ? nanByRule(a) : r;
}

// A NaN from arguments that are not NaN, or an infinity from finite ones.
double rulePow(double a, double b) {
    const double r = std::pow(a, b);
    const bool domain = std::isnan(r) && !std::isnan(a) && !std::isnan(b);
    const bool range = std::isinf(r) && std::isfinite(a) && std::isfinite(b);
    if (domain || range) {
        ruleFired = true;
        return 0.0;
    }
    return std::isnan(r) ? nanByRule(a, b) : r;
}

// min and max by our comparison rule: a NaN operand makes "less than" true
// and "greater than" false, so a NaN replaces the minimum found so far but
// never the maximum. muparser's own use the plain comparisons.
bool lessByRule(double a, double b) {
    return std::isnan(a) || std::isnan(b) || a < b;
}
bool greaterByRule(double a, double b) {
    return !std::isnan(a) && !std::isnan(b) && a > b;
}

double ruleMin(const double* values, int count) {
    double best = values[0];
    for (int i = 1; i < count; ++i)
        if (lessByRule(values[i], best)) best = values[i];
    return best;
}

double ruleMax(const double* values, int count) {
    double best = values[0];
    for (int i = 1; i < count; ++i)
        if (greaterByRule(values[i], best)) best = values[i];
    return best;
}

double add(double a, double b) {
    return a + b;
}
double subtract(double a, double b) {
    return a - b;
}
double multiply(double a, double b) {
    return a * b;
}

// ---- Random texts -------------------------------------------------------------------

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
    uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    int below(int bound) { return static_cast<int>(next() % static_cast<uint64_t>(bound)); }
    bool chance(int percent) { return below(100) < percent; }

private:
    uint64_t state_;
};

constexpr const char* kVariables[] = {"a", "b", "c", "d", "va", "vb"};
constexpr int kVariableCount = 6;

// Precedence of what a printed piece is, for deciding its parentheses.
enum Level { kSum = 1, kTerm = 2, kFactor = 3, kPrimary = 4 };

// The same piece printed for each parser: muparser refuses two signs in a
// row ("--a"), so its text puts the inner one in parentheses, which does
// not change the meaning.
struct Piece {
    std::string text;
    Level level;
    std::string theirs;
};

class Generator {
public:
    explicit Generator(Random& random) : random_(random) {}

    std::string literal() {
        std::string digits;
        const int kind = random_.below(4);
        const int whole = 1 + random_.below(kind == 0 ? 2 : 9);
        for (int i = 0; i < whole; ++i) digits += static_cast<char>('0' + random_.below(10));
        if (kind >= 2) {
            digits += '.';
            const int fraction = 1 + random_.below(8);
            for (int i = 0; i < fraction; ++i) digits += static_cast<char>('0' + random_.below(10));
        }
        return digits;
    }

    Piece expression(int depth) {
        Piece piece = pick(depth);
        if (piece.level < kPrimary && random_.chance(8))
            return {"(" + piece.text + ")", kPrimary, "(" + piece.theirs + ")"};
        return piece;
    }

private:
    Piece pick(int depth) {
        const int choice = depth <= 0 ? random_.below(2) : random_.below(10);
        switch (choice) {
            case 0: {
                const std::string text = literal();
                return {text, kPrimary, text};
            }
            case 1: {
                const std::string name = kVariables[random_.below(kVariableCount)];
                return {name, kPrimary, name};
            }
            case 2: return sign(depth);
            case 3: return call(depth);
            default: return binary(depth);
        }
    }

    Piece sign(int depth) {
        const Piece operand = expression(depth - 1);
        const char* op = random_.chance(75) ? "-" : "+";
        const Piece inner = atLeast(operand, kFactor);
        const bool signed_ = inner.theirs[0] == '-' || inner.theirs[0] == '+';
        return {op + inner.text, kFactor, op + (signed_ ? "(" + inner.theirs + ")" : inner.theirs)};
    }

    Piece binary(int depth) {
        static constexpr char kOps[] = {'+', '-', '*', '/'};
        const char op = kOps[random_.below(4)];
        const Level level = op == '+' || op == '-' ? kSum : kTerm;
        const Piece left = expression(depth - 1);
        const Piece right = expression(depth - 1);
        // Left-grouping: the left operand may be at the operator's own level,
        // the right one must bind tighter.
        const Piece l = atLeast(left, level);
        const Piece r = atLeast(right, static_cast<Level>(level + 1));
        return {l.text + op + r.text, level, l.theirs + op + r.theirs};
    }

    Piece call(int depth) {
        static constexpr const char* kUnary[] = {"sin", "cos", "tan", "sqrt", "exp", "ln"};
        std::string text;
        int arguments = 1;
        const int kind = random_.below(10);
        if (kind < 6) {
            text = kUnary[kind];
        } else if (kind < 8) {
            text = "pow";
            arguments = 2;
        } else {
            text = kind == 8 ? "min" : "max";
            arguments = 1 + random_.below(4);
        }
        text += "(";
        std::string theirs = text;
        for (int i = 0; i < arguments; ++i) {
            if (i) {
                text += ",";
                theirs += ",";
            }
            const Piece argument = expression(depth - 1);
            text += argument.text;
            theirs += argument.theirs;
        }
        return {text + ")", kPrimary, theirs + ")"};
    }

    static Piece atLeast(const Piece& piece, Level level) {
        if (piece.level >= level) return piece;
        return {"(" + piece.text + ")", kPrimary, "(" + piece.theirs + ")"};
    }

    Random& random_;
};

// One statement: the targets it assigns (none, one or a chain) and its value.
struct Statement {
    std::vector<int> targets;
    std::string value;
    std::string theirs;  // the value as muparser reads it
};

std::vector<Statement> randomStatements(Random& random) {
    Generator generator(random);
    std::vector<Statement> statements(static_cast<std::size_t>(1 + random.below(3)));
    for (Statement& statement : statements) {
        const int targets = random.chance(50) ? random.below(3) : 0;
        for (int i = 0; i < targets; ++i) statement.targets.push_back(random.below(kVariableCount));
        const Piece value = generator.expression(1 + random.below(5));
        statement.value = value.text;
        statement.theirs = value.theirs;
    }
    return statements;
}

std::string ourText(const std::vector<Statement>& statements, Random& random) {
    std::string text;
    for (const Statement& statement : statements) {
        for (int target : statement.targets)
            text += std::string(kVariables[target]) + (random.chance(20) ? " = " : "=");
        text += statement.value + (random.chance(20) ? " ; " : ";");
    }
    return text;
}

double randomValue(Random& random) {
    switch (random.below(12)) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return static_cast<double>(random.below(21) - 10);
        case 3: return std::ldexp(static_cast<double>(random.next() >> 11), -53 + random.below(80) - 40);
        case 4: return std::bit_cast<double>(random.next());  // anything, NaN and infinity included
        case 5: return 0.5 * static_cast<double>(random.below(9) - 4);
        default: return (static_cast<double>(random.next() >> 11) * 0x1p-53 - 0.5) * 20.0;
    }
}

// ---- The two evaluators --------------------------------------------------------------

class Ours {
public:
    Ours() {
        for (int i = 0; i < kVariableCount; ++i) values[i] = &rig_.variable(kVariables[i]);
    }
    int32_t parse(const std::string& text) { return rig_.parse(text); }
    int32_t evaluate(bool zeroOnMathError, double* result) {
        exprSetZeroOnMathError(rig_.context, zeroOnMathError ? 1 : 0);
        return rig_.evaluate(result);
    }
    bool ready() const { return values[kVariableCount - 1] != nullptr; }

    double* values[kVariableCount] = {};

private:
    quorvel_test::EngineRig rig_;
};

class Theirs {
public:
    Theirs() {
        parser_.EnableOptimizer(false);
        parser_.EnableBuiltInOprt(false);
        parser_.DefineOprt("+", add, mu::prADD_SUB);
        parser_.DefineOprt("-", subtract, mu::prADD_SUB);
        parser_.DefineOprt("*", multiply, mu::prMUL_DIV);
        parser_.DefineOprt("/", ruleDivide, mu::prMUL_DIV);
        parser_.DefineFun("pow", rulePow, false);
        parser_.DefineFun("sin", ruleNaN<ourSin>, false);
        parser_.DefineFun("cos", ruleNaN<ourCos>, false);
        parser_.DefineFun("tan", ruleNaN<ourTan>, false);
        parser_.DefineFun("sqrt", ruleNaN<static_cast<double (*)(double)>(std::sqrt)>, false);
        parser_.DefineFun("exp", ruleNaN<static_cast<double (*)(double)>(std::exp)>, false);
        parser_.DefineFun("ln", ruleNaN<static_cast<double (*)(double)>(std::log)>, false);
        parser_.DefineFun("min", ruleMin, false);
        parser_.DefineFun("max", ruleMax, false);
        for (int i = 0; i < kVariableCount; ++i) parser_.DefineVar(kVariables[i], &values[i]);
    }
    // Runs the statements in order; false when muparser refuses a text.
    bool run(const std::vector<Statement>& statements, double* result, std::string* error) {
        try {
            for (const Statement& statement : statements) {
                parser_.SetExpr(statement.theirs);
                const double value = parser_.Eval();
                for (int target : statement.targets) values[target] = value;
                *result = value;
            }
            return true;
        } catch (mu::Parser::exception_type& e) {
            *error = e.GetMsg();
            return false;
        }
    }

    double values[kVariableCount] = {};

private:
    mu::Parser parser_;
};

bool sameBits(double a, double b) {
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

std::string show(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g (%016llx)", value,
                  static_cast<unsigned long long>(std::bit_cast<uint64_t>(value)));
    return buffer;
}

int64_t settingFromEnvironment(const char* name, int64_t fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    return std::strtoll(text, nullptr, 10);
}

struct Tally {
    int64_t texts = 0, ruleTexts = 0, failures = 0;
};

// One text through both; returns false (after reporting) on any disagreement.
bool compareOne(Ours& ours, Theirs& theirs, uint64_t seed, Tally& tally) {
    Random random(seed);
    const std::vector<Statement> statements = randomStatements(random);
    const std::string text = ourText(statements, random);
    double start[kVariableCount];
    for (double& value : start) value = randomValue(random);

    for (int i = 0; i < kVariableCount; ++i) theirs.values[i] = start[i];
    ruleFired = false;
    double expected = 0.0;
    std::string error;
    if (!theirs.run(statements, &expected, &error)) {
        ADD_FAILURE() << "seed " << seed << ": muparser refuses «" << text << "»: " << error;
        return false;
    }
    const bool fired = ruleFired;

    const int32_t parsed = ours.parse(text);
    if (parsed != EXPR_OK) {
        ADD_FAILURE() << "seed " << seed << ": our parser refuses «" << text << "» with code " << parsed;
        return false;
    }
    // Strict first: it must fail exactly when the rule fired.
    for (int i = 0; i < kVariableCount; ++i) *ours.values[i] = start[i];
    double strict = 0.0;
    const int32_t strictCode = ours.evaluate(false, &strict);
    const bool strictFailed = strictCode == EXPR_ERR_MATH || strictCode == EXPR_ERR_DIVIDE_BY_ZERO;
    if (strictFailed != fired || (strictCode != EXPR_OK && !strictFailed)) {
        ADD_FAILURE() << "seed " << seed << ": «" << text << "» strict evaluation gave code " << strictCode
                      << " but the rule " << (fired ? "fired" : "did not fire");
        return false;
    }
    if (!fired && !sameBits(strict, expected)) {
        ADD_FAILURE() << "seed " << seed << ": «" << text << "» strict gives " << show(strict) << ", muparser "
                      << show(expected);
        return false;
    }
    // Then zero-on-math-error from the same start: value and every variable.
    for (int i = 0; i < kVariableCount; ++i) *ours.values[i] = start[i];
    double result = 0.0;
    const int32_t code = ours.evaluate(true, &result);
    bool same = code == EXPR_OK && sameBits(result, expected);
    for (int i = 0; i < kVariableCount; ++i) same = same && sameBits(*ours.values[i], theirs.values[i]);
    if (!same) {
        std::string detail;
        for (int i = 0; i < kVariableCount; ++i)
            detail += std::string("\n  ") + kVariables[i] + ": start " + show(start[i]) + ", ours " +
                      show(*ours.values[i]) + ", muparser " + show(theirs.values[i]);
        ADD_FAILURE() << "seed " << seed << ": «" << text << "» code " << code << ", ours " << show(result)
                      << ", muparser " << show(expected) << detail;
        return false;
    }
    ++tally.texts;
    if (fired) ++tally.ruleTexts;
    return true;
}

TEST(Oracle, RandomArithmeticAgreesBitForBit) {
    Ours ours;
    ASSERT_TRUE(ours.ready());
    Theirs theirs;
    const int64_t count = settingFromEnvironment("QUORVEL_ORACLE_TEXTS", 10000);
    const uint64_t first = static_cast<uint64_t>(settingFromEnvironment("QUORVEL_ORACLE_SEED", 1));
    Tally tally;
    for (int64_t i = 0; i < count; ++i) {
        if (!compareOne(ours, theirs, first + static_cast<uint64_t>(i), tally) && ++tally.failures >= 10) {
            FAIL() << "stopping after 10 disagreements";
        }
    }
    std::printf("oracle: %lld texts agree (%lld under the zero rule), %lld disagree\n",
                static_cast<long long>(tally.texts), static_cast<long long>(tally.ruleTexts),
                static_cast<long long>(tally.failures));
    EXPECT_EQ(tally.failures, 0);
    // The rule must actually be exercised, and most texts must not need it.
    EXPECT_GT(tally.ruleTexts, count / 100);
    EXPECT_LT(tally.ruleTexts, count / 2);
}

// The generator reaches the shapes whose meaning could differ between
// parsers: signs after an operator, chains that group to the left, nesting.
TEST(Oracle, GeneratorReachesTheTrickyShapes) {
    bool signAfterOperator = false, leftChain = false, chainedAssignment = false, deep = false;
    for (uint64_t seed = 1; seed <= 2000; ++seed) {
        Random random(seed);
        const std::vector<Statement> statements = randomStatements(random);
        const std::string text = ourText(statements, random);
        signAfterOperator =
            signAfterOperator || text.find("*-") != std::string::npos || text.find("/-") != std::string::npos;
        leftChain = leftChain || text.find_first_of("-/") != std::string::npos;
        for (const Statement& statement : statements)
            chainedAssignment = chainedAssignment || statement.targets.size() >= 2;
        deep = deep || text.find("((") != std::string::npos;
    }
    EXPECT_TRUE(signAfterOperator);
    EXPECT_TRUE(leftChain);
    EXPECT_TRUE(chainedAssignment);
    EXPECT_TRUE(deep);
}

}  // namespace
