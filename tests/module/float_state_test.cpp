// Whatever floating-point state the host calls in, the module computes in
// its own and gives the host's back.
#include <cstring>

#include "module_support.h"

namespace quorvel_test {
namespace {

using quorvel::host::currentFloatControl;
using quorvel::host::FloatControl;
using quorvel::host::kFloatControlAvailable;
using quorvel::host::kHostileFloatControl;

struct Patch {
    const char* name;
    const char* init;
    const char* expr;
};

// Each leans on one part of the state: rounding of literals and of every
// operation, subnormals, what an unmasked exception would stop, and the x87
// precision under the runtime's sin, exp, pow and tanh.
const Patch kPatches[] = {
    {"rounding", "", "out1 = 0.1 + u / 3; out2 = 1 / 3 - u * 0.7; out3 = 2.675 * 1.1 + sqrt(2 + u);"},
    {"subnormals", "y = 1;", "y = y * 0.000000001; out1 = y * 10000000000; out2 = min(y, 1); out3 = above(y, 0);"},
    {"exceptions", "",
     "out1 = exp(1000) + sqrt(-1) + 1 / 0 + ln(0) + pow(0, -1) + asin(2) + cosh(1000);"
     " out2 = tan(1.5707963267948966) + mod(7, 0) + logn(1, 1); out3 = pow(10, 400) / pow(10, 400);"},
    {"transcendental", "",
     "out1 = sin(u * 3.7) + cos(u + 0.3) * exp(u / 3); out2 = pow(1.0001, u * 1000) + tanh(u * 2) + atan2(u, 0.3);"
     " out3 = ln(abs(u) + 0.5) + log(2 + u) + pow10(u / 7) + sinh(u / 3) + asin(u / 20);"},
    {"feedback", "y = 1;", "y = y * 0.5 + u * 0.0000001; out1 = y * 100; out2 = fpart(y * 1000); out3 = time;"},
};

// Renders a patch through a host that calls in the given state (or its own).
std::vector<float> render(const Patch& patch, const FloatControl* caller, int32_t* changes) {
    InstanceOptions options;
    options.callerFloatControl = caller;
    Rig rig(48000.0f, options, 256);
    for (int i = 0; i < 256; ++i) rig.inputs[0][i] = static_cast<float>(i) / 256.0f - 0.5f;
    rig.init(patch.init);
    rig.expr(patch.expr);
    std::vector<float> rendered;
    for (int block = 0; block < 8; ++block) {
        rig.run(256);
        for (int k = 0; k < 3; ++k) rendered.insert(rendered.end(), rig.outputs[k].begin(), rig.outputs[k].end());
    }
    rig.host().open();
    rig.run(256);
    for (int k = 0; k < 3; ++k) rendered.insert(rendered.end(), rig.outputs[k].begin(), rig.outputs[k].end());
    *changes = rig.host().floatControlChanges();
    rig.host().close();
    return rendered;
}

class HostileFloatState : public testing::TestWithParam<Patch> {};

TEST_P(HostileFloatState, SameBitsAndTheHostsStateGivenBack) {
    if (!kFloatControlAvailable) GTEST_SKIP() << "no floating-point control state on this processor";
    const FloatControl before = currentFloatControl();
    int32_t ownChanges = 0, hostileChanges = 0;
    const std::vector<float> reference = render(GetParam(), nullptr, &ownChanges);
    const std::vector<float> hostile = render(GetParam(), &kHostileFloatControl, &hostileChanges);
    ASSERT_EQ(reference.size(), hostile.size());
    int differing = 0;
    for (std::size_t i = 0; i < reference.size(); ++i)
        if (std::memcmp(&reference[i], &hostile[i], sizeof(float)) != 0 && ++differing <= 3)
            ADD_FAILURE() << "sample " << i << ": " << reference[i] << " in the host's default state, " << hostile[i]
                          << " in the hostile one";
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(hostileChanges, 0) << "calls after which the host's own state was not given back";
    EXPECT_TRUE(currentFloatControl() == before);
}

INSTANTIATE_TEST_SUITE_P(Patches, HostileFloatState, testing::ValuesIn(kPatches),
                         [](const testing::TestParamInfo<Patch>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel_test
