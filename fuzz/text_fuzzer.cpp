// Fuzz target: one expression text through the whole engine.
//
// Input: two header bytes, then the text.
//   byte 0, bit 0      zero-on-math-error
//   byte 0, bits 1-2   abort polls allowed before the callback stops (1 ... 4)
//   byte 0, bits 3-5   node evaluations between polls (small, so loops end fast)
//   byte 0, bit 6      fail allocation number byte 1 while parsing
//   byte 0, bit 7      ... and every allocation after it
// The text is parsed, evaluated as machine code, by the threaded runner and
// by the tree walk from the same variable values (they must agree; the
// context keeps the threaded runner after), cleared, parsed again
// (same result code) and evaluated again; then everything is freed and no
// engine block may be left.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/expr.h"
#include "tests/support/forms.h"

namespace {

[[noreturn]] void finding() {
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace quorvel_test;
    if (size < 2) return 0;
    const uint8_t flags = data[0];
    const uint8_t failAt = data[1];
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    {
        FormsRig rig;
        const int32_t polls = configureForms(rig, flags);

        if (flags & 0x40) exprFailAllocation(failAt, (flags & 0x80) ? 1 : 0);
        const int32_t failedParse = exprParse(rig.context, text.c_str());
        exprFailAllocation(0, 0);
        (void)failedParse;

        exprClear(rig.context);
        const int32_t first = exprParse(rig.context, text.c_str());
        if (compareForms(rig, polls) == FormsVerdict::Differ) finding();
        exprClear(rig.context);
        const int32_t second = exprParse(rig.context, text.c_str());
        if (first != second) finding();
        formsClock.pollsLeft = polls;
        double value;
        exprEvaluate(rig.context, &value);
        // A second parse on a context that holds one is refused, not leaked.
        if (exprParse(rig.context, text.c_str()) == EXPR_OK) finding();
    }
    if (exprLiveBlocks() != 0) finding();
    return 0;
}
