// The three forms of the compiled program compared on many texts, on the
// build at hand: machine code, threaded runner and tree walk must agree on
// every text (tests/support/forms.h). The texts come from a fixed-seed
// generator over the whole language (every built-in with its bounds,
// references, assignments, comments, huge and tiny literals) and from the
// text fuzz target's corpus, replayed as the fuzzer reads it.
//
//   forms_check --label NAME [--texts N] [--seed S] [--corpus DIR]
//               [--findings DIR]
//
// Ends with one line "forms NAME: N texts, M differ" and exits 1 when M > 0;
// each differing text is written to the findings folder in the fuzzer's
// input format, ready to become a corpus entry.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/forms.h"

namespace {

using quorvel_test::FormsRig;
using quorvel_test::FormsVerdict;

// splitmix64: the same sequence on every build.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 ... n-1
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }

private:
    uint64_t state_;
};

struct Builtin {
    std::string name;
    int32_t minArgs, maxArgs, minRefs, maxRefs;
};

void collectBuiltins(const FuncEntry* entry, std::vector<Builtin>& out) {
    for (; entry; entry = entry->right) {
        collectBuiltins(entry->left, out);
        out.push_back({entry->name, entry->minArgs, entry->maxArgs, entry->minRefs, entry->maxRefs});
    }
}

// Random texts of the expression language, most of which parse.
class TextMaker {
public:
    TextMaker(Random& random, std::vector<Builtin> builtins) : random_(random), builtins_(std::move(builtins)) {}

    std::string text() {
        std::string out;
        const uint32_t statements = 1 + random_.below(4);
        for (uint32_t k = 0; k < statements; ++k) {
            if (random_.chance(8)) out += "< a note <nested> >";
            if (random_.chance(75)) out += writable() + (random_.chance(50) ? " = " : "=");
            out += expression(0);
            out += random_.chance(97) ? ";" : "";
            if (random_.chance(30)) out += random_.chance(50) ? "\n" : " ";
        }
        return out;
    }

private:
    static constexpr const char* kWritable[] = {"u", "v", "w", "x", "y", "z", "out1", "out2", "out3", "a", "b", "s", "i"};
    static constexpr const char* kReadable[] = {"M_PI", "M_E", "M_SQRT2", "M_LN2", "M_1_PI"};
    static constexpr const char* kLiterals[] = {"0",   "1",   "2",     "0.5",   ".25", "3.",   "10",    "0.001",
                                                "100", "1000", "12.75", "0.1",  "7",   "2147483648",
                                                "179769313486231570000000000000000000000000000000000000000000000000000"
                                                "000000000000000000000000000000000000000000000000000000000000000000000"
                                                "000000000000000000000000000000000000000000000000000000000000000000000"
                                                "000000000000000000000000000000000000000000000000000000000000000000000"
                                                "000000000000000000000000000000000000000000000000",
                                                "0.00000000000000000000000000000000000000000000000000000000000000001"};

    template <std::size_t N> const char* pick(const char* const (&list)[N]) { return list[random_.below(N)]; }

    std::string writable() { return pick(kWritable); }

    std::string expression(int depth) {
        const uint32_t choice = depth > 5 ? random_.below(3) : random_.below(9);
        switch (choice) {
            case 0: return pick(kLiterals);
            case 1: return writable();
            case 2: return pick(kReadable);
            case 3: return "-" + expression(depth + 1);
            case 4: return "(" + expression(depth + 1) + ")";
            case 5:
            case 6: {
                static constexpr const char* kOperators[] = {" + ", " - ", " * ", " / ", "+", "*"};
                return expression(depth + 1) + pick(kOperators) + expression(depth + 1);
            }
            default: return call(depth);
        }
    }

    // An argument may assign, as for's do.
    std::string argument(int depth) {
        return random_.chance(15) ? writable() + " = " + expression(depth) : expression(depth);
    }

    int32_t count(int32_t least, int32_t most) {
        if (most < 0) most = least + 3;
        if (random_.chance(3)) return least + static_cast<int32_t>(random_.below(most - least + 3)) - 1;  // off bounds
        return least + static_cast<int32_t>(random_.below(most - least + 1));
    }

