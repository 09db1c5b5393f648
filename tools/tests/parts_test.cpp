// The parts of the quorvel program: reading the command lines, locating a
// parse failure in the text, and the engine run beside the plug-in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_options.h"
#include "expr.h"
#include "module_engine.h"
#include "pins.h"
#include "quorvel_host.h"
#include "text_file.h"

namespace {

using namespace quorvel::tools;

// ---- Command lines -------------------------------------------------------------

CommandLine render(std::vector<std::string> args) {
    args.insert(args.begin(), "render");
    return readCommandLine(args);
}

struct BadLine {
    std::vector<std::string> args;
    const char* problem;  // a part of the message
};

TEST(CommandLine, BadRenderLinesAreRefusedWithAReason) {
    const BadLine lines[] = {
        {{}, "Expr text is missing"},
        {{"--init", "a=1;"}, "Expr text is missing"},
        {{"--expr", "a;", "--expr-file", "f"}, "excludes"},
        {{"--expr", "a;", "--expr", "b;"}, "--expr"},
        {{"--expr"}, "--expr"},
        {{"--expr", "a;", "--rate", "44.1"}, "--rate"},
        {{"--expr", "a;", "--rate", "0"}, "--rate"},
        {{"--expr", "a;", "--seconds", "-1"}, "--seconds"},
        {{"--expr", "a;", "--seconds", "nan"}, "--seconds"},
        {{"--expr", "a;", "--samples", "0"}, "--samples"},
        {{"--expr", "a;", "--samples", "1", "--seconds", "1"}, "excludes"},
        {{"--expr", "a;", "--block", "0"}, "--block"},
        {{"--expr", "a;", "--block", "100000"}, "--block"},
        {{"--expr", "a;", "--in", "q=1"}, "INPUT one of"},
        {{"--expr", "a;", "--in", "u"}, "INPUT one of"},
        {{"--expr", "a;", "--in", "u="}, "missing"},
        {{"--expr", "a;", "--in", "u=1", "--in", "u=2"}, "twice"},
        {{"--expr", "a;", "--in", "u=f.wav:0"}, "channel"},
        {{"--expr", "a;", "--csv=1"}, "flag override"},
        {{"--expr", "a;", "--frobnicate"}, "--frobnicate"},
        {{"--expr", "a;", "-o", ""}, "file name"},
        {{"--expr", "a;", "-o", "out.mp3"}, ".wav"},
        {{"--expr", "a;", "-o", "wav"}, ".wav"},
        {{"--expr", "a;", "--watch", "n"}, "--csv"},
        {{"--expr", "a;", "--rate", "8000", "--seconds", "0.00001"}, "shorter than one sample"},
    };
    for (const BadLine& line : lines) {
        const CommandLine read = render(line.args);
        EXPECT_EQ(read.command, Command::None) << ::testing::PrintToString(line.args);
        EXPECT_NE(read.message.find(line.problem), std::string::npos)
            << "args " << ::testing::PrintToString(line.args) << " gave \"" << read.message << "\"";
        EXPECT_NE(read.message.find("quorvel help render"), std::string::npos) << read.message;
    }
}

TEST(CommandLine, GoodRenderLinesAreRead) {
    const CommandLine read =
        render({"--expr=out1=u;", "--init-file", "i.txt", "--in",      "u=a.wav:2", "--in",       "v=0.25", "--in",
                "w=C:/x.wav",     "--rate",      "44100", "--seconds", "0.5",       "--block=64", "-o",     "o.WAV",
                "--csv",          "--watch",     "n",     "--watch",   "phase",     "--module",   "m.sem"});
    ASSERT_EQ(read.command, Command::Render) << read.message;
    const RenderOptions& options = read.render;
    EXPECT_EQ(*options.expr, "out1=u;");
    EXPECT_EQ(*options.initFile, "i.txt");
    ASSERT_EQ(options.inputs.size(), 3u);
    EXPECT_EQ(options.inputs[0].input, 0);
    EXPECT_EQ(options.inputs[0].path, "a.wav");
    EXPECT_EQ(options.inputs[0].channel, 2);
    EXPECT_EQ(options.inputs[1].input, 1);
    EXPECT_TRUE(options.inputs[1].constant);
    EXPECT_FLOAT_EQ(options.inputs[1].value, 0.25f);
    EXPECT_EQ(options.inputs[2].path, "C:/x.wav");  // a colon not followed by a channel number stays in the name
    EXPECT_EQ(options.inputs[2].channel, 1);
    EXPECT_EQ(options.rate, 44100);
    EXPECT_DOUBLE_EQ(*options.seconds, 0.5);
    EXPECT_EQ(options.block, 64);
    EXPECT_EQ(options.output, "o.WAV");
    EXPECT_TRUE(options.csv);
    EXPECT_EQ(options.watches, (std::vector<std::string>{"n", "phase"}));
    EXPECT_EQ(options.module, "m.sem");
}

TEST(CommandLine, CheckTakesOneTextOrOneFile) {
    const auto check = [](std::vector<std::string> args) {
        args.insert(args.begin(), "check");
        return readCommandLine(args);
    };
    EXPECT_EQ(*check({"a=1;"}).check.text, "a=1;");
    EXPECT_EQ(*check({"-f", "x.txt"}).check.file, "x.txt");
    EXPECT_EQ(*check({"-f", "-"}).check.file, "-");
    EXPECT_EQ(*check({"--", "-a;"}).check.text, "-a;");
    EXPECT_EQ(*check({"out1 = -u;"}).check.text, "out1 = -u;");
    using Args = std::vector<std::string>;
    for (const Args& bad : {Args{}, Args{"a;", "b;"}, Args{"a;", "-f", "x"}, Args{"-f"}, Args{"-x"}})
        EXPECT_EQ(check(bad).command, Command::None) << ::testing::PrintToString(bad);
}

TEST(CommandLine, HelpNamesEveryOptionAndTheInputScaling) {
    const CommandLine help = readCommandLine({"help", "render"});
    ASSERT_EQ(help.command, Command::Help);
    for (const char* option : {"--expr", "--expr-file", "--init", "--init-file", "--in", "--rate", "--seconds",
                               "--samples", "--block", "--output", "--csv", "--watch", "--module"})
        EXPECT_NE(help.message.find(option), std::string::npos) << option;
    EXPECT_NE(help.message.find("the text reads ten times it"), std::string::npos) << help.message;
    EXPECT_EQ(readCommandLine({"render", "--help"}).message, help.message);
    EXPECT_NE(readCommandLine({"help", "check"}).message.find("-f"), std::string::npos);
    EXPECT_EQ(readCommandLine({"help", "nothing"}).command, Command::None);
    EXPECT_EQ(readCommandLine({"nothing"}).command, Command::None);
}

// ---- Texts from files ----------------------------------------------------------------

TEST(PinText, SkipsAByteOrderMarkAndNamesTextAfterAZeroByte) {
    struct Case {
        std::string raw;
        std::string text;                // what the module is given
        std::vector<std::string> notes;  // a part of each note
    };
    const std::string mark = "\xEF\xBB\xBF";
    const Case cases[] = {
        {"a = 1;", "a = 1;", {}},
        {mark + "a = 1;", "a = 1;", {"f.txt starts with a UTF-8 byte-order mark"}},
        {"a = 1;" + mark, "a = 1;" + mark, {}},  // only at the start: elsewhere the module refuses it
        {std::string("a = 1;\nb\0 = 2;", 14),
         std::string("a = 1;\nb\0 = 2;", 14),
         {"f.txt: a zero byte at line 2, column 2 ends the text for the module, which never sees the 5 bytes "
          "after it"}},
        {mark + std::string("\0", 1),
         std::string("\0", 1),
         {"byte-order mark", "line 1, column 1 ends the text for the module, which never sees the 0 bytes"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.raw));
        const PinText pin = preparePinText("f.txt", c.raw);
        EXPECT_EQ(pin.text, c.text);
        ASSERT_EQ(pin.notes.size(), c.notes.size());
        for (std::size_t n = 0; n < c.notes.size(); ++n)
            EXPECT_NE(pin.notes[n].find(c.notes[n]), std::string::npos) << pin.notes[n];
    }
}

// ---- The engine beside the plug-in ------------------------------------------------------

// Renders through the plug-in and the engine side by side; counts the
// samples the engine calls failed and those where both disagree.
struct SideBySide {
    int64_t failed = 0;
    int64_t silentInPlugIn = 0;
    int64_t disagreements = 0;
    float firstOut1 = 0.0f;  // from the plug-in
};

SideBySide runSideBySide(const std::string& expr, const std::string* init, int32_t samples) {
    SideBySide result;
    std::string error;
    auto library = quorvel::host::Library::load(quorvel::host::moduleNextToExecutable(), &error);
    if (!library) {
        ADD_FAILURE() << error;
        return result;
    }
    auto instance = quorvel::host::Instance::create(*library);
    instance->setSampleRate(48000.0f);
    instance->open();
    quorvel::module::ModuleEngine shadow;
    shadow.restart(48000.0f);
    if (init) {
        instance->setText(quorvel::module::kInitPin, *init);
        shadow.parseInit(init->c_str());
    }
    instance->setText(quorvel::module::kExprPin, expr);
    shadow.parseExpr(expr.c_str());
    const std::size_t count = static_cast<std::size_t>(samples);
    std::vector<float> input(count, 0.25f), out[3], expected[3];
    for (auto& channel : out) channel.assign(count, -1.0f);
    for (auto& channel : expected) channel.assign(count, -1.0f);
    std::vector<int32_t> codes(count);
    const float* in[6] = {input.data(), input.data(), input.data(), input.data(), input.data(), input.data()};
    float* outs[3] = {out[0].data(), out[1].data(), out[2].data()};
    float* expectedOuts[3] = {expected[0].data(), expected[1].data(), expected[2].data()};
    instance->processBlock(in, outs, samples);
    shadow.process(in, expectedOuts, 0, count, true, codes.data());
    result.firstOut1 = out[0][0];
    for (std::size_t i = 0; i < count; ++i) {
        if (codes[i] != EXPR_OK) ++result.failed;
        if (out[0][i] == 0.0f && out[1][i] == 0.0f && out[2][i] == 0.0f) ++result.silentInPlugIn;
        for (int k = 0; k < 3; ++k)
            if (expected[k][i] != out[k][i]) {
                ++result.disagreements;
                break;
            }
    }
    instance.reset();
    return result;
}

TEST(ShadowEngine, SilencesTheSamplesThePlugInSilences) {
    struct Case {
        const char* expr;
        int64_t failed;  // of 64 samples
    };
    const Case cases[] = {
        {"out1 = 1 + u;", 0},
        {"out1 = 1;", 0},
        {"out1 = 1", 64},  // never parses
        {"out1 = 1 + if(below(mod(sample, 4), 1), pntchange(1, 1, 0, 0, 0), 0);", 16},
        {"out1 = 1 / 0 + 1;", 0},  // zero on math error
        // The Expr budget: 9090 passes fit, 9091 do not.
        {"for(i = 0, below(i, 9090), i = i + 1, s = s + i); out1 = 1;", 0},
        {"for(i = 0, below(i, 9091), i = i + 1, s = s + i); out1 = 1;", 64},
        // Stopped at sample 3: the rest of the block is silent.
        {"out1 = 1 + if(equal(sample, 3), for(i = 0, 1, 0, 0), 0);", 61},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expr);
        const SideBySide result = runSideBySide(c.expr, nullptr, 64);
        EXPECT_EQ(result.failed, c.failed);
        EXPECT_EQ(result.silentInPlugIn, c.failed);
        EXPECT_EQ(result.disagreements, 0);
    }
}

TEST(ShadowEngine, InitHasTheModulesLargerBudget) {
    // Init sets done only if its loop finishes; Expr shows it on out1.
    for (const auto& [passes, finishes] : {std::pair{909099, true}, std::pair{909100, false}}) {
        const std::string init =
            "for(i = 0, below(i, " + std::to_string(passes) + "), i = i + 1, s = s + i); done = 1;";
        const SideBySide result = runSideBySide("out1 = done + 1;", &init, 4);
        EXPECT_EQ(result.failed, 0);
        EXPECT_EQ(result.disagreements, 0) << passes;
        EXPECT_FLOAT_EQ(result.firstOut1, finishes ? 0.2f : 0.1f) << passes;
    }
}

}  // namespace
