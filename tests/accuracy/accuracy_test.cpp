// The engine's functions against MPFR, on every native test run: each
// mathematical built-in that one MPFR function defines, on its hard cases
// and on the first 4 096 arguments of the identity check's generator
// (musical ranges, the whole domain, the hard regions): within 1 ulp of the
// exact value everywhere, and correctly rounded for at least 99 % of the
// generated arguments. scripts/accuracy runs the same over a million and more.
#include <gtest/gtest.h>

#include "accuracy/accuracy.h"

namespace {

using namespace accuracy;

constexpr int kGenerated = 4096;

int identityIndex(const char* name) {
    for (int f = 0; f < identity::kFunctionCount; ++f)
        if (std::string(identity::kFunctions[f].name) == name) return f;
    return -1;
}

class Accuracy : public ::testing::TestWithParam<size_t> {
protected:
    const Checked& function() const { return checkedFunctions()[GetParam()]; }
};

TEST_P(Accuracy, HardCasesWithinOneUlp) {
    Tally tally;
    for (const identity::Argument& argument : hardCases(function())) tally.add(function(), argument);
    EXPECT_LE(tally.maxUlp, 1.0) << tally.worstText(function());
    RecordProperty("hard_cases", static_cast<int>(tally.count));
}

TEST_P(Accuracy, GeneratedArgumentsWithinOneUlpAndCorrectlyRounded) {
    const int index = identityIndex(function().name);
    ASSERT_GE(index, 0) << function().name;
    Tally tally;
    for (const identity::Argument& argument : identity::arguments(index, kGenerated)) tally.add(function(), argument);
    EXPECT_LE(tally.maxUlp, 1.0) << tally.worstText(function());
    EXPECT_GE(tally.share(), 0.99) << tally.correctlyRounded << " of " << tally.count << " correctly rounded";
}

INSTANTIATE_TEST_SUITE_P(EveryFunction, Accuracy, ::testing::Range<size_t>(0, checkedFunctions().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(checkedFunctions()[info.param].name);
                         });

}  // namespace
