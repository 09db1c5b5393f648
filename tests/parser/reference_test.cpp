// The parser against a plain reference: the splitting algorithm written the
// slow, obvious way (every range scanned afresh, enclosing pairs removed one
// at a time, calls counted in a pass of their own), run over many random
// statements. The parser's shortcuts (chains and sign runs reusing their
// scan, items ending where their own scan stops, groups skipped a word at a
// time) must give the same tree or the same code for every one of them.

#include <random>
#include <string>

#include "tests/parser/parser_support.h"

using namespace quorvel_test;

namespace {

struct Reference {
    const std::string& t;
    int32_t code = EXPR_OK;

    static bool ident(const std::string& s) { return exprIsIdentifier(s.c_str()) != 0; }
    static bool constant(const std::string& s) { return s == "M_PI" || s == "time"; }

    std::string fail(int32_t c) {
        if (code == EXPR_OK) code = c;
        return "";
    }

    std::string range(int first, int last, int level) {
        if (level > EXPR_MAX_DEPTH) return fail(EXPR_ERR_SYNTAX);
        for (;;) {
            if (first > last) return fail(EXPR_ERR_SYNTAX);
            int d = 0, open = -1, close = -1, equals = -1, additive = -1, mult = -1, sign = -1;
            for (int i = first; i <= last; ++i) {
                const char c = t[i];
                if (c == '(') {
                    if (d++ == 0 && open < 0) open = i;
                } else if (c == ')') {
                    if (--d < 0) return fail(EXPR_ERR_PARENTHESES);
                    if (d == 0 && close < 0) close = i;
                } else if (d == 0) {
                    const bool unary = i == first || (equals >= 0 && i == equals + 1) ||
                                       std::string("+-*/").find(t[i - 1]) != std::string::npos;
                    if (c == '=' && equals < 0) equals = i;
                    if ((c == '+' || c == '-') && unary && sign < 0) sign = i;
                    if ((c == '+' || c == '-') && !unary) additive = i;
                    if (c == '*' || c == '/') mult = i;
                }
            }
            if (d != 0) return fail(EXPR_ERR_PARENTHESES);
            if (equals >= 0) return assignment(first, last, equals, level);
            if (additive >= 0) return binary(first, last, additive, level, t[additive] == '+' ? "add" : "sub");
            if (mult >= 0) return binary(first, last, mult, level, t[mult] == '*' ? "mul" : "div");
            if (sign >= 0) {
                if (t[sign] == '+') return range(sign + 1, last, level + 1);
                const std::string operand = range(sign + 1, last, level + 1);
                return code ? "" : "neg(" + operand + ")";
            }
            if (open == first) {
                if (close != last || close == first + 1) return fail(EXPR_ERR_SYNTAX);
                ++first, --last, ++level;
                continue;
            }
            if (open < 0) return atom(first, last);
            if (close == last) return call(first, last, open, close, level);
            return fail(EXPR_ERR_SYNTAX);
        }
    }

    std::string assignment(int first, int last, int equals, int level) {
        if (equals <= first || equals >= last) return fail(EXPR_ERR_SYNTAX);
        const std::string target = t.substr(first, equals - first);
        if (target.size() > 255 || !ident(target)) return fail(EXPR_ERR_TOKEN);
        if (constant(target)) return fail(EXPR_ERR_CONST_ASSIGN);
        const std::string value = range(equals + 1, last, level + 1);
        return code ? "" : "set(" + target + "," + value + ")";
    }

    std::string binary(int first, int last, int at, int level, const char* name) {
        if (at <= first || at >= last) return fail(EXPR_ERR_SYNTAX);
        const std::string left = range(first, at - 1, level + 1);
        if (code) return "";
        const std::string right = range(at + 1, last, level + 1);
        return code ? "" : std::string(name) + "(" + left + "," + right + ")";
    }

    std::string atom(int first, int last) {
        const std::string token = t.substr(first, last - first + 1);
        if (token.size() > 255) return fail(EXPR_ERR_TOKEN);
        if (ident(token)) return constant(token) ? "#" + token : token;
        if (!exprIsNumber(token.c_str())) return fail(EXPR_ERR_TOKEN);
        char text[64];
        std::snprintf(text, sizeof text, "%.17g", std::strtod(token.c_str(), nullptr));
        return text;
    }