    std::string call(int depth) {
        const Builtin& function = builtins_[random_.below(static_cast<uint32_t>(builtins_.size()))];
        std::string out = function.name + "(";
        const int32_t values = count(function.minArgs, function.maxArgs);
        const int32_t refs = count(function.minRefs, function.maxRefs);
        bool first = true;
        for (int32_t k = 0; k < values; ++k, first = false) out += (first ? "" : ", ") + argument(depth + 1);
        for (int32_t k = 0; k < refs; ++k, first = false) out += (first ? "&" : ", &") + writable();
        return out + ")";
    }

    Random& random_;
    std::vector<Builtin> builtins_;
};

struct Options {
    std::string label = "native";
    long texts = 20000;
    uint64_t seed = 0x51A7E5EEDull;
    std::string corpus;
    std::string findings;
};

Options readOptions(int argc, char** argv) {
    Options options;
    for (int k = 1; k + 1 < argc; k += 2) {
        const std::string flag = argv[k], value = argv[k + 1];
        if (flag == "--label") options.label = value;
        else if (flag == "--texts") options.texts = std::strtol(value.c_str(), nullptr, 10);
        else if (flag == "--seed") options.seed = std::strtoull(value.c_str(), nullptr, 0);
        else if (flag == "--corpus") options.corpus = value;
        else if (flag == "--findings") options.findings = value;
        else {
            std::fprintf(stderr, "forms_check: unknown option %s\n", flag.c_str());
            std::exit(2);
        }
    }
    return options;
}

// One input as the text fuzz target reads it: a flags byte, an allocation
// byte (unused here) and the text.
struct Input {
    uint8_t flags;
    std::string text;
    std::string bytes() const { return std::string(1, static_cast<char>(flags)) + '\0' + text; }
};

FormsVerdict compare(const Input& input) {
    FormsRig rig;
    const int32_t polls = quorvel_test::configureForms(rig, input.flags);
    rig.parse(input.text);
    return quorvel_test::compareForms(rig, polls);
}

class Tally {
public:
    explicit Tally(const Options& options) : options_(options) {}

    void check(const Input& input) {
        ++texts_;
        const FormsVerdict verdict = compare(input);
        if (verdict == FormsVerdict::Agree) ++compared_;
        if (verdict != FormsVerdict::Differ) return;
        ++differ_;
        std::printf("differ (flags 0x%02x): %s\n", input.flags, input.text.c_str());
        if (options_.findings.empty()) return;
        std::filesystem::create_directories(options_.findings);
        const std::string name = options_.findings + "/forms-" + options_.label + "-" + std::to_string(differ_);
        std::ofstream(name, std::ios::binary) << input.bytes();
    }

    int finish() const {
        std::printf("%ld of them parsed and ran to the end in every form\n", compared_);
        std::printf("forms %s: %ld texts, %ld differ\n", options_.label.c_str(), texts_, differ_);
        return differ_ == 0 ? 0 : 1;
    }

private:
    const Options& options_;
    long texts_ = 0;
    long differ_ = 0;
    long compared_ = 0;
};

void replayCorpus(const std::string& folder, Tally& tally) {
    if (folder.empty()) return;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() < 2 || (static_cast<uint8_t>(bytes[0]) & 0x40)) continue;  // allocation failure: not a forms case
        tally.check({static_cast<uint8_t>(bytes[0]), bytes.substr(2)});
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = readOptions(argc, argv);
    std::vector<Builtin> builtins;
    {
        FormsRig rig;
        collectBuiltins(static_cast<const FuncEntry*>(rig.functions->root), builtins);
    }
    Random random(options.seed);
    TextMaker maker(random, builtins);
    Tally tally(options);
    for (long k = 0; k < options.texts; ++k) {
        const uint8_t flags = static_cast<uint8_t>(random.next() & 0x3F);
        tally.check({flags, maker.text()});
    }
    replayCorpus(options.corpus, tally);
    return tally.finish();
}
