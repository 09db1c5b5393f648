#include "cli_options.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "pin_names.h"

namespace quorvel::tools {

namespace {

// The number of the input pin called `name`, or -1.
int32_t inputNumber(const std::string& name) {
    for (int32_t k = 0; k < module::kInputCount; ++k)
        if (name == inputName(k)) return k;
    return -1;
}

// The whole text as a finite number.
bool parseReal(const std::string& text, double& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return false;
    out = value;
    return true;
}

// "FILE.wav" or "FILE.wav:2"; a colon not followed by digits alone stays in
// the name ("C:/x.wav").
std::string parseInputFile(const std::string& text, const std::string& source, InputFeed& request) {
    request.path = source;
    const std::size_t colon = source.rfind(':');
    if (colon != std::string::npos && colon + 1 < source.size() &&
        source.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
        const std::string digits = source.substr(colon + 1);
        const long channel = digits.size() > 5 ? 0 : std::strtol(digits.c_str(), nullptr, 10);
        if (channel < 1 || channel > 65535) return text + ": the channel must be from 1 to 65535";
        request.path = source.substr(0, colon);
        request.channel = static_cast<int32_t>(channel);
    }
    if (request.path.empty()) return text + ": the file name is missing";
    return {};
}

// "u=0.25", "u=FILE.wav" or "u=FILE.wav:2"; empty on success, else what is wrong.
std::string parseInput(const std::string& text, InputFeed& request) {
    const std::size_t equals = text.find('=');
    request.input = equals == std::string::npos ? -1 : inputNumber(text.substr(0, equals));
    if (request.input < 0)
        return "takes INPUT=FILE.wav, INPUT=FILE.wav:CHANNEL or INPUT=VALUE, with INPUT one of " +
               pinNames(module::PinRole::Input, " ") + " (got \"" + text + "\")";
    const std::string source = text.substr(equals + 1);
    if (source.empty()) return text + ": a file or a value is missing after \"=\"";
    double value = 0.0;
    if (!parseReal(source, value)) return parseInputFile(text, source, request);
    if (std::fabs(value) > 3.0e38) return text + ": the value does not fit an audio sample";
    request.constant = true;
    request.value = static_cast<float>(value);
    return {};
}

// Every --in, each input at most once.
std::vector<InputFeed> readInputs(const std::vector<std::string>& texts) {
    std::vector<InputFeed> inputs;
    std::vector<bool> seen(module::kInputCount, false);
    for (const std::string& text : texts) {
        InputFeed request;
        if (std::string problem = parseInput(text, request); !problem.empty())
            throw CLI::ValidationError("--in", problem);
        if (seen[request.input])
            throw CLI::ValidationError("--in", std::string("input ") + inputName(request.input) + " is given twice");
        seen[request.input] = true;
        inputs.push_back(request);
    }
    return inputs;
}

bool endsWithWav(const std::string& path) {
    if (path.size() < 4) return false;
    std::string extension = path.substr(path.size() - 4);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".wav";
}

const CLI::Validator kWavName(
    [](std::string& path) -> std::string {
        if (path.empty()) return "the output needs a file name";
        if (!endsWithWav(path)) return "the output is a WAV file: its name ends in .wav (got \"" + path + "\")";
        return {};
    },
    "", "WAV file name");

// strtod's reading takes "nan" and "inf", which no length is.
const CLI::Validator kPositiveLength(
    [](std::string& text) -> std::string {
        double value = 0.0;
        if (!parseReal(text, value) || value <= 0.0) return "takes a length above 0 (got \"" + text + "\")";
        return {};
    },
    "", "positive length");

std::string inputHelp() {
    const std::string first = inputName(0);
    const std::string indent(first.size() + 9, ' ');
    return "feed an input, one of " + pinNames(module::PinRole::Input, " ") + ", each at most once:\n" + first +
           "=FILE.wav[:CHANNEL]  a channel of a WAV file (1 unless given); silence after its end\n" + first +
           "=VALUE  the pin's sample held at VALUE: the text reads ten times it\n" + indent + "(" + first +
           "=0.25 reads 2.5)";
}

// Whole-line rules of render: one Expr, one length that is at least a sample.
void checkRender(const RenderOptions& options) {
    if (!options.expr && !options.exprFile)
        throw CLI::RequiredError("the Expr text is missing: give --expr TEXT or --expr-file FILE",
                                 CLI::ExitCodes::RequiredError);
    if (!options.seconds) return;
    const double samples = std::round(*options.seconds * options.rate);
    if (samples < 1.0) throw CLI::ValidationError("--seconds", "shorter than one sample at this rate");
    if (samples > static_cast<double>(kMaxSamples))
        throw CLI::ValidationError("--seconds", "asks for more than " + std::to_string(kMaxSamples) + " samples");
}

// Options shown with the name of their value alone: ranges, defaults and
// exclusions are said in the descriptions, in words.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* option) const override {
        if (option->get_positional() || option->get_type_size() == 0) return {};
        return " " + option->get_type_name();
    }
};

