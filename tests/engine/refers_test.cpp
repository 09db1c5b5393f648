// What a parsed tree refers to: read, assigned or passed by reference, at
// any depth, in a failed parse's partial tree too. The module copies an
// input into its variable at every sample only where a text refers to it.

#include <gtest/gtest.h>

#include "tests/support/engine_rig.h"

using namespace quorvel_test;

namespace {

struct RefersCase {
    const char* text;
    bool refersToU;
};

class Refers : public testing::TestWithParam<RefersCase> {};

TEST_P(Refers, ToAVariableWhereverTheTextNamesIt) {
    const RefersCase& c = GetParam();
    EngineRig rig;
    double* u = &rig.variable("u");
    double* v = &rig.variable("v");
    rig.parse(c.text);
    EXPECT_EQ(exprRefersToValue(rig.context, u), c.refersToU ? 1 : 0) << c.text;
    EXPECT_EQ(exprRefersToValue(rig.context, v), 0) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Refers,
    testing::Values(RefersCase{"out1 = u;", true}, RefersCase{"u = 1;", true}, RefersCase{"u;", true},
                    RefersCase{"out1 = 1; out2 = sin(max(2, -(3 * u)));", true}, RefersCase{"rand(&u);", true},
                    RefersCase{"for(i = 0, below(i, 3), i = i + 1, out1 = out1 + u);", true},
                    RefersCase{"out1 = if(1, 2, u);", true}, RefersCase{"out1 = 1; out2 = w;", false},
                    RefersCase{"uu = 1; out1 = M_PI;", false},
                    // a failed parse keeps what it built before the failure
                    RefersCase{"out1 = u; out2 = sn(1);", true}, RefersCase{"out1 = 2; out2 = sn(u);", false}));

TEST(Refers, NothingWithoutATreeOrAContext) {
    EngineRig rig;
    double* u = &rig.variable("u");
    EXPECT_EQ(exprRefersToValue(rig.context, u), 0);
    EXPECT_EQ(exprRefersToValue(nullptr, u), 0);
    rig.parse("out1 = u;");
    exprClear(rig.context);
    EXPECT_EQ(exprRefersToValue(rig.context, u), 0);
}

}  // namespace
