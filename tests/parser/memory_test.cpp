// Allocation failures: every allocation a parse makes is failed in turn.
// Each failure must report EXPR_ERR_MEMORY and leave a context that
// exprClear frees completely; after the tables are freed no block is left.

#include <string>

#include "tests/parser/parser_support.h"

using namespace quorvel_test;

namespace {

const char* const kCorpus[] = {
    "out1 = (u + v) * 0.5; out2 = -out1;",  "a = b = c; d = a - b / c * -e;",  "x = max(u, sin(v), fresh, 1.5);",
    "rand(&seed); random(lo, &seed2, hi);", "random(&s, max(a, b), (c = 2));", "none(); ((((q)))) + -+-q;",
    "<comment> n1; n2; n3; n4; n5; n6;",
};

TEST(ParserMemory, EveryAllocationFailureIsReportedAndReleased) {
    const int32_t liveAtStart = exprLiveBlocks();
    for (const char* text : kCorpus) {
        bool succeeded = false;
        for (int32_t n = 1; n < 1000 && !succeeded; ++n) {
            {
                ParserRig rig;
                ExprContext* context = rig.context;
                exprSetZeroOnMathError(context, 1);
                exprFailAllocation(n, 0);
                const int32_t code = exprParse(context, text);
                exprFailAllocation(0, 0);

                if (code == EXPR_OK) {
                    succeeded = true;
                    double value = 0.0;
                    EXPECT_EQ(exprEvaluate(context, &value), EXPR_OK) << text;
                } else {
                    EXPECT_EQ(code, EXPR_ERR_MEMORY) << text << " failing allocation " << n;
                    EXPECT_EQ(context->parsed, 0);
                    // A failure before the root exists leaves the context Empty.
                    EXPECT_EQ(context->failed, context->root != nullptr ? 1 : 0);
                }
                exprClear(context);
                EXPECT_EQ(context->root, nullptr);
            }
            ASSERT_EQ(exprLiveBlocks(), liveAtStart) << text << " failing allocation " << n;
        }
        EXPECT_TRUE(succeeded) << text;
    }
}

TEST(ParserMemory, FailedParseCanBeRetriedAfterClear) {
    const int32_t liveAtStart = exprLiveBlocks();
    {
        ParserRig rig;
        exprFailAllocation(1, 1);  // everything fails, the working copy first
        EXPECT_EQ(exprParse(rig.context, "a = 1;"), EXPR_ERR_MEMORY);
        EXPECT_EQ(rig.context->root, nullptr);
        exprFailAllocation(0, 0);
        EXPECT_EQ(exprParse(rig.context, "a = 1;"), EXPR_OK);  // still Empty: no clear needed
    }
    EXPECT_EQ(exprLiveBlocks(), liveAtStart);
}

}  // namespace