void addTextOptions(CLI::App& render, RenderOptions& options) {
    CLI::Option* expr =
        render.add_option("--expr", options.expr, "the Expr text (runs at every sample)")->type_name("TEXT");
    render.add_option("--expr-file", options.exprFile, "the Expr text from a file (- reads standard input)")
        ->type_name("FILE")
        ->excludes(expr);
    CLI::Option* init =
        render.add_option("--init", options.init, "the Init text (runs once, at the first sample)")->type_name("TEXT");
    render.add_option("--init-file", options.initFile, "the Init text from a file")->type_name("FILE")->excludes(init);
}

// The inputs, the rate and the length: what the plug-in is given.
void addSignalOptions(CLI::App& render, RenderOptions& options) {
    const RenderOptions defaults;
    render
        .add_option_function<std::vector<std::string>>(
            "--in", [&options](const std::vector<std::string>& texts) { options.inputs = readInputs(texts); },
            inputHelp())
        ->type_name("INPUT=SOURCE")
        ->allow_extra_args(false);
    render
        .add_option("--rate", options.rate,
                    "sample rate, 1 to " + std::to_string(kMaxRate) + " Hz, " + std::to_string(defaults.rate) +
                        " unless given; input files must have it")
        ->type_name("HZ")
        ->check(CLI::Range(1, kMaxRate).description(""));
    CLI::Option* seconds = render.add_option("--seconds", options.seconds, "length in seconds")
                               ->type_name("SECONDS")
                               ->check(kPositiveLength);
    render
        .add_option("--samples", options.samples,
                    "length in samples; without either length: the longest input file, else one second")
        ->type_name("N")
        ->check(CLI::Range(int64_t{1}, kMaxSamples).description(""))
        ->excludes(seconds);
    render
        .add_option("--block", options.block,
                    "samples per processing block, 1 to " + std::to_string(kMaxBlock) + ", " +
                        std::to_string(defaults.block) + " unless given")
        ->type_name("N")
        ->check(CLI::Range(1, kMaxBlock).description(""));
}

// Where the samples and figures go, and which plug-in makes them.
void addOutputOptions(CLI::App& render, RenderOptions& options) {
    render
        .add_option("-o,--output", options.output,
                    "write " + pinNames(module::PinRole::Output, ", ") + " as the channels of a 32-bit float WAV file")
        ->type_name("OUT.wav")
        ->check(kWavName);
    CLI::Option* csv =
        render
            .add_flag("--csv", options.csv,
                      "print every sample as CSV on standard output (at most " + std::to_string(kMaxCsvSamples) +
                          " samples;\nthe figures then go to standard error)")
            ->disable_flag_override();
    render
        .add_option("--watch", options.watches,
                    "a CSV column with the value of a variable (or constant) after each\nsample's evaluation; "
                    "give it once per name")
        ->type_name("NAME")
        ->allow_extra_args(false)
        ->needs(csv);
    render.add_option("--module", options.module, "the plug-in to load, quorvel.sem next to quorvel unless given")
        ->type_name("PATH");
}

void defineRender(CLI::App& render, RenderOptions& options) {
    render.description("play texts through the Quorvel plug-in, as a host does, and tell what came out");
    addTextOptions(render, options);
    addSignalOptions(render, options);
    addOutputOptions(render, options);
    render.footer(
        "Prints per output its peak, its RMS, how many samples are NaN or infinite, how many\n"
        "a failed evaluation silenced, and how many pass full scale (|sample| > 1.0).\n"
        "\n"
        "Exit status: 0 rendered; 1 a text does not parse (the report says where), or a file,\n"
        "the module or the output failed; 2 bad usage.");
    render.final_callback([&options] { checkRender(options); });
}

