// Number literals: the value is the decimal correctly rounded to a double,
// with "." as the point, whatever locale the process runs under.

#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "engine/internal.h"
#include "parser/parser_support.h"

namespace quorvel_test {
namespace {

struct NumberTest : ParserTest {
    // The bits of the constant a literal parses to.
    uint64_t literalBits(const std::string& literal) {
        exprClear(context);
        EXPECT_EQ(parse(literal + ";"), EXPR_OK) << literal;
        const ExprNode& statement = context->root->args[0];
        EXPECT_EQ(statement.kind, NODE_CONSTANT) << literal;
        return std::bit_cast<uint64_t>(statement.value);
    }
};

struct RoundingCase {
    std::string literal;
    uint64_t bits;
};

// Ties, values a hair off them, both sides of the one-division path, and
// literals of the greatest length.
const RoundingCase kRoundingCases[] = {
    {"0.1", 0x3FB999999999999A},
    {"0.30000000000000004", 0x3FD3333333333334},
    {"9007199254740991", 0x433FFFFFFFFFFFFF},  // 2^53 - 1
    {"9007199254740993", 0x4340000000000000},  // halfway above 2^53: to even
    {"9007199254740995", 0x4340000000000002},  // halfway above 2^53 + 2: to even
    {"9007199254740993.00000000000000000000000000000001", 0x4340000000000001},
    {"1.00000000000000011102230246251565404236316680908203125", 0x3FF0000000000000},  // 1 + 2^-53: to even
    {"1.000000000000000111022302462515654042363166809082031250000000001", 0x3FF0000000000001},
    {"1.0000000000000001110223024625156540423631668090820312499999999999999999", 0x3FF0000000000000},
    {"0.0000000000000000000001", 0x3B5E392010175EE6},   // 10^-22
    {"0.00000000000000000000001", 0x3B282DB34012B251},  // 10^-23
    {"18446744073709551617", 0x43F0000000000000},       // 2^64 + 1
    {"123456789012345678901234567890", 0x45F8EE90FF6C373E},
    {"3.14159265358979323846264338327950288419716939937510", 0x400921FB54442D18},
    {std::string(255, '9'), 0x74E10CB132C2FF63},
    {"0." + std::string(252, '0') + "1", 0x0B677603725064A8},  // 10^-253
    {"." + std::string(253, '0') + "1", 0x0B32C4CF8EA6B6EC},   // 10^-254, the smallest
    {"." + std::string(254, '0'), 0x0000000000000000},
};

TEST_F(NumberTest, LiteralsRoundCorrectly) {
    for (const RoundingCase& c : kRoundingCases) EXPECT_EQ(literalBits(c.literal), c.bits) << c.literal;
}

#if defined(__GLIBC__)
// glibc's strtod rounds correctly and the tests run in the C locale: random
// literals of up to 40 digits, the point anywhere, give its bits.
TEST(NumberValue, AgreesWithTheRuntimeInTheCLocale) {
    std::mt19937_64 random(20261209);
    for (int i = 0; i < 20000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 40);
        std::string literal;
        for (int d = 0; d < digits; ++d) literal += static_cast<char>('0' + random() % 10);
        literal.insert(random() % (literal.size() + 1), ".");
        const double expected = std::strtod(literal.c_str(), nullptr);
        ASSERT_EQ(std::bit_cast<uint64_t>(exprDecimalValue(literal.c_str())), std::bit_cast<uint64_t>(expected))
            << literal;
    }
}
#endif

#if defined(QUORVEL_TEST_LOCPATH)
// Runs under the locale arabic_point, compiled into the build tree from
// arabic_point.localedef, whose decimal point is U+066B (two bytes).
class ArabicPointLocale {
public:
    ArabicPointLocale() {
        const char* path = std::getenv("LOCPATH");
        hadPath_ = path != nullptr;
        if (hadPath_) oldPath_ = path;
        oldLocale_ = std::setlocale(LC_NUMERIC, nullptr);
        setenv("LOCPATH", QUORVEL_TEST_LOCPATH, 1);
        active_ = std::setlocale(LC_NUMERIC, "arabic_point") != nullptr;
    }
    ~ArabicPointLocale() {
        std::setlocale(LC_NUMERIC, oldLocale_.c_str());
        if (hadPath_)
            setenv("LOCPATH", oldPath_.c_str(), 1);
        else
            unsetenv("LOCPATH");
    }
    bool active() const { return active_; }

private:
    bool hadPath_ = false, active_ = false;
    std::string oldPath_, oldLocale_;
};

TEST_F(NumberTest, ATwoBytePointLocaleChangesNoLiteral) {
    ArabicPointLocale locale;
    ASSERT_TRUE(locale.active()) << "locale arabic_point not found in " QUORVEL_TEST_LOCPATH;
    ASSERT_STREQ(std::localeconv()->decimal_point, "\xD9\xAB") << "compiled without the UTF-8 character map?";
    ASSERT_NE(std::strtod("1.5", nullptr), 1.5);  // the runtime's conversion stops at "."

    ASSERT_EQ(parse("out1=1.5+0.25;"), EXPR_OK);
    double value = 0.0;
    ASSERT_EQ(exprEvaluate(context, &value), EXPR_OK);
    EXPECT_EQ(value, 1.75);
    for (const RoundingCase& c : kRoundingCases) EXPECT_EQ(literalBits(c.literal), c.bits) << c.literal;
}
#else
TEST_F(NumberTest, ATwoBytePointLocaleChangesNoLiteral) {
    GTEST_SKIP() << "no locale with a two-byte point: this build has no localedef (a Windows build under wine)";
}
#endif

}  // namespace
}  // namespace quorvel_test
