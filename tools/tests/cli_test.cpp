// The built quorvel program, run as people run it: exit statuses, messages,
// and nothing left at -o when a render fails.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "quorvel_host.h"

namespace {

namespace fs = std::filesystem;

struct ProgramRun {
    int status;
    std::string output;  // standard output and standard error together
};

std::string quoted(const std::string& arg) {
    std::string out = "'";
    for (const char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

ProgramRun quorvel(const std::vector<std::string>& args, const std::string& redirect = "2>&1",
                   const std::string& input = "/dev/null") {
    std::string command = quoted(quorvel::host::moduleNextToExecutable("quorvel"));
    for (const std::string& arg : args) command += " " + quoted(arg);
    command += " " + redirect + " <" + quoted(input);
    ProgramRun run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        directory = fs::temp_directory_path() / ("quorvel_cli_test_" + std::to_string(getpid()));
        fs::create_directories(directory);
    }
    void TearDown() override { fs::remove_all(directory); }

    std::string file(const std::string& name) const { return (directory / name).string(); }

    std::string writeText(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary) << text;
        return file(name);
    }

    std::string writeWav(const std::string& name, int rate, int channels, const std::vector<float>& interleaved) const {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* out = sf_open(file(name).c_str(), SFM_WRITE, &info);
        EXPECT_NE(out, nullptr);
        sf_writef_float(out, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
        sf_close(out);
        return file(name);
    }

    // The samples of a WAV file, with its rate and channel count.
    std::vector<float> readWav(const std::string& path, SF_INFO& info) const {
        info = {};
        SNDFILE* in = sf_open(path.c_str(), SFM_READ, &info);
        if (!in) return {};
        std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
        sf_readf_float(in, samples.data(), info.frames);
        sf_close(in);
        return samples;
    }

    fs::path directory;
};

TEST_F(Cli, CheckExitsZeroOneOrTwo) {
    EXPECT_EQ(quorvel({"check", "out1 = u;"}).status, 0);
    EXPECT_EQ(quorvel({"check", "out1 = u"}).status, 1);
    EXPECT_EQ(quorvel({"check", "-f", writeText("good.txt", "<note> a = 1;\n")}).status, 0);
    EXPECT_EQ(quorvel({"check", "-f", writeText("bad.txt", "a = 1;\nb = 2 % 3;\n")}).status, 1);
    EXPECT_EQ(quorvel({"check"}).status, 2);
    EXPECT_EQ(quorvel({"check", "a;", "b;"}).status, 2);
    EXPECT_EQ(quorvel({"check", "-f", file("missing.txt")}).status, 2);
    EXPECT_EQ(quorvel({"check", "-f", directory.string()}).status, 2);
    EXPECT_EQ(quorvel({}).status, 2);
    EXPECT_EQ(quorvel({"frobnicate"}).status, 2);
    EXPECT_EQ(quorvel({"help"}).status, 0);
    EXPECT_EQ(quorvel({"check", "--help"}).status, 0);
    EXPECT_EQ(quorvel({"check", "--json", "out1 = u;"}).status, 0);
    EXPECT_EQ(quorvel({"check", "--json", "out1 = u"}).status, 1);
}

TEST_F(Cli, CheckJsonIsOneLineOfTheDiagnosisAlone) {
    const ProgramRun run = quorvel({"check", "--json", "--init", "g = 1;", "--", "// gain\nout1 = u;"}, "2>/dev/null");
    EXPECT_EQ(run.output.rfind("{\"expr\":{\"code\":\"EXPR_ERR_TOKEN\",\"offset\":0,", 0), 0u) << run.output;
    EXPECT_NE(run.output.find("\"init\":{\"code\":\"EXPR_OK\""), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;
}

TEST_F(Cli, CheckSaysWhatAndWhere) {
    const ProgramRun semicolon = quorvel({"check", "out1 = u; out2 = v"});
    EXPECT_NE(semicolon.output.find("EXPR_ERR_SEMICOLON \xE2\x80\x94 the last statement is not closed by \";\""),
              std::string::npos)
        << semicolon.output;
    EXPECT_NE(semicolon.output.find("line 1, column 11, statement 2: \"out2 = v\"\n"
                                    "    out1 = u; out2 = v\n"
                                    "              ^^^^^^^^\n"),
              std::string::npos)
        << semicolon.output;

    const ProgramRun character = quorvel({"check", "-f", writeText("bad.txt", "a = 1;\nb = 2 % 3;\n")});
    EXPECT_NE(character.output.find("EXPR_ERR_CHARACTER"), std::string::npos) << character.output;
    EXPECT_NE(character.output.find("line 2, column 7, statement 2"), std::string::npos) << character.output;
    EXPECT_NE(character.output.find("hint: there is no remainder operator: write mod(a, b)"), std::string::npos)
        << character.output;

    // Init and Expr together: what Init sets, Expr may read.
    const ProgramRun both = quorvel({"check", "--init", "g = 2;", "out1 = u * g;"});
    EXPECT_EQ(both.status, 0) << both.output;
    EXPECT_EQ(both.output.find("never written"), std::string::npos) << both.output;
    const ProgramRun alone = quorvel({"check", "out1 = u * g;"});
    EXPECT_NE(alone.output.find("warning: line 1, column 12: g is read but never written"), std::string::npos)
        << alone.output;

    const ProgramRun good = quorvel({"check", "phase = fpart(phase + 440 / rate); out1 = sin(phase);"});
    EXPECT_NE(good.output.find("EXPR_OK"), std::string::npos);
    EXPECT_NE(good.output.find("reads:     phase"), std::string::npos) << good.output;
    EXPECT_NE(good.output.find("writes:    phase, out1"), std::string::npos) << good.output;
    EXPECT_NE(good.output.find("creates:   phase"), std::string::npos) << good.output;
}

TEST_F(Cli, RenderWritesThreeFloatChannelsOfWhatThePlugInPlays) {
    const std::string out = file("out.wav");
    const ProgramRun run = quorvel({"render", "--expr", "out1 = 5; out2 = u; out3 = sample;", "--in", "u=0.25",
                                    "--rate", "8000", "--samples", "1000", "--block", "100", "-o", out});
    ASSERT_EQ(run.status, 0) << run.output;
    SF_INFO info;
    const std::vector<float> samples = readWav(out, info);
    EXPECT_EQ(info.samplerate, 8000);
    EXPECT_EQ(info.channels, 3);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    ASSERT_EQ(samples.size(), 3000u);
    for (int n = 0; n < 1000; ++n) {
        ASSERT_FLOAT_EQ(samples[n * 3], 0.5f);
        ASSERT_FLOAT_EQ(samples[n * 3 + 1], 0.25f);
        ASSERT_FLOAT_EQ(samples[n * 3 + 2], static_cast<float>(n * 0.1));
    }
    EXPECT_FALSE(fs::exists(out + ".partial"));
    EXPECT_NE(run.output.find("rendered 1000 samples"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("out1   0.5 (-6.0 dBFS)"), std::string::npos) << run.output;
}

TEST_F(Cli, RenderReadsTheChosenChannelOfAnInputFile) {
    const std::string input = writeWav("in.wav", 8000, 2, {0.1f, -0.2f, 0.3f, -0.4f});
    const ProgramRun run = quorvel(
        {"render", "--expr", "out1 = u;", "--in", "u=" + input + ":2", "--rate", "8000", "--csv"}, "2>/dev/null");
    ASSERT_EQ(run.status, 0);
    // The length of the file, and its second channel.
    EXPECT_EQ(run.output, "sample,time,out1,out2,out3\n0,0,-0.200000003,0,0\n1,0.000125,-0.400000006,0,0\n");
}

TEST_F(Cli, RenderCountsSilencedAndNonFiniteSamples) {
    const ProgramRun run = quorvel(
        {"render", "--expr", "out1 = 1 + if(below(mod(sample, 4), 1), pntchange(1, 1, 0, 0, 0), 0); out2 = sqrt(-1);",
         "--samples", "400"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("      300       100"), std::string::npos) << run.output;  // out2: NaN, silenced
    EXPECT_NE(run.output.find("100 samples silenced by EXPR_ERR_MATH"), std::string::npos) << run.output;
}

TEST_F(Cli, RenderKeepsTheModulesBlockRuleForAStoppedExpr) {
    // Stopped at sample 3: the rest of that 16-sample block is silent, in the
    // plug-in and in the engine beside it alike.
    const ProgramRun run = quorvel({"render", "--expr", "out1 = 1 + if(equal(sample, 3), for(i = 0, 1, 0, 0), 0);",
                                    "--samples", "64", "--block", "16"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("13 samples silenced by EXPR_ERR_ABORTED"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("differs"), std::string::npos) << run.output;
}

TEST_F(Cli, ATextThatDoesNotParseEndsTheRenderWithCheckReport) {
    const std::string out = file("out.wav");
    struct Case {
        std::vector<std::string> texts;
        const char* said;    // which text
        const char* report;  // a part of check's report
    };
    const Case cases[] = {
        {{"--expr", "out1 = 1"}, "Expr does not parse", "line 1, column 1, statement 1: \"out1 = 1\""},
        {{"--expr", "out1 = 1;", "--init", "a = 2 % 3;"}, "Init does not parse", "EXPR_ERR_CHARACTER"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"render", "-o", out};
        args.insert(args.end(), c.texts.begin(), c.texts.end());
        const ProgramRun run = quorvel(args);
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(c.report), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(Cli, TheOutputMustBeNamedAsAWavFile) {
    for (const auto& [name, status] :
         {std::pair{"out.flac", 2}, std::pair{"out.wav.txt", 2}, std::pair{"wav", 2}, std::pair{"OUT.Wav", 0}}) {
        const ProgramRun run = quorvel({"render", "--expr", "out1 = 1;", "--samples", "1", "-o", file(name)});
        EXPECT_EQ(run.status, status) << name << ": " << run.output;
        EXPECT_EQ(fs::exists(file(name)), status == 0) << name;
        if (status != 0) {
            EXPECT_NE(run.output.find("its name ends in .wav"), std::string::npos) << run.output;
        }
    }
}

TEST_F(Cli, EveryRenderOptionStillWorks) {
    const std::string expr = writeText("expr.txt", "out1 = k; out2 = u; out3 = v;");
    const std::string init = writeText("init.txt", "k = 3;");
    const std::string input = writeWav("in.wav", 4000, 1, {0.5f, 0.25f});
    const std::string module = quorvel::host::moduleNextToExecutable();
    struct Case {
        std::vector<std::string> args;
        std::string csv;  // standard output
    };
    const Case cases[] = {
        {{"--expr-file", expr, "--init-file", init, "--in", "u=" + input, "--in", "v=-0.5", "--rate", "4000"},
         "sample,time,out1,out2,out3\n0,0,0.300000012,0.5,-0.5\n1,0.00025,0.300000012,0.25,-0.5\n"},
        {{"--expr", "out1 = k + sample;", "--init", "k = 1;", "--seconds", "0.0005", "--rate", "4000", "--block", "1",
          "--module", module},
         "sample,time,out1,out2,out3\n0,0,0.100000001,0,0\n1,0.00025,0.200000003,0,0\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"render", "--csv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(::testing::PrintToString(args));
        const ProgramRun run = quorvel(args, "2>/dev/null");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, c.csv);
    }
}

TEST_F(Cli, WatchAddsAColumnPerNameWithItsValueAfterEachSample) {
    const ProgramRun run = quorvel({"render", "--init", "step = 0.5;", "--expr", "n = n + step; out1 = n;", "--samples",
                                    "3", "--csv", "--watch", "n", "--watch", "step", "--watch", "sample"},
                                   "2>/dev/null");
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.output,
              "sample,time,out1,out2,out3,n,step,sample\n"
              "0,0,0.0500000007,0,0,0.5,0.5,0\n"
              "1,2.08333333e-05,0.100000001,0,0,1,0.5,1\n"
              "2,4.16666667e-05,0.150000006,0,0,1.5,0.5,2\n");

    const ProgramRun unknown = quorvel({"render", "--expr", "out1 = n;", "--csv", "--watch", "N"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.output.find("--watch N: the texts have no variable or constant N"), std::string::npos)
        << unknown.output;
}

TEST_F(Cli, FullScaleIsNotedAndCountedPerOutput) {
    const ProgramRun run = quorvel(
        {"render", "--expr", "out1 = if(below(sample, 3), -15, 5); out2 = 10; out3 = 10.5;", "--samples", "10"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("note: out1 passes full scale (|sample| > 1.0) at 3 of 10 samples, up to 1.5"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("note: out2"), std::string::npos)
        << run.output;  // exactly 1.0 is full scale, not past it
    EXPECT_NE(run.output.find("note: out3 passes full scale (|sample| > 1.0) at 10 of 10 samples"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("0         0         3\n"), std::string::npos) << run.output;  // out1's count column
}

TEST_F(Cli, FilesLoseTheirByteOrderMarkAndTellOfAZeroByte) {
    const std::string marked = writeText("marked.txt", "\xEF\xBB\xBFout1 = 2;");
    const std::string cut = writeText("cut.txt", std::string("out1 = 3;\n\0 out1 = 4;", 21));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"check", "-f", marked}, {"render", "--expr-file", marked, "--samples", "1"}}) {
        const ProgramRun run = quorvel(args);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find("marked.txt starts with a UTF-8 byte-order mark; it is skipped"), std::string::npos)
            << run.output;
    }
    const ProgramRun render = quorvel({"render", "--expr-file", marked, "--samples", "1", "--csv"}, "2>/dev/null");
    EXPECT_EQ(render.output, "sample,time,out1,out2,out3\n0,0,0.200000003,0,0\n");

    const ProgramRun check = quorvel({"check", "-f", "-"}, "2>&1", cut);
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_NE(check.output.find("note: standard input: a zero byte at line 2, column 1 ends the text for the module, "
                                "which never sees the 10 bytes after it"),
              std::string::npos)
        << check.output;
    const ProgramRun played = quorvel({"render", "--expr-file", cut, "--samples", "1", "--csv"}, "2>&1");
    EXPECT_NE(played.output.find("0,0,0.300000012,0,0"), std::string::npos) << played.output;
    EXPECT_NE(played.output.find("cut.txt: a zero byte"), std::string::npos) << played.output;
}

TEST_F(Cli, FailedRendersSayWhyAndLeaveNoOutput) {
    const std::string out = file("out.wav");
    const std::string at44k = writeWav("44k.wav", 44100, 1, std::vector<float>(100, 0.5f));
    const std::string text = writeText("text.wav", "not a sound file\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"--expr", "out1 = u;", "--bogus"}, 2, "quorvel render: The following argument was not expected: --bogus"},
        {{"--expr", "out1 = u;", "--rate", "fast"}, 2, "--rate"},
        {{"--expr", "out1 = u;", "--watch", "a"}, 2, "--watch requires --csv"},
        {{"--init", "a = 1;"}, 2, "Expr text is missing"},
        {{"--expr", "out1 = u;", "--csv", "--seconds", "10"}, 2, "--csv prints at most"},
        {{"--expr-file", file("missing.txt")}, 1, "cannot read"},
        {{"--expr", "out1 = u;", "--in", "u=" + file("missing.wav")}, 1, "cannot read"},
        {{"--expr", "out1 = u;", "--in", "u=" + text}, 1, "is not a WAV file"},
        {{"--expr", "out1 = u;", "--in", "u=" + at44k}, 1, "sample rate of 44100 Hz"},
        {{"--expr", "out1 = u;", "--in", "u=" + at44k + ":2", "--rate", "44100"}, 1, "there is no channel 2"},
        {{"--expr", "out1 = u;", "--module", text}, 1, "cannot load the plug-in"},
        {{"--expr", "out1 = u;", "--module", file("missing.sem")}, 1, "cannot load the plug-in"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"render"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"-o", out});
        SCOPED_TRACE(::testing::PrintToString(args));
        // An earlier file at -o stays as it was.
        writeText("out.wav", "earlier");
        const ProgramRun run = quorvel(args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        std::ifstream earlier(out);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(earlier), {}), "earlier");
        EXPECT_FALSE(fs::exists(out + ".partial"));
    }
    const ProgramRun unwritable = quorvel({"render", "--expr", "out1 = 1;", "-o", file("no/such/dir/out.wav")});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.output.find("cannot write"), std::string::npos) << unwritable.output;
}

}  // namespace