void defineCheck(CLI::App& check, CheckOptions& options) {
    check.description("tell whether a text parses, and where it does not");
    CLI::Option* text = check.add_option("TEXT", options.text, "the text (one that starts with - goes after --)");
    check.add_option("-f,--file", options.file, "read the text from a file (- reads standard input)")
        ->type_name("FILE")
        ->excludes(text);
    CLI::Option* init =
        check.add_option("--init", options.init, "the Init text, checked with the Expr text")->type_name("TEXT");
    check.add_option("--init-file", options.initFile, "read the Init text from a file")
        ->type_name("FILE")
        ->excludes(init);
    check.add_flag("--json", options.json, "print the diagnosis as JSON, as the playground reads it");
    check.footer(
        "Parses the text (Expr, and Init with --init) as the module would and prints the\n"
        "result code with what it means; for a failure where it stands, the line with the\n"
        "culprit underlined and a hint when the text shows a habit from another language;\n"
        "on success the variables the text reads, writes and creates, and warnings for what\n"
        "parses but probably does not mean what it says.\n"
        "\n"
        "Exit status: 0 the text parses, 1 it does not, 2 bad usage or an unreadable file.");
    check.final_callback([&options] {
        if (!options.text && !options.file)
            throw CLI::RequiredError("the text is missing: give TEXT or -f FILE", CLI::ExitCodes::RequiredError);
    });
}

// The whole program's command line, filled into `line` by parse.
class Program {
public:
    explicit Program(CommandLine& line) : app_("Try an expression before patching it.", "quorvel") {
        app_.require_subcommand(1);
        app_.formatter(std::make_shared<HelpFormatter>());
        app_.get_formatter()->column_width(28);
        render_ = app_.add_subcommand("render");
        check_ = app_.add_subcommand("check");
        help_ = app_.add_subcommand("help", "show the options of a command");
        defineRender(*render_, line.render);
        defineCheck(*check_, line.check);
        help_->add_option("COMMAND", helpTopic_, "render or check");
        help_->footer("Also: quorvel COMMAND --help.");
    }

    CLI::App& app() { return app_; }
    std::string helpTopic() const { return helpTopic_; }

    // The command parsed, or the one being parsed when parsing failed.
    CLI::App* command() const {
        const auto parsed = app_.get_subcommands();
        return parsed.empty() ? nullptr : parsed.back();
    }

    const CLI::App* subcommand(const std::string& name) const {
        for (const CLI::App* command : {render_, check_, help_})
            if (command->get_name() == name) return command;
        return nullptr;
    }

    bool isCommand(const std::string& name) const { return subcommand(name) != nullptr; }

    // The help of a command ("" for the program); empty when there is none.
    std::string helpOf(const std::string& name) const {
        const CLI::App* command = name.empty() ? &app_ : subcommand(name);
        if (!command) return {};
        const std::string usageName = command == &app_ ? "quorvel" : "quorvel " + name;
        return app_.get_formatter()->make_help(command, usageName, CLI::AppFormatMode::Normal);
    }

    Command commandOf(const CLI::App* app) const {
        if (app == render_) return Command::Render;
        if (app == check_) return Command::Check;
        return Command::Help;
    }

private:
    CLI::App app_;
    CLI::App* render_;
    CLI::App* check_;
    CLI::App* help_;
    std::string helpTopic_;
};

// "quorvel render: PROBLEM" with where to read the options. CLI11 sometimes
// starts its messages with the command's name: that is said once.
std::string usageProblem(const std::string& command, std::string problem) {
    if (!command.empty() && problem.rfind(command + ": ", 0) == 0) problem.erase(0, command.size() + 2);
    const std::string who = command.empty() ? "quorvel" : "quorvel " + command;
    return who + ": " + problem + "\nRun 'quorvel help" + (command.empty() ? "" : " " + command) +
           "' for the options.\n";
}

CommandLine helpLine(std::string text) {
    CommandLine line;
    line.command = Command::Help;
    line.message = std::move(text);
    return line;
}

CommandLine problemLine(std::string message) {
    CommandLine line;
    line.message = std::move(message);
    return line;
}

}  // namespace

CommandLine readCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    Program program(line);
    if (args.empty()) return problemLine(program.helpOf(""));
    if (args[0].empty() || (args[0][0] != '-' && !program.isCommand(args[0])))
        return problemLine(usageProblem("", "no command \"" + args[0] + "\""));
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
        program.app().parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return helpLine(program.helpOf(program.command() ? program.command()->get_name() : ""));
    } catch (const CLI::ParseError& error) {
        return problemLine(usageProblem(program.command() ? program.command()->get_name() : "", error.what()));
    }
    line.command = program.commandOf(program.command());
    if (line.command != Command::Help) return line;
    const std::string help = program.helpOf(program.helpTopic());
    if (help.empty()) return problemLine(usageProblem("help", "no command \"" + program.helpTopic() + "\""));
    return helpLine(help);
}

}  // namespace quorvel::tools