    std::string call(int first, int last, int open, int close, int level) {
        (void)last;
        const std::string name = t.substr(first, open - first);
        if (!ident(name)) return fail(EXPR_ERR_TOKEN);
        int minArgs, maxArgs, minRefs, maxRefs;
        if (name == "sin")
            minArgs = 1, maxArgs = 1, minRefs = 0, maxRefs = 0;
        else if (name == "max")
            minArgs = 1, maxArgs = -1, minRefs = 0, maxRefs = 0;
        else if (name == "rand")
            minArgs = 0, maxArgs = 0, minRefs = 1, maxRefs = 1;
        else if (name == "random")
            minArgs = 2, maxArgs = 2, minRefs = 1, maxRefs = 1;
        else if (name == "none")
            minArgs = 0, maxArgs = 0, minRefs = 0, maxRefs = 0;
        else
            return fail(EXPR_ERR_UNKNOWN_FUNCTION);
        int items = 0, refs = 0;
        if (close > open + 1) {
            items = 1;
            int d = 0;
            for (int i = open + 1; i < close; ++i) {
                const char c = t[i];
                if (c == '(')
                    ++d;
                else if (c == ')')
                    --d;
                else if (d == 0 && c == ',')
                    ++items;
                else if (d == 0 && c == '&') {
                    if (t[i - 1] != '(' && t[i - 1] != ',') return fail(EXPR_ERR_SYNTAX);
                    ++refs;
                }
            }
        }
        const int values = items - refs;
        auto outside = [](int n, int lo, int hi) { return (lo >= 0 && n < lo) || (hi >= 0 && n > hi); };
        if (outside(values, minArgs, maxArgs) || outside(refs, minRefs, maxRefs)) return fail(EXPR_ERR_ARG_COUNT);
        std::string args, references;
        int start = open + 1, d = 0;
        for (int i = open + 1; items > 0 && i <= close; ++i) {
            if (i < close) {
                if (t[i] == '(') ++d;
                if (t[i] == ')') --d;
                if (d != 0 || t[i] != ',') continue;
            }
            if (start < i && t[start] == '&') {
                const std::string ref = t.substr(start + 1, i - start - 1);
                if (ref.size() > 255 || !ident(ref)) return fail(EXPR_ERR_TOKEN);
                if (constant(ref)) return fail(EXPR_ERR_CONST_REF);
                references += ",&" + ref;
            } else {
                const std::string arg = range(start, i - 1, level + 1);
                if (code) return "";
                args += "," + arg;
            }
            start = i + 1;
        }
        std::string all = args + references;
        if (!all.empty()) all.erase(0, 1);
        return name + "(" + all + ")";
    }
};

std::string referenceParse(const std::string& statement, int32_t* code) {
    // The statement scan: a ")" too many, or the closing ";" inside parentheses.
    int d = 0;
    for (char c : statement) {
        if (c == '(') ++d;
        if (c == ')' && --d < 0) break;
    }
    if (d != 0) {
        *code = d < 0 ? EXPR_ERR_PARENTHESES : EXPR_ERR_SYNTAX;
        return "";
    }
    Reference reference{statement};
    const std::string tree = reference.range(0, static_cast<int>(statement.size()) - 1, 1);
    *code = reference.code;
    return tree;
}

std::string randomStatement(std::mt19937& random) {
    static const char* const pieces[] = {"a",     "b",       "c1",    "1",    ".5", "2.", "+",   "-",   "*",    "/",
                                         "(",     ")",       "(",     ")",    "=",  ",",  "&",   "&s",  "sin(", "max(",
                                         "rand(", "random(", "none(", "M_PI", "-",  "+",  "a+b", "(a)", "x*y",  "=1"};
    constexpr int kPieces = sizeof pieces / sizeof pieces[0];
    const int length = 1 + static_cast<int>(random() % 14);
    std::string text;
    for (int i = 0; i < length; ++i) text += pieces[random() % kPieces];
    return text;
}

using ReferenceTest = ParserTest;

TEST_F(ReferenceTest, RandomStatementsMatchThePlainAlgorithm) {
    std::mt19937 random(20240611);
    int parsed = 0;
    for (int n = 0; n < 40000; ++n) {
        const std::string statement = randomStatement(random);
        int32_t expectedCode = 0;
        const std::string expected = referenceParse(statement, &expectedCode);
        const std::string actual = tree(statement);
        if (expectedCode == EXPR_OK) {
            ++parsed;
            ASSERT_EQ(actual, expected) << "statement: " << statement;
        } else {
            ASSERT_EQ(actual, "code " + std::to_string(expectedCode)) << "statement: " << statement;
        }
    }
    EXPECT_GT(parsed, 1000);  // the generator reaches valid statements often enough
}

TEST_F(ReferenceTest, HandPickedChainsSignsAndItems) {
    const char* const statements[] = {
        "a--b-c",
        "a*-b/c*d",
        "(a+b)-c+(d)",
        "a-(b-c)-d",
        "a+-b+c",
        "a*b-c*d+e",
        "-a-b-c",
        "a=b-c-d",
        "max(a-b-c,d)",
        "--(a)",
        "-+-sin(x)",
        "-(a)*b",
        "-max(1)",
        "a=b=c+d",
        "a=b=(c=d)",
        "a=b==c",
        "a=b=1=c",
        "max(a-b-c,-d,(e),f=g=1)",
        "max((a),b)c",
        "random(-a,&s,b*c)",
        "max(a,(b,c))",
        "((a)*(b))/((c))",
        "a/(b)/c/(d)",
        "x*(y)-(z)*w",
        "(-a)-(-b)",
        "a*(b+c)*d",
        "max(a,b)*max(c,d)-1",
        "-((a))",
        "+(+(+a))",
        "a=-(b=-c)",
        "sin(a)+sin(b)*sin(c)",
        "max(&a)",
        "max(a,&b)",
        "random(a,b,&c,&d)",
    };
    for (const char* statement : statements) {
        int32_t expectedCode = 0;
        const std::string expected = referenceParse(statement, &expectedCode);
        EXPECT_EQ(tree(statement), expectedCode ? "code " + std::to_string(expectedCode) : expected) << statement;
    }
}

}  // namespace
