// The same bits from every build, over many arguments: for each mathematical
// built-in, 10 240 arguments from a fixed generator (musical ranges, the
// whole domain, the hard regions) and a list of hard cases, evaluated
// through the engine. The expected results are checked in
// (expected_digests.h) as digests of chunks of 1 024 arguments, and the hard
// cases bit by bit. The native, 32-bit Linux and 32-bit Windows test
// programs (tests/crossbuild) and the WebAssembly engine (web/tests/unit)
// compare against the same table.
//
// A chunk's digest is a hash of its outcomes and, to name the argument that
// differs, eleven parities: the XOR of all outcomes and, for each bit k of
// the index in the chunk, the XOR of the outcomes whose index has bit k set.
// Where one argument of a chunk differs, the parities that change spell its
// index, and the change gives its expected bits. Where several differ,
// identity_tool dumps every argument's result on two builds for a diff.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace identity {

constexpr int kArguments = 10240;
constexpr int kChunk = 1024;
constexpr int kChunks = kArguments / kChunk;
constexpr int kIndexBits = 10;  // kChunk is 2^kIndexBits
constexpr int kParities = kIndexBits + 1;

struct Function {
    const char* name;
    const char* text;  // over the variables a and b
    int arity;
};

extern const Function kFunctions[];
extern const int kFunctionCount;

struct Argument {
    double a, b;
};

// The generated arguments of a function, always the same: the first
// kArguments are the check's; more continue the sequence (the accuracy run).
std::vector<Argument> arguments(int function, int count = kArguments);
// Its hard cases, compared bit by bit.
std::vector<Argument> hardCases(int function);

// The outcome of one evaluation as one word: the value's bits for EXPR_OK,
// otherwise kFailure with the code in its low bits (a signalling NaN, which
// no function gives).
constexpr uint64_t kFailure = 0x7FF0DEAD00000000;

// How the engine runs a text: its compiled program as the build makes it
// (machine code on x86), the program's threaded runner, or the tree.
enum class Form { Compiled, Threaded, Walked };

class Evaluator {
public:
    Evaluator(int function, Form form);
    ~Evaluator();
    uint64_t outcome(const Argument& argument);

private:
    struct Engine;
    std::unique_ptr<Engine> engine_;
};

struct ChunkDigest {
    uint64_t hash;
    uint64_t parity[kParities];
};

ChunkDigest digest(const uint64_t* outcomes, int count);

// Compares one chunk; on a difference, a text naming what differs (the
// argument, the expected and the computed outcome, where the parities tell
// it). Empty when the chunk agrees.
std::string compareChunk(int function, int chunk, const ChunkDigest& expected, const Argument* args,
                         const uint64_t* outcomes);

std::string describeOutcome(uint64_t outcome);
std::string describeArgument(int function, const Argument& argument);

// Every argument and hard case of a function with its outcome, one line
// each ("NAME INDEX A B OUTCOME", bits in hex), as identity_tool dump and
// web/tests/support/identity-dump.mjs print them for a diff of two builds.
std::string dump(int function);

struct HardCase {
    int function;
    uint64_t a, b;  // the arguments' bits
    uint64_t outcome;
};

// Every check of one function in one form against the expected table; an
// empty text when all agree, otherwise what differs (at most a few lines
// per chunk).
std::string check(int function, Form form, const ChunkDigest (*expected)[kChunks], const HardCase* hard, int hardCount);

}  // namespace identity
