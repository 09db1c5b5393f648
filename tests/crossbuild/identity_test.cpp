// The identity check (tests/identity): every mathematical built-in over its
// generated arguments and hard cases gives the outcomes of the checked-in
// table, in every form of evaluation. A difference names the argument where
// the chunk's parities tell it.
#include <gtest/gtest.h>

#include "identity/expected_digests.h"
#include "identity/identity.h"

namespace {

using namespace identity;

constexpr int kHardCount = sizeof kExpectedHardCases / sizeof kExpectedHardCases[0];

TEST(IdentityTable, HasEveryFunction) {
    EXPECT_EQ(sizeof kExpectedDigests / sizeof kExpectedDigests[0], static_cast<size_t>(kFunctionCount));
}

class Identity : public ::testing::TestWithParam<int> {};

TEST_P(Identity, SameOutcomesAsTheTableInEveryForm) {
    const char* const forms[] = {"compiled", "threaded", "walked"};
    for (Form form : {Form::Compiled, Form::Threaded, Form::Walked}) {
        const std::string report = check(GetParam(), form, kExpectedDigests, kExpectedHardCases, kHardCount);
        EXPECT_EQ(report, "") << forms[static_cast<int>(form)];
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFunction, Identity, ::testing::Range(0, kFunctionCount),
                         [](const ::testing::TestParamInfo<int>& info) { return kFunctions[info.param].name; });

}  // namespace
