// The arguments, the evaluation and the digests of the identity check
// (identity.h). The arguments come from integer operations and a few IEEE
// double operations, which round alike on every build (SSE2 or WebAssembly
// doubles, no contraction), so every build generates the same ones.
#include "identity.h"

#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "support/engine_rig.h"

namespace identity {

const Function kFunctions[] = {
    {"sin", "sin(a);", 1},
    {"cos", "cos(a);", 1},
    {"tan", "tan(a);", 1},
    {"asin", "asin(a);", 1},
    {"acos", "acos(a);", 1},
    {"atan", "atan(a);", 1},
    {"atan2", "atan2(a, b);", 2},
    {"sinh", "sinh(a);", 1},
    {"cosh", "cosh(a);", 1},
    {"tanh", "tanh(a);", 1},
    {"exp", "exp(a);", 1},
    {"pow10", "pow10(a);", 1},
    {"ln", "ln(a);", 1},
    {"log", "log(a);", 1},
    {"pow", "pow(a, b);", 2},
    {"mod", "mod(a, b);", 2},
    {"ipart", "ipart(a);", 1},
    {"fpart", "fpart(a);", 1},
    {"ceil", "ceil(a);", 1},
    {"floor", "floor(a);", 1},
    {"logn", "logn(a, b);", 2},
    {"recttopolr", "recttopolr(a, b);", 2},
    {"recttopola", "recttopola(a, b);", 2},
    {"poltorectx", "poltorectx(a, b);", 2},
    {"poltorecty", "poltorecty(a, b);", 2},
};
const int kFunctionCount = sizeof kFunctions / sizeof kFunctions[0];

namespace {

double fromBits(uint64_t bits) {
    return std::bit_cast<double>(bits);
}
uint64_t bitsOf(double value) {
    return std::bit_cast<uint64_t>(value);
}

uint64_t mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
}

// splitmix64, seeded per function by its name.
class Random {
public:
    explicit Random(const char* name) {
        for (const char* c = name; *c; ++c) state_ = mix(state_ ^ static_cast<unsigned char>(*c));
    }
    uint64_t next() {
        state_ += 0x9E3779B97F4A7C15;
        return mix(state_);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
    // [0, 1), 53 random bits: exact.
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
    // Any finite double, every binade alike, subnormals and both signs included.
    double anyFinite() {
        uint64_t bits = next();
        const uint64_t exponent = (bits >> 52 & 0x7FF) % 0x7FF;
        return fromBits((bits & 0x800FFFFFFFFFFFFF) | exponent << 52);
    }
    // A magnitude between 2^lo and 2^hi, every binade alike; signed when asked.
    double binades(int lo, int hi, bool signedToo = true) {
        const int exponent = lo + below(hi - lo);
        uint64_t bits = static_cast<uint64_t>(exponent + 1023) << 52 | (next() & 0x000FFFFFFFFFFFFF);
        if (signedToo && (next() & 1)) bits |= 0x8000000000000000;
        return fromBits(bits);
    }
    // x moved by up to spread units in the last place either way.
    double near(double x, int spread) {
        const int64_t step = static_cast<int64_t>(below(2 * spread + 1)) - spread;
        return fromBits(bitsOf(x) + static_cast<uint64_t>(step));
    }
    // A whole number in [-n, n].
    double whole(int n) { return static_cast<double>(below(2 * n + 1) - n); }

private:
    uint64_t state_ = 0x5157A7E0A11B17ED;
};

constexpr double kHalfPi = 0x1.921fb54442d18p+0;

// An angle: musical phases, whole turns of a long note, near the multiples
// of pi/2 (where sine, cosine and tangent lose the most), anything.
double angle(Random& r) {
    switch (r.below(5)) {
        case 0: return r.uniform(-7.0, 7.0);
        case 1: return r.uniform(-1e4, 1e4);
        case 2: return r.near(r.whole(1 << 20) * kHalfPi, 4);
        case 3: return r.near(r.whole(1 << 10) * kHalfPi, 1 << 12);
        default: return r.anyFinite();
    }
}

// An argument near 1, above or below.
double nearOne(Random& r) {
    return r.next() & 1 ? 1.0 + r.binades(-52, -1, false) : 1.0 - r.binades(-53, -1, false);
}

Argument generate(int function, Random& r) {
    const char* name = kFunctions[function].name;
    auto is = [name](const char* other) { return std::strcmp(name, other) == 0; };
    const int pick = r.below(5);
    if (is("sin") || is("cos") || is("tan")) return {angle(r), 0.0};
    if (is("asin") || is("acos")) {
        if (pick <= 1) return {r.uniform(-1.0, 1.0), 0.0};
        if (pick == 2) return {(r.next() & 1 ? 1.0 : -1.0) * (1.0 - r.binades(-53, -1, false)), 0.0};
        if (pick == 3) return {r.binades(-60, -1), 0.0};
        return {r.anyFinite(), 0.0};
    }
    if (is("atan")) {
        if (pick <= 1) return {r.uniform(-10.0, 10.0), 0.0};
        if (pick == 2) return {r.binades(-40, 60), 0.0};
        return {r.anyFinite(), 0.0};
    }
    if (is("atan2") || is("recttopolr") || is("recttopola")) {
        if (pick <= 1) return {r.uniform(-1.0, 1.0), r.uniform(-1.0, 1.0)};
        if (pick == 2) return {r.binades(-30, 30), r.binades(-30, 30)};
        if (pick == 3) return {r.uniform(-10.0, 10.0), r.binades(-1074, 1023)};
        return {r.anyFinite(), r.anyFinite()};
    }
    if (is("sinh") || is("cosh") || is("tanh")) {
        if (pick <= 1) return {r.uniform(-5.0, 5.0), 0.0};
        if (pick == 2) return {r.uniform(-720.0, 720.0), 0.0};
        if (pick == 3)
            return r.next() & 1 ? Argument{r.binades(-60, -2), 0.0}
                                : Argument{r.near(r.next() & 1 ? 710.4758600739439 : -710.4758600739439, 64), 0.0};
        return {r.anyFinite(), 0.0};
    }
    if (is("exp")) {
        if (pick <= 1) return {r.uniform(-10.0, 10.0), 0.0};
        if (pick == 2) return {r.uniform(-750.0, 712.0), 0.0};
        if (pick == 3) {
            const double edges[] = {709.782712893384, -745.1332191019411, -708.3964185322641, 0.0};
            return {r.near(edges[r.below(4)], 256), 0.0};
        }
        return {r.anyFinite(), 0.0};
    }
    if (is("pow10")) {
        if (pick <= 1) return {r.uniform(-5.0, 5.0), 0.0};
        if (pick == 2) return {r.uniform(-330.0, 310.0), 0.0};
        if (pick == 3) {
            const double edges[] = {308.25471555991675, -323.3062153431158, -307.6526555685888, 0.0};
            return {r.near(edges[r.below(4)], 256), 0.0};
        }
        return {r.anyFinite(), 0.0};
    }
    if (is("ln") || is("log")) {
        if (pick == 0) return {r.uniform(0.0, 10.0), 0.0};
        if (pick == 1) return {nearOne(r), 0.0};
        if (pick == 2) return {r.binades(-1022, 1023, false), 0.0};
        if (pick == 3) return {fromBits(r.next() & 0x000FFFFFFFFFFFFF), 0.0};  // subnormal
        return {r.anyFinite(), 0.0};
    }
    if (is("pow")) {
        switch (pick) {
            case 0: return {r.uniform(0.0, 10.0), r.uniform(-10.0, 10.0)};
            case 1: return {r.uniform(-10.0, 10.0), r.whole(40)};  // negative bases, whole exponents
            case 2: {
                // Near overflow or underflow: b log2(a) close to 1024 or -1074.
                const double a = r.uniform(1.5, 1000.0);
                const int e = static_cast<int>(bitsOf(a) >> 52) - 1023;  // floor(log2 a)
                const double target = r.next() & 1 ? 1024.0 : -1074.0;
                return {a, r.near(target / (e + 0.5), 1 << 20)};
            }
            case 3: return {nearOne(r), r.binades(0, 60)};
            default: return {r.anyFinite(), r.anyFinite()};
        }
    }
    if (is("mod")) {
        if (pick <= 1) return {r.uniform(-100.0, 100.0), r.uniform(-10.0, 10.0)};
        if (pick == 2) return {r.binades(-20, 1023), r.binades(-1074, 20)};
        if (pick == 3) return {r.whole(1000), r.whole(20)};
        return {r.anyFinite(), r.anyFinite()};
    }
    if (is("ipart") || is("fpart") || is("ceil") || is("floor")) {
        if (pick <= 1) return {r.uniform(-100.0, 100.0), 0.0};
        if (pick == 2) return {r.near(r.whole(1000), 2), 0.0};
        if (pick == 3) return {r.near(r.next() & 1 ? 0x1p52 : -0x1p52, 64), 0.0};
        return {r.anyFinite(), 0.0};
    }
    if (is("logn")) {
        if (pick <= 1) return {r.uniform(0.0, 1000.0), r.uniform(0.0, 20.0)};
        if (pick == 2) return {r.binades(-1022, 1023, false), nearOne(r)};
        if (pick == 3) return {nearOne(r), r.binades(-10, 10, false)};
        return {r.anyFinite(), r.anyFinite()};
    }
    // poltorectx and poltorecty: a radius and an angle.
    if (pick <= 2) return {r.uniform(-10.0, 10.0), angle(r)};
    return {r.anyFinite(), angle(r)};
}

const double kInf = INFINITY;

// The arguments every function meets, in its first and (crossed with each
// other) second place.
const uint64_t kSpecialBits[] = {
    0x0000000000000000, 0x8000000000000000, 0x7FF0000000000000, 0xFFF0000000000000,
    0x7FF8000000000ABC, 0xFFF8000000000DEF, 0x7FF0000000000123, 0x0000000000000001,
    0x800FFFFFFFFFFFFF, 0x0010000000000000, 0x7FEFFFFFFFFFFFFF, 0xFFEFFFFFFFFFFFFF,
};

}  // namespace

std::vector<Argument> arguments(int function, int count) {
    Random r(kFunctions[function].name);
    std::vector<Argument> list(static_cast<size_t>(count));
    for (Argument& argument : list) argument = generate(function, r);
    return list;
}

std::vector<Argument> hardCases(int function) {
    std::vector<Argument> list;
    const bool two = kFunctions[function].arity == 2;
    for (uint64_t a : kSpecialBits) {
        if (!two) {
            list.push_back({fromBits(a), 0.0});
            continue;
        }
        for (uint64_t b : kSpecialBits) {
            // Not two different NaNs: where they meet in one operation, x86
            // keeps the first, the emulator that runs the 32-bit tests on
            // some machines the second.
            if (a != b && std::isnan(fromBits(a)) && std::isnan(fromBits(b))) continue;
            list.push_back({fromBits(a), fromBits(b)});
        }
    }
    // Arguments where the functions are hardest to get right.
    const double hard[] = {
        1e22,
        0x1p1023,
        kHalfPi,
        2 * kHalfPi,
        3 * kHalfPi,
        4 * kHalfPi,
        6381956970095103.0 * 0x1p797,
        5.319372648326541e+255,
        0x1.921fb54442d18p+20,
        1.0,
        -1.0,
        0.5,
        0.9999999999999999,
        1.0000000000000002,
        709.782712893384,
        709.7827128933841,
        -745.1332191019411,
        -745.1332191019412,
        -708.3964185322641,
        710.4758600739439,
        710.475860073944,
        308.25471555991675,
        308.2547155599168,
        -323.3062153431158,
        19.061547465398498,
        22.0,
        1e-300,
        2.718281828459045,
        10.0,
        1000.0,
        0x1p52 + 1,
        0x1p52 - 0.5,
    };
    for (double x : hard) {
        list.push_back({x, two ? 2.5 : 0.0});
        list.push_back({-x, two ? -3.0 : 0.0});
        if (two) list.push_back({2.0, x});
    }
    if (two) {
        // Negative bases with whole and other exponents; every quadrant.
        const double pairs[][2] = {{-8.0, 1.0 / 3}, {-2.0, 1023.0}, {-2.0, -1074.0}, {-2.0, -1075.0}, {-3.0, 3.0},
                                   {-0.5, 1075.0},  {1.0, -kInf},   {-1.0, kInf},    {10.0, 308.0},   {0.1, -323.0},
                                   {3.0, 4.0},      {-3.0, 4.0},    {-3.0, -4.0},    {3.0, -4.0},     {1e300, 1e300}};
        for (const auto& pair : pairs) list.push_back({pair[0], pair[1]});
    }
    return list;
}

struct Evaluator::Engine {
    quorvel_test::EngineRig rig;
    double* a = nullptr;
    double* b = nullptr;
};

Evaluator::Evaluator(int function, Form form) : engine_(std::make_unique<Engine>()) {
    auto& rig = engine_->rig;
    engine_->a = &rig.variable("a");
    engine_->b = &rig.variable("b");
    if (rig.parse(kFunctions[function].text) != EXPR_OK) std::abort();
    if (form == Form::Threaded) rig.threadedOnly();
    if (form == Form::Walked) rig.walkOnly();
}

Evaluator::~Evaluator() = default;

uint64_t Evaluator::outcome(const Argument& argument) {
    *engine_->a = argument.a;
    *engine_->b = argument.b;
    double value = 0.0;
    const int32_t code = engine_->rig.evaluate(&value);
    return code == EXPR_OK ? bitsOf(value) : kFailure | static_cast<uint32_t>(code);
}

ChunkDigest digest(const uint64_t* outcomes, int count) {
    ChunkDigest d{};
    d.hash = 0x0DD5EED0F0B17E5D;
    for (int j = 0; j < count; ++j) {
        d.hash = mix(d.hash ^ outcomes[j]) + static_cast<uint64_t>(j);
        d.parity[0] ^= outcomes[j];
        for (int k = 0; k < kIndexBits; ++k)
            if (j >> k & 1) d.parity[k + 1] ^= outcomes[j];
    }
    return d;
}

std::string describeOutcome(uint64_t outcome) {
    char text[96];
    if ((outcome & 0xFFFFFFFF00000000) == kFailure)
        std::snprintf(text, sizeof text, "code %d", static_cast<int32_t>(outcome & 0xFFFFFFFF));
    else
        std::snprintf(text, sizeof text, "0x%016" PRIX64 " (%.17g)", outcome, fromBits(outcome));
    return text;
}

std::string describeArgument(int function, const Argument& argument) {
    char text[160];
    if (kFunctions[function].arity == 2)
        std::snprintf(text, sizeof text, "%s(%.17g, %.17g) [bits 0x%016" PRIX64 ", 0x%016" PRIX64 "]",
                      kFunctions[function].name, argument.a, argument.b, bitsOf(argument.a), bitsOf(argument.b));
    else
        std::snprintf(text, sizeof text, "%s(%.17g) [bits 0x%016" PRIX64 "]", kFunctions[function].name, argument.a,
                      bitsOf(argument.a));
    return text;
}

std::string compareChunk(int function, int chunk, const ChunkDigest& expected, const Argument* args,
                         const uint64_t* outcomes) {
    const ChunkDigest got = digest(outcomes, kChunk);
    if (std::memcmp(&got, &expected, sizeof got) == 0) return {};
    char head[96];
    std::snprintf(head, sizeof head, "%s: chunk %d (arguments %d to %d) differs", kFunctions[function].name, chunk,
                  chunk * kChunk, chunk * kChunk + kChunk - 1);
    // One differing argument changes parity 0 and exactly the parities of
    // its index's bits, each by the same amount.
    const uint64_t change = got.parity[0] ^ expected.parity[0];
    int index = 0;
    bool single = change != 0;
    for (int k = 0; k < kIndexBits && single; ++k) {
        const uint64_t c = got.parity[k + 1] ^ expected.parity[k + 1];
        if (c == change)
            index |= 1 << k;
        else if (c != 0)
            single = false;
    }
    if (!single)
        return std::string(head) + "; several arguments differ: compare `identity_tool dump " +
               kFunctions[function].name + "` of two builds\n";
    return std::string(head) + ": " + describeArgument(function, args[index]) + " (argument " +
           std::to_string(chunk * kChunk + index) + ") gives " + describeOutcome(outcomes[index]) + ", expected " +
           describeOutcome(outcomes[index] ^ change) + "\n";
}

std::string dump(int function) {
    std::string text;
    Evaluator evaluator(function, Form::Compiled);
    auto line = [&](const std::string& index, const Argument& argument) {
        char row[128];
        std::snprintf(row, sizeof row, "%s %s %016" PRIX64 " %016" PRIX64 " %016" PRIX64 "\n",
                      kFunctions[function].name, index.c_str(), bitsOf(argument.a), bitsOf(argument.b),
                      evaluator.outcome(argument));
        text += row;
    };
    const std::vector<Argument> args = arguments(function);
    for (size_t i = 0; i < args.size(); ++i) line(std::to_string(i), args[i]);
    const std::vector<Argument> cases = hardCases(function);
    for (size_t i = 0; i < cases.size(); ++i) line("hard" + std::to_string(i), cases[i]);
    return text;
}

std::string check(int function, Form form, const ChunkDigest (*expected)[kChunks], const HardCase* hard,
                  int hardCount) {
    std::string report;
    Evaluator evaluator(function, form);
    const std::vector<Argument> args = arguments(function);
    std::vector<uint64_t> outcomes(args.size());
    for (size_t i = 0; i < args.size(); ++i) outcomes[i] = evaluator.outcome(args[i]);
    for (int chunk = 0; chunk < kChunks; ++chunk)
        report +=
            compareChunk(function, chunk, expected[function][chunk], &args[chunk * kChunk], &outcomes[chunk * kChunk]);

    const std::vector<Argument> cases = hardCases(function);
    size_t compared = 0;
    for (int i = 0; i < hardCount; ++i) {
        if (hard[i].function != function) continue;
        if (compared >= cases.size() || hard[i].a != bitsOf(cases[compared].a) ||
            hard[i].b != bitsOf(cases[compared].b))
            return report + kFunctions[function].name + ": the hard cases are not those of the table: regenerate it\n";
        const uint64_t got = evaluator.outcome(cases[compared++]);
        if (got != hard[i].outcome)
            report += std::string(kFunctions[function].name) + ": hard case " +
                      describeArgument(function, {fromBits(hard[i].a), fromBits(hard[i].b)}) + " gives " +
                      describeOutcome(got) + ", expected " + describeOutcome(hard[i].outcome) + "\n";
    }
    if (compared != cases.size())
        report += std::string(kFunctions[function].name) + ": the table lacks hard cases: regenerate it\n";
    return report;
}

}  // namespace identity
