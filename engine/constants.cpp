/*
 * The fourteen named mathematical constants and their registration.
 */
#include <bit>
#include <cstdint>

#include "internal.h"

namespace {

struct ConstantRow {
    const char* name;
    uint64_t bits; /* the exact double, as its IEEE 754 pattern */
};

/* Each is the double nearest the constant its name denotes, except
 * M_1_SQRTPI: the double nearest 0.56418958354776, 34 units in the last
 * place above the one nearest 1/sqrt(pi), so it is not half of M_2_SQRTPI.
 * Expressions written against these values rely on that. */
const ConstantRow kConstants[] = {
    {"M_E", 0x4005BF0A8B145769},     {"M_LOG2E", 0x3FF71547652B82FE},    {"M_LOG10E", 0x3FDBCB7B1526E50E},
    {"M_LN2", 0x3FE62E42FEFA39EF},   {"M_LN10", 0x40026BB1BBB55516},     {"M_PI", 0x400921FB54442D18},
    {"M_PI_2", 0x3FF921FB54442D18},  {"M_PI_4", 0x3FE921FB54442D18},     {"M_1_PI", 0x3FD45F306DC9C883},
    {"M_2_PI", 0x3FE45F306DC9C883},  {"M_1_SQRTPI", 0x3FE20DD750429B8F}, {"M_2_SQRTPI", 0x3FF20DD750429B6D},
    {"M_SQRT2", 0x3FF6A09E667F3BCD}, {"M_1_SQRT2", 0x3FE6A09E667F3BCD},
};

}  // namespace

int32_t exprRegisterConstants(NameTable* table) {
    if (table == nullptr) return EXPR_ERR_ARGUMENT;
    for (const ConstantRow& row : kConstants) {
        int32_t code = exprSetVariable(table, row.name, std::bit_cast<double>(row.bits));
        if (code != EXPR_OK) return code;
    }
    return EXPR_OK;
}
