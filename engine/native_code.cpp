// The compiled form as x86 machine code: i686 with SSE2 (the product) and
// x86-64 (the native build and its tests). A program is translated once,
// when its text parses, instruction by instruction into fixed instruction
// forms, so the code computes exactly what the threaded runner (program.cpp)
// computes, with the same SSE2 instructions in the same order:
//   - the top of the stack lives in xmm0 and the countdown in ebx; the rest
//     of the stack lies in the frame, each value at a place fixed by its
//     depth, which is known at every instruction;
//   - variables are addressed directly and constants come from a pool in
//     the code's own pages; operators, comparisons and tests are inline,
//     loops and choices are branches, and routines and callbacks are called
//     directly;
//   - what may fail or poll (a tick that runs the countdown out, a refused
//     divisor, a routine under the math-error rule) leaves the straight
//     line for a stub after the code, and the rule itself runs in C++.
// Every byte written is an instruction form chosen here, with immediates
// taken from the program: addresses, constants, counts. No byte of a text.
// The layout is measured in a first pass and written in a second, so every
// jump's distance is known when it is written.

#include <cerrno>
#include <cfloat>
#include <cstring>

#include "program.h"

// The code passes a routine its doubles in xmm registers and takes its
// value from xmm0, which needs that convention (register_double.h):
// elsewhere, i686 built by clang included, the threaded runner runs.
#if !EXPR_ROUTINES_IN_REGISTERS

bool exprTranslateProgram(ExprProgram*) {
    return false;
}
void exprReleaseNativeCode(ExprNativeCode*) {}

#else

#if defined(__i386__)
#define EXPR_CDECL __attribute__((cdecl))
#else
#define EXPR_CDECL
#endif

namespace {

using Op = ExprOp;
using Instruction = ExprInstruction;

constexpr bool k64 = sizeof(void*) == 8;

// The registers the code names, by their encoding (x86-64 adds r8 ... r15,
// of which r8, r9 and r12 appear: kEax + 8 and so on with a REX bit).
enum Reg : uint8_t { kEax = 0, kEcx = 1, kEdx = 2, kEbx = 3, kEsp = 4, kEbp = 5, kEsi = 6, kEdi = 7 };
enum Xmm : uint8_t { kXmm0 = 0, kXmm1 = 1, kXmm2 = 2 };

// Condition codes, as in Jcc and SETcc. After ucomisd a, b: equal or
// unordered sets ZF; less or unordered sets CF.
enum Cond : uint8_t {
    kBelow = 0x2,  // a < b or unordered: exprTestLess
    kNotBelow = 0x3,
    kEqual = 0x4,  // a == b or unordered: exprTestEqual, exprTestZero
    kNotEqual = 0x5,
    kNotAbove = 0x6,
    kAbove = 0x7,  // a > b, ordered: exprTestGreater
    kLess = 0xC,   // signed, for the countdown
};

// The frame, from the stack pointer once the prologue has run. stack[k], the
// value k places deep as the threaded runner numbers them, is at
// kStackBase + 8k; stack[0] is never used.
constexpr int32_t kOutgoing = 0;        // i686: the arguments of a call
constexpr int32_t kResultSlot = 32;     // the caller's result pointer
constexpr int32_t kValueSlot = 40;      // what a call writes back
constexpr int32_t kCountdownSlot = 48;  // the countdown a slow tick updates
constexpr int32_t kTopSlot = 56;        // the top, kept across a slow tick
constexpr int32_t kErrnoSlot = 64;      // where errno lives, for a routine under the rule
constexpr int32_t kArgumentSlot = 72;   // a routine's arguments, kept for the rule: a, then b
constexpr int32_t kStackBase = 88;

// Where a branch lands, the code starts at a multiple of this: the
// processor fetches and predicts in aligned blocks, and a landing place
// that straddles one costs cycles on every pass.
constexpr int32_t kTargetAlignment = 16;

// Deeper programs keep to the threaded runner: the frame stays within a
// page, so 32-bit Windows needs no stack probe.
constexpr int32_t kDepthLimit = 400;

constexpr int32_t kContextCountdown = static_cast<int32_t>(offsetof(ExprContext, countdown));
constexpr int32_t kContextCheckInterval = static_cast<int32_t>(offsetof(ExprContext, checkInterval));
constexpr int32_t kContextZeroOnMathError = static_cast<int32_t>(offsetof(ExprContext, zeroOnMathError));

// ---- What the code calls --------------------------------------------------

// Takes count node evaluations one at a time, polling as the walk does.
EXPR_CDECL int32_t tickSlowly(ExprContext* context, int32_t* countdown, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (exprCountNodeEvaluation<exprPollAbortNow>(*countdown, context, countdown)) return EXPR_ERR_ABORTED;
    return EXPR_OK;
}

// The judgement of a routine's value that is not finite, as the threaded
// runner's Rule and Rule2 make it (b is 0.0 for a routine of one argument).
EXPR_CDECL int32_t judge(ExprContext* context, double value, double a, double b, double* result) {
    return exprJudgeRoutine(context, value, a, b, result);
}

// Where this thread's errno lives: the runtime's own function where it is
// known (one call fewer in every evaluation that judges a routine).
#if defined(__GLIBC__)
constexpr int* (*errnoLocation)() = &__errno_location;
#elif defined(_WIN32)
constexpr int* (*errnoLocation)() = &_errno;
#else
EXPR_CDECL int* errnoLocation() {
    return &errno;
}
#endif

bool fitsDisplacement(uintptr_t address, uintptr_t base) {
    const intptr_t distance = static_cast<intptr_t>(address - base);
    return distance >= INT32_MIN && distance <= INT32_MAX;
}

template <typename T> uintptr_t addressOf(T* pointer) {
    return reinterpret_cast<uintptr_t>(pointer);
}
template <typename R, typename... A> uintptr_t addressOf(R (*function)(A...)) {
    return reinterpret_cast<uintptr_t>(function);
}

// ---- Instruction forms ----------------------------------------------------

// A memory operand: a place in the frame, a field of the context (ebp), an
// address (absolute on i686, relative to the next instruction on x86-64,
// where only the code's own pages are in reach), or [eax].
struct Mem {
    enum Kind : uint8_t { Frame, Context, Absolute, AtEax, Anchor } kind;
    Reg holder;  // Context: the register holding the context
    int32_t offset;
    uintptr_t address;  // Absolute
};
Mem frame(int32_t offset) {
    return {Mem::Frame, kEax, offset, 0};
}
Mem contextField(int32_t offset, Reg holder) {
    return {Mem::Context, holder, offset, 0};
}
Mem absolute(uintptr_t address) {
    return {Mem::Absolute, kEax, 0, address};
}
Mem atEax() {
    return {Mem::AtEax, kEax, 0, 0};
}
Mem anchored(int32_t offset) {  // x86-64: [r12 + offset]
    return {Mem::Anchor, kEax, offset, 0};
}

// Writes the code at out, or only measures when out is null; base is the
// address the first byte will have.
class Assembler {
public:
    Assembler(uint8_t* out, uintptr_t base) : out_(out), base_(base) {}
    int32_t at() const { return at_; }

    void byte(uint8_t b) {
        if (out_ != nullptr) out_[at_] = b;
        ++at_;
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) byte(static_cast<uint8_t>(v >> (8 * i)));
    }
    void u64(uint64_t v) {
        for (int i = 0; i < 8; ++i) byte(static_cast<uint8_t>(v >> (8 * i)));
    }
    void pointer(uintptr_t v) {
        if (k64)
            u64(v);
        else
            u32(static_cast<uint32_t>(v));
    }
    void rexW() {
        if (k64) byte(0x48);
    }
    // No-operations up to the next multiple of unit, in the long forms the
    // processor makers recommend, so padding costs a decode slot or two.
    void align(int32_t unit) {
        static const uint8_t kNops[9][9] = {
            {0x90},
            {0x66, 0x90},
            {0x0F, 0x1F, 0x00},
            {0x0F, 0x1F, 0x40, 0x00},
            {0x0F, 0x1F, 0x44, 0x00, 0x00},
            {0x66, 0x0F, 0x1F, 0x44, 0x00, 0x00},
            {0x0F, 0x1F, 0x80, 0x00, 0x00, 0x00, 0x00},
            {0x0F, 0x1F, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00},
            {0x66, 0x0F, 0x1F, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00},
        };
        int32_t pad = (unit - at_ % unit) % unit;
        while (pad > 0) {
            const int32_t n = pad < 9 ? pad : 9;
            for (int32_t k = 0; k < n; ++k) byte(kNops[n - 1][k]);
            pad -= n;
        }
    }

    // ModRM (and SIB, displacement) for reg with memory operand m; the
    // instruction ends with it (trailing bytes: immediates after it).
    void modrm(int reg, Mem m, int32_t trailing = 0) {
        const uint8_t r = static_cast<uint8_t>((reg & 7) << 3);
        // A displacement that fits a signed byte takes one (mod 01) rather
        // than four (mod 10): most of the frame and the context's fields.
        const bool shortDisplacement = m.offset >= -128 && m.offset <= 127;
        const uint8_t mod = shortDisplacement ? 0x40 : 0x80;
        switch (m.kind) {
            case Mem::Frame:
            case Mem::Anchor:       // r12 shares esp's encoding, with REX.B
                byte(mod | 4 | r);  // [esp + disp]
                byte(0x24);
                displacement(m.offset, shortDisplacement);
                break;
            case Mem::Context:
                byte(static_cast<uint8_t>(mod | r | m.holder));  // [ebp or edi + disp]
                displacement(m.offset, shortDisplacement);
                break;
            case Mem::Absolute:
                byte(0x05 | r);  // disp32: absolute on i686, rip-relative on x86-64
                if (k64)
                    u32(static_cast<uint32_t>(m.address - (base_ + static_cast<uintptr_t>(at_) + 4 + trailing)));
                else
                    u32(static_cast<uint32_t>(m.address));
                break;
            case Mem::AtEax: byte(r); break;
        }
    }

    void displacement(int32_t offset, bool shortForm) {
        if (shortForm)
            byte(static_cast<uint8_t>(static_cast<int8_t>(offset)));
        else
            u32(static_cast<uint32_t>(offset));
    }

    // SSE2 scalar-double forms: prefix 0F opcode /r.
    void sse(uint8_t prefix, uint8_t opcode, int xmm, Mem m) {
        byte(prefix);
        if (m.kind == Mem::Anchor) byte(0x41);  // REX.B: r12
        byte(0x0F);
        byte(opcode);
        modrm(xmm, m);
    }
    void sse(uint8_t prefix, uint8_t opcode, int xmm, Xmm source) {
        byte(prefix);
        byte(0x0F);
        byte(opcode);
        byte(static_cast<uint8_t>(0xC0 | (xmm << 3) | source));
    }
    void movsdLoad(Xmm x, Mem m) { sse(0xF2, 0x10, x, m); }
    void movsdStore(Mem m, Xmm x) { sse(0xF2, 0x11, x, m); }
    void movapd(Xmm to, Xmm from) { sse(0x66, 0x28, to, from); }
    void andpd(Xmm to, Xmm from) { sse(0x66, 0x54, to, from); }
    void xorpd(Xmm to, Xmm from) { sse(0x66, 0x57, to, from); }
    void ucomisd(Xmm a, Xmm b) { sse(0x66, 0x2E, a, b); }
    void ucomisd(Xmm a, Mem b) { sse(0x66, 0x2E, a, b); }

    // General-register forms.
    void load32(Reg reg, Mem m) {  // mov r32, [m]
        byte(0x8B);
        modrm(reg, m);
    }
    void store32(Mem m, Reg reg) {  // mov [m], r32
        byte(0x89);
        modrm(reg, m);
    }
    void loadPointer(Reg reg, Mem m) {
        rexW();
        load32(reg, m);
    }
    void storePointer(Mem m, Reg reg) {
        rexW();
        store32(m, reg);
    }
    void storeImmediate32(Mem m, uint32_t value) {  // mov dword [m], imm32
        byte(0xC7);
        modrm(0, m, 4);
        u32(value);
    }
    void leaFrame(Reg reg, int32_t offset, bool r8to15 = false) {  // lea reg, [esp + offset]
        if (k64) byte(r8to15 ? 0x4C : 0x48);
        byte(0x8D);
        modrm(reg, frame(offset));
    }
    void moveImmediate(Reg reg, uintptr_t value) {  // mov reg, imm (64 bits wide on x86-64)
        rexW();
        byte(static_cast<uint8_t>(0xB8 + reg));
        pointer(value);
    }
    void moveImmediate32(Reg reg, uint32_t value, bool r8to15 = false) {
        if (r8to15) byte(0x41);
        byte(static_cast<uint8_t>(0xB8 + reg));
        u32(value);
    }
    void moveRegister(Reg to, Reg from) {  // pointer-wide
        rexW();
        byte(0x89);
        byte(static_cast<uint8_t>(0xC0 | (from << 3) | to));
    }
    void testEax() {
        byte(0x85);
        byte(0xC0);
    }
    void subtractEbx(uint32_t value) { arithmeticEbx(0xEB, value); }
    void addEbx(uint32_t value) { arithmeticEbx(0xC3, value); }
    void arithmeticEbx(uint8_t form, uint32_t value) {  // the short form for a small count
        if (value < 128) {
            byte(0x83);
            byte(form);
            byte(static_cast<uint8_t>(value));
        } else {
            byte(0x81);
            byte(form);
            u32(value);
        }
    }
    void adjustStack(int32_t bytes) {  // add esp, bytes (a small amount)
        rexW();
        byte(0x83);
        byte(0xC4);
        byte(static_cast<uint8_t>(bytes));
    }
    void callLocal(int32_t target) {
        byte(0xE8);
        u32(static_cast<uint32_t>(target - (at_ + 4)));
    }

    // Branches to code offsets; rel32 throughout, so every form has one size.
    void jump(int32_t target) {
        byte(0xE9);
        u32(static_cast<uint32_t>(target - (at_ + 4)));
    }
    void jumpIf(Cond cond, int32_t target) {
        byte(0x0F);
        byte(static_cast<uint8_t>(0x80 | cond));
        u32(static_cast<uint32_t>(target - (at_ + 4)));
    }
    void call(uintptr_t function) {
        if (k64) {
            moveImmediate(kEax, function);
            byte(0xFF);  // call rax
            byte(0xD0);
        } else {
            byte(0xE8);  // call rel32: every address is in reach on i686
            u32(static_cast<uint32_t>(function - (base_ + static_cast<uintptr_t>(at_) + 4)));
        }
    }

private:
    uint8_t* out_;
    uintptr_t base_;
    int32_t at_ = 0;
};

// ---- The translation -------------------------------------------------------

// What one instruction does to the stack depth, from the instruction list.
constexpr int8_t kStackEffect[] = {
#define OPCODE(name, stack) stack,
#include "opcodes.h"
#undef OPCODE
};

int32_t depthChange(Op op) {
    return kStackEffect[static_cast<int>(op)];
}

bool isConditionalJump(Op op) {
    return op >= Op::JumpIfZero && op <= Op::JumpIfBelowConstant;
}

bool carriesConstant(Op op) {
    switch (op) {
        case Op::Constant:
        case Op::AddConstant:
        case Op::SubConstant:
        case Op::MulConstant:
        case Op::DivConstant:
        case Op::JumpUnlessEqualConstant:
        case Op::JumpUnlessAboveConstant:
        case Op::JumpUnlessBelowConstant:
        case Op::JumpIfEqualConstant:
        case Op::JumpIfAboveConstant:
        case Op::JumpIfBelowConstant: return true;
        default: return false;
    }
}

// The condition under which a branch is taken, after its ucomisd.
Cond branchCondition(Op op) {
    switch (op) {
        case Op::JumpIfZero: return kEqual;
        case Op::JumpIfNonZero: return kNotEqual;
        case Op::JumpUnlessEqual:
        case Op::JumpUnlessEqualConstant: return kNotEqual;
        case Op::JumpUnlessAbove:
        case Op::JumpUnlessAboveConstant: return kNotAbove;
        case Op::JumpUnlessBelow:
        case Op::JumpUnlessBelowConstant: return kNotBelow;
        case Op::JumpIfEqual:
        case Op::JumpIfEqualConstant: return kEqual;
        case Op::JumpIfAbove:
        case Op::JumpIfAboveConstant: return kAbove;
        default: return kBelow;  // JumpIfBelow, JumpIfBelowConstant
    }
}

// The stack depth at each instruction, by following every path from the
// first; -1 where none leads. False where the program is not one the
// compiler makes (a jump out of it, paths that disagree on the depth).
bool findDepths(const ExprInstruction* code, int32_t length, int32_t* depth, int32_t* work, int32_t* deepest) {
    for (int32_t i = 0; i < length; ++i) depth[i] = -1;
    int32_t pending = 0;
    depth[0] = 0;
    work[pending++] = 0;
    *deepest = 0;
    const auto reach = [&](int32_t target, int32_t d) {
        if (target < 0 || target >= length) return false;
        if (depth[target] < 0) {
            depth[target] = d;
            work[pending++] = target;
        }
        return depth[target] == d;
    };
    while (pending > 0) {
        const int32_t i = work[--pending];
        const Instruction& instruction = code[i];
        const int32_t before = depth[i];
        const int32_t after = before + depthChange(instruction.op);
        if (after < 0 || before + 1 > kDepthLimit) return false;
        if (after > *deepest) *deepest = after;
        switch (instruction.op) {
            case Op::End: break;
            case Op::Jump:
                if (!reach(instruction.count, after)) return false;
                break;
            case Op::Tick:
                if (instruction.exactCopy != 0 && !reach(instruction.exactCopy, after)) return false;
                if (!reach(i + 1, after)) return false;
                break;
            default:
                if (isConditionalJump(instruction.op) && !reach(instruction.count, after)) return false;
                if (!reach(i + 1, after)) return false;
                break;
        }
    }
    return true;
}

// Where everything goes: the constants' pool at the start of the pages,
// then the code (each instruction's, then their stubs, then the exit).
struct Layout {
    const ExprInstruction* code;
    int32_t length;
    const int32_t* depth;
    int32_t* label;     // each instruction's code, as an offset from codeBase
    int32_t* stub;      // its stub's, or -1
    int32_t* constant;  // its constant's place in the pool, or -1
    int32_t* target;    // nonzero: a branch lands on it
    int32_t exit = 0;
    int32_t slowTick = 0;  // the routine every tick's stub calls
    int32_t frameSize = 0;
    bool rules = false;      // a routine under the math-error rule is called
    bool leaf = false;       // x86-64: nothing called on the straight path (see Translator)
    uintptr_t anchor = 0;    // x86-64: r12 holds it, for the variables near it; 0: none
    uintptr_t poolBase = 0;  // the masks and the largest double first, then the constants
    uintptr_t codeBase = 0;
};

// The pool's first three places.
constexpr int32_t kSignMaskPlace = 0, kMagnitudeMaskPlace = 1, kLargestPlace = 2, kFirstConstantPlace = 3;

class Translator {
public:
    Translator(Layout& layout, uint8_t* out) : layout_(layout), a_(out, layout.codeBase) {}

    int32_t write() {
        prologue();
        const int32_t length = layout_.length;
        for (int32_t i = 0; i < length; ++i) {
            if (layout_.target[i] != 0) a_.align(kTargetAlignment);
            layout_.label[i] = a_.at();
            if (layout_.depth[i] >= 0) instruction(i);
        }
        for (int32_t i = 0; i < length; ++i) {
            if (layout_.depth[i] < 0 || !hasStub(layout_.code[i].op)) continue;
            layout_.stub[i] = a_.at();
            stub(i);
        }
        layout_.slowTick = a_.at();
        slowTickRoutine();
        layout_.exit = a_.at();
        epilogue();
        return a_.at();
    }

private:
    Layout& layout_;
    Assembler a_;

    static bool hasStub(Op op) {
        return op == Op::Tick || op == Op::Div || op == Op::DivVariable || op == Op::Rule || op == Op::Rule2;
    }

    // The context lives in ebp, which calls preserve; a leaf program on
    // x86-64 keeps it in rdi where it arrived, and the result pointer in
    // rsi, and only the slow-tick routine, which saves them, calls out.
    Reg contextRegister() const { return layout_.leaf ? kEdi : kEbp; }
    Mem context(int32_t offset) const { return contextField(offset, contextRegister()); }

    Mem slot(int32_t k) const { return frame(kStackBase + 8 * k); }
    Mem pooled(int32_t place) const { return absolute(layout_.poolBase + 8 * static_cast<uintptr_t>(place)); }
    Mem constantOf(int32_t i) const { return pooled(layout_.constant[i]); }

    // A variable: directly on i686; on x86-64 near the anchor in r12, or
    // through rax where the heap puts it out of a 32-bit displacement's reach.
    Mem variable(double* address) {
        if (!k64) return absolute(addressOf(address));
        if (layout_.anchor != 0 && fitsDisplacement(addressOf(address), layout_.anchor))
            return anchored(static_cast<int32_t>(static_cast<intptr_t>(addressOf(address) - layout_.anchor)));
        a_.moveImmediate(kEax, addressOf(address));
        return atEax();
    }

    void prologue() {
        a_.byte(0x53);                     // push ebx: the countdown
        if (!layout_.leaf) a_.byte(0x55);  // push ebp: the context
        if (k64) {
            if (layout_.anchor != 0) {
                a_.byte(0x41);  // push r12
                a_.byte(0x54);
            }
            // The frame's size keeps rsp at a multiple of 16 for the calls.
            a_.rexW();
            a_.byte(0x81);  // sub rsp, frame
            a_.byte(0xEC);
            a_.u32(static_cast<uint32_t>(layout_.frameSize));
            if (!layout_.leaf) {
                a_.moveRegister(kEbp, kEdi);
                a_.storePointer(frame(kResultSlot), kEsi);
            }
            if (layout_.anchor != 0) {
                a_.byte(0x49);  // mov r12, anchor
                a_.byte(0xBC);
                a_.u64(layout_.anchor);
            }
        } else {
            a_.byte(0x56);  // push esi: the caller's stack pointer
            a_.byte(0x8B);  // mov ebp, [esp + 16]: the context
            a_.byte(0x6C);
            a_.byte(0x24);
            a_.byte(16);
            a_.byte(0x8B);  // mov eax, [esp + 20]: the result pointer
            a_.byte(0x44);
            a_.byte(0x24);
            a_.byte(20);
            // The host may call with the stack aligned to 4 only; the calls
            // made from here get 16.
            a_.byte(0x89);  // mov esi, esp
            a_.byte(0xE6);
            a_.byte(0x83);  // and esp, -16
            a_.byte(0xE4);
            a_.byte(0xF0);
            a_.byte(0x81);  // sub esp, frame
            a_.byte(0xEC);
            a_.u32(static_cast<uint32_t>(layout_.frameSize));
            a_.store32(frame(kResultSlot), kEax);
        }
        a_.load32(kEbx, context(kContextCheckInterval));  // the countdown starts
        if (layout_.rules) {
            // errno's place for this thread, once per evaluation: a routine
            // that needs no judgement only clears it.
            a_.call(addressOf(errnoLocation));
            a_.storePointer(frame(kErrnoSlot), kEax);
        }
    }

    // eax holds the code.
    void epilogue() {
        a_.store32(context(kContextCountdown), kEbx);
        if (k64) {
            a_.rexW();
            a_.byte(0x81);  // add rsp, frame
            a_.byte(0xC4);
            a_.u32(static_cast<uint32_t>(layout_.frameSize));
            if (layout_.anchor != 0) {
                a_.byte(0x41);  // pop r12
                a_.byte(0x5C);
            }
        } else {
            a_.byte(0x89);  // mov esp, esi
            a_.byte(0xF4);
            a_.byte(0x5E);  // pop esi
        }
        if (!layout_.leaf) a_.byte(0x5D);  // pop ebp
        a_.byte(0x5B);                     // pop ebx
        a_.byte(0xC3);                     // ret
    }

    // After a call that gives a code in eax and, on success, a value in the
    // value slot: stop on a failure, otherwise the value is the new top.
    void takeValueOrStop() {
        stopOnFailure();
        a_.movsdLoad(kXmm0, frame(kValueSlot));
    }
    void stopOnFailure() {
        a_.testEax();
        a_.jumpIf(kNotEqual, layout_.exit);
    }

    // A routine's argument: the top, already in xmm0 (register_double.h).
    void passOneArgument() {}
    // A routine's two arguments: a from memory into xmm0, b the top into xmm1.
    void passTwoArguments(Mem a) {
        a_.movapd(kXmm1, kXmm0);
        a_.movsdLoad(kXmm0, a);
    }

    // A routine's double result comes back in xmm0, the new top.
    void callRoutine(uintptr_t routine) { a_.call(routine); }

    // The context as a call's first argument, and the address of the value
    // slot as its last (x86-64: in rdx).
    void contextArgument() {
        if (k64) {
            if (!layout_.leaf) a_.moveRegister(kEdi, kEbp);
        } else {
            a_.store32(frame(kOutgoing), kEbp);
        }
    }

    // divisor in xmm1, dividend in xmm0.
    void divide(int32_t i) {
        a_.xorpd(kXmm2, kXmm2);
        a_.ucomisd(kXmm1, kXmm2);
        a_.jumpIf(kEqual, layout_.stub[i]);  // zero of either sign, or NaN
        a_.sse(0xF2, 0x5E, kXmm0, kXmm1);    // divsd xmm0, xmm1
    }

    void arithmetic(uint8_t opcode, int32_t d) {  // top = below op top
        a_.movsdLoad(kXmm1, slot(d));
        a_.sse(0xF2, opcode, kXmm1, kXmm0);
        a_.movapd(kXmm0, kXmm1);
    }

    void compare(Cond holds, int32_t d) {  // top = test(below, top) as 1.0 or 0.0
        a_.movsdLoad(kXmm1, slot(d));
        a_.ucomisd(kXmm1, kXmm0);
        a_.byte(0x0F);  // setcc al
        a_.byte(static_cast<uint8_t>(0x90 | holds));
        a_.byte(0xC0);
        a_.byte(0x0F);  // movzx eax, al
        a_.byte(0xB6);
        a_.byte(0xC0);
        a_.sse(0xF2, 0x2A, kXmm0, static_cast<Xmm>(kEax));  // cvtsi2sd xmm0, eax
    }

    void instruction(int32_t i) {
        const Instruction& in = layout_.code[i];
        const int32_t d = layout_.depth[i];
        switch (in.op) {
            case Op::Tick:  // below zero after the count: the stub takes it back and goes slowly
                a_.subtractEbx(static_cast<uint32_t>(in.count));
                a_.jumpIf(kLess, layout_.stub[i]);
                return;
            case Op::Constant:
                push(d);
                a_.movsdLoad(kXmm0, constantOf(i));
                return;
            case Op::Load:
                push(d);
                a_.movsdLoad(kXmm0, variable(in.address));
                return;
            case Op::Store: a_.movsdStore(variable(in.address), kXmm0); return;
            case Op::StorePop:
                a_.movsdStore(variable(in.address), kXmm0);
                a_.movsdLoad(kXmm0, slot(d));
                return;
            case Op::Pop: a_.movsdLoad(kXmm0, slot(d)); return;
            // ORDER ARITH
            case Op::Add: arithmetic(0x58, d); return;
            case Op::Sub: arithmetic(0x5C, d); return;
            case Op::Mul: arithmetic(0x59, d); return;
            case Op::Div:
                a_.movapd(kXmm1, kXmm0);
                a_.movsdLoad(kXmm0, slot(d));
                divide(i);
                return;
            case Op::AddConstant: a_.sse(0xF2, 0x58, kXmm0, constantOf(i)); return;
            case Op::SubConstant: a_.sse(0xF2, 0x5C, kXmm0, constantOf(i)); return;
            case Op::MulConstant: a_.sse(0xF2, 0x59, kXmm0, constantOf(i)); return;
            case Op::DivConstant: a_.sse(0xF2, 0x5E, kXmm0, constantOf(i)); return;
            case Op::AddVariable: a_.sse(0xF2, 0x58, kXmm0, variable(in.address)); return;
            case Op::SubVariable: a_.sse(0xF2, 0x5C, kXmm0, variable(in.address)); return;
            case Op::MulVariable:
            case Op::MulVariableAddConstant:  // its add is the next instruction, as it stands
                a_.sse(0xF2, 0x59, kXmm0, variable(in.address));
                return;
            case Op::DivVariable:
                a_.movsdLoad(kXmm1, variable(in.address));
                divide(i);
                return;
            case Op::Neg:
                a_.movsdLoad(kXmm1, pooled(kSignMaskPlace));
                a_.xorpd(kXmm0, kXmm1);
                return;
            case Op::Abs: abs(); return;
            case Op::Direct:
                passOneArgument();
                callRoutine(addressOf(in.compute));
                return;
            case Op::Direct2:
                passTwoArguments(slot(d));
                callRoutine(addressOf(in.compute2));
                return;
            case Op::Rule: rule(i, in, d, false); return;
            case Op::Rule2: rule(i, in, d, true); return;
            // ORDER TEST
            case Op::Equal: compare(kEqual, d); return;
            case Op::Above: compare(kAbove, d); return;
            case Op::Below: compare(kBelow, d); return;
            case Op::Call: callback(in.node, d); return;
            case Op::Jump: a_.jump(layout_.label[in.count]); return;
            case Op::JumpIfZero:
            case Op::JumpIfNonZero:
                a_.xorpd(kXmm1, kXmm1);
                a_.ucomisd(kXmm0, kXmm1);
                a_.movsdLoad(kXmm0, slot(d));
                a_.jumpIf(branchCondition(in.op), layout_.label[in.count]);
                return;
            case Op::JumpUnlessEqual:
            case Op::JumpUnlessAbove:
            case Op::JumpUnlessBelow:
            case Op::JumpIfEqual:
            case Op::JumpIfAbove:
            case Op::JumpIfBelow:
                a_.movsdLoad(kXmm1, slot(d));
                a_.ucomisd(kXmm1, kXmm0);
                a_.movsdLoad(kXmm0, slot(d - 1));
                a_.jumpIf(branchCondition(in.op), layout_.label[in.count]);
                return;
            case Op::JumpUnlessEqualConstant:
            case Op::JumpUnlessAboveConstant:
            case Op::JumpUnlessBelowConstant:
            case Op::JumpIfEqualConstant:
            case Op::JumpIfAboveConstant:
            case Op::JumpIfBelowConstant:
                a_.ucomisd(kXmm0, constantOf(i));
                a_.movsdLoad(kXmm0, slot(d));
                a_.jumpIf(branchCondition(in.op), layout_.label[in.count]);
                return;
            case Op::End:
                if (layout_.leaf) {
                    a_.byte(0xF2);  // movsd [rsi], xmm0
                    a_.byte(0x0F);
                    a_.byte(0x11);
                    a_.byte(0x06);
                } else {
                    a_.loadPointer(kEax, frame(kResultSlot));
                    a_.movsdStore(atEax(), kXmm0);
                }
                a_.byte(0x31);  // xor eax, eax: EXPR_OK
                a_.byte(0xC0);
                epilogue();  // here rather than a jump to the shared one
                return;
        }
    }

    // The top goes under the new one. At depth 0 the top is the empty one
    // the evaluation starts with, which no instruction ever computes with or
    // returns (a program ends with one value over it), so it is not kept.
    void push(int32_t d) {
        if (d > 0) a_.movsdStore(slot(d + 1), kXmm0);
    }

    // top = top < 0 ? -top : top; a NaN is left as it is.
    void abs() {
        a_.xorpd(kXmm1, kXmm1);
        a_.ucomisd(kXmm1, kXmm0);  // above: 0 > top, ordered
        a_.byte(0x76);             // jbe over the negation
        a_.byte(12);
        a_.movsdLoad(kXmm1, pooled(kSignMaskPlace));  // 8 bytes
        a_.xorpd(kXmm0, kXmm1);                       // 4 bytes
    }

    // A routine under the math-error rule: called directly; a finite value
    // needs no judgement (errno is cleared, as the judgement would), any
    // other is judged out of line, with the arguments kept for it.
    void rule(int32_t i, const Instruction& in, int32_t d, bool twoArguments) {
        if (twoArguments) {
            a_.movsdLoad(kXmm1, slot(d));
            a_.movsdStore(frame(kArgumentSlot), kXmm1);      // a: below
            a_.movsdStore(frame(kArgumentSlot + 8), kXmm0);  // b: top
            passTwoArguments(frame(kArgumentSlot));
            callRoutine(addressOf(in.compute2));
        } else {
            a_.movsdStore(frame(kArgumentSlot), kXmm0);
            passOneArgument();
            callRoutine(addressOf(in.compute));
        }
        a_.movsdLoad(kXmm1, pooled(kMagnitudeMaskPlace));
        a_.andpd(kXmm1, kXmm0);
        a_.movsdLoad(kXmm2, pooled(kLargestPlace));
        a_.ucomisd(kXmm2, kXmm1);  // below: |value| is infinite, or NaN
        a_.jumpIf(kBelow, layout_.stub[i]);
        a_.loadPointer(kEax, frame(kErrnoSlot));
        a_.storeImmediate32(atEax(), 0);
    }

    // A callback, called as the threaded runner calls it: the top is pushed
    // and the countdown handed over through the context.
    void callback(const ExprNode* n, int32_t d) {
        a_.movsdStore(slot(d + 1), kXmm0);
        a_.store32(context(kContextCountdown), kEbx);
        contextArgument();
        if (k64) {
            a_.moveImmediate(kEsi, addressOf(n->args));
            a_.moveImmediate32(kEdx, static_cast<uint32_t>(n->argCount));
            a_.moveImmediate(kEcx, addressOf(n->refs));
            a_.moveImmediate32(kEax, static_cast<uint32_t>(n->refCount), true);  // r8d
            a_.leaFrame(kEcx, kValueSlot, true);                                 // r9
        } else {
            a_.storeImmediate32(frame(kOutgoing + 4), static_cast<uint32_t>(addressOf(n->args)));
            a_.storeImmediate32(frame(kOutgoing + 8), static_cast<uint32_t>(n->argCount));
            a_.storeImmediate32(frame(kOutgoing + 12), static_cast<uint32_t>(addressOf(n->refs)));
            a_.storeImmediate32(frame(kOutgoing + 16), static_cast<uint32_t>(n->refCount));
            a_.leaFrame(kEax, kValueSlot);
            a_.store32(frame(kOutgoing + 20), kEax);
        }
        a_.call(addressOf(n->function));
        a_.load32(kEbx, context(kContextCountdown));
        takeValueOrStop();
    }

    // judge(context, value in xmm0, a, b or 0.0, &value slot), its code in eax.
    void judgement(bool twoArguments) {
        if (k64) {
            a_.movsdLoad(kXmm1, frame(kArgumentSlot));
            if (twoArguments)
                a_.movsdLoad(kXmm2, frame(kArgumentSlot + 8));
            else
                a_.xorpd(kXmm2, kXmm2);
            contextArgument();
            a_.leaFrame(kEsi, kValueSlot);
        } else {
            contextArgument();
            a_.movsdStore(frame(kOutgoing + 4), kXmm0);
            a_.movsdLoad(kXmm1, frame(kArgumentSlot));
            a_.movsdStore(frame(kOutgoing + 12), kXmm1);
            if (twoArguments)
                a_.movsdLoad(kXmm1, frame(kArgumentSlot + 8));
            else
                a_.xorpd(kXmm1, kXmm1);
            a_.movsdStore(frame(kOutgoing + 20), kXmm1);
            a_.leaFrame(kEax, kValueSlot);
            a_.store32(frame(kOutgoing + 28), kEax);
        }
        a_.call(addressOf(&judge));
    }

    // The ticks of eax one at a time, for every tick's stub: polls as the
    // walk does, keeps the top, gives the code in eax. Called from the
    // frame, so the frame lies kShift higher, past the return address and
    // the padding that keeps the stack aligned for the call it makes.
    void slowTickRoutine() {
        // A leaf program's context and result pointer go under the padding.
        const bool keep = layout_.leaf;
        const int32_t kShift = keep ? 32 : 16;
        if (keep) {
            a_.byte(0x57);  // push rdi
            a_.byte(0x56);  // push rsi
        }
        // The padding: kShift less the return address and the pushes.
        const int32_t padding = kShift - (keep ? 24 : static_cast<int32_t>(sizeof(void*)));
        a_.adjustStack(-padding);
        a_.movsdStore(frame(kTopSlot + kShift), kXmm0);
        a_.store32(frame(kCountdownSlot + kShift), kEbx);
        if (k64) {
            a_.byte(0x89);  // mov edx, eax: the count
            a_.byte(0xC2);
            contextArgument();
            a_.leaFrame(kEsi, kCountdownSlot + kShift);
        } else {
            a_.store32(frame(8), kEax);  // arguments in the padding
            a_.store32(frame(0), kEbp);
            a_.leaFrame(kEcx, kCountdownSlot + kShift);
            a_.store32(frame(4), kEcx);
        }
        a_.call(addressOf(&tickSlowly));
        a_.load32(kEbx, frame(kCountdownSlot + kShift));
        a_.movsdLoad(kXmm0, frame(kTopSlot + kShift));
        a_.adjustStack(padding);
        if (keep) {
            a_.byte(0x5E);  // pop rsi
            a_.byte(0x5F);  // pop rdi
        }
        a_.byte(0xC3);  // ret
    }

    void stub(int32_t i) {
        const Instruction& in = layout_.code[i];
        const int32_t next = layout_.label[i + 1];
        if (in.op == Op::Tick) {
            a_.addEbx(static_cast<uint32_t>(in.count));
            if (in.exactCopy != 0) {  // a poll falls between the segment's reads
                a_.jump(layout_.label[in.exactCopy]);
                return;
            }
            a_.moveImmediate32(kEax, static_cast<uint32_t>(in.count));
            a_.callLocal(layout_.slowTick);
            stopOnFailure();
            a_.jump(next);
            return;
        }
        if (in.op == Op::Rule || in.op == Op::Rule2) {
            judgement(in.op == Op::Rule2);
            takeValueOrStop();
            a_.jump(next);
            return;
        }
        // A refused divisor: 0.0 under zero-on-math-error, otherwise the error.
        a_.moveImmediate32(kEax, static_cast<uint32_t>(EXPR_ERR_DIVIDE_BY_ZERO));
        a_.byte(0x83);  // cmp dword [ebp + zeroOnMathError], 0
        a_.modrm(7, context(kContextZeroOnMathError), 1);
        a_.byte(0x00);
        a_.jumpIf(kEqual, layout_.exit);
        a_.xorpd(kXmm0, kXmm0);
        a_.jump(next);
    }
};

size_t roundUp(size_t size, size_t unit) {
    return (size + unit - 1) / unit * unit;
}

// The frame: the fixed slots and the deepest stack, keeping the stack
// pointer at a multiple of 16 for every call. On x86-64 the entry leaves it
// 8 past one, and each push moves it by 8.
int32_t frameSize(int32_t deepest, const Layout& layout) {
    const int32_t bytes = static_cast<int32_t>(roundUp(static_cast<size_t>(kStackBase + 8 * (deepest + 2)), 16));
    if (!k64) return bytes;
    const int32_t pushes = 1 + (layout.leaf ? 0 : 1) + (layout.anchor != 0 ? 1 : 0);
    return (8 + 8 * pushes) % 16 == 0 ? bytes : bytes + 8;
}

// Instructions whose code calls a routine or callback on the straight path.
bool callsOut(Op op) {
    return op == Op::Direct || op == Op::Direct2 || op == Op::Rule || op == Op::Rule2 || op == Op::Call;
}

bool readsOrWritesVariable(Op op) {
    return exprReadsVariable(op) || op == Op::Store || op == Op::StorePop;
}

// What the frame and the prologue need: whether routines are judged, and on
// x86-64 an anchor for the variables, worth its register from three
// accesses on (the first variable's address; the rest are usually near).
void surveyProgram(Layout& layout) {
    int32_t accesses = 0;
    uintptr_t first = 0;
    bool calls = false;
    for (int32_t i = 0; i < layout.length; ++i) {
        if (layout.depth[i] < 0) continue;
        const Op op = layout.code[i].op;
        if (op == Op::Rule || op == Op::Rule2) layout.rules = true;
        if (callsOut(op)) calls = true;
        if (readsOrWritesVariable(op)) {
            if (accesses++ == 0) first = addressOf(layout.code[i].address);
        }
    }
    layout.anchor = k64 && accesses >= 3 ? first : 0;
    layout.leaf = k64 && !calls;
}

void markTargets(Layout& layout) {
    for (int32_t i = 0; i < layout.length; ++i) {
        if (layout.depth[i] < 0) continue;
        const Instruction& in = layout.code[i];
        if (in.op == Op::Jump || isConditionalJump(in.op)) layout.target[in.count] = 1;
        if (in.op == Op::Tick && in.exactCopy != 0) layout.target[in.exactCopy] = 1;
    }
}

void writePool(uint8_t* pool, const Layout& layout) {
    const auto place = [pool](int32_t at, double value) { std::memcpy(pool + 8 * static_cast<size_t>(at), &value, 8); };
    place(kSignMaskPlace, -0.0);
    const uint64_t magnitude = 0x7FFFFFFFFFFFFFFFu;
    std::memcpy(pool + 8 * kMagnitudeMaskPlace, &magnitude, 8);
    place(kLargestPlace, DBL_MAX);
    for (int32_t i = 0; i < layout.length; ++i)
        if (layout.constant[i] >= 0) place(layout.constant[i], layout.code[i].value);
}

// Lays out and writes the code; false when no memory can be had.
bool translate(ExprProgram* program, Layout& layout, int32_t places) {
    const size_t poolBytes = roundUp(8 * static_cast<size_t>(places), 64);  // the entry starts a fetch block
    Translator measure(layout, nullptr);
    const size_t codeBytes = static_cast<size_t>(measure.write());
    const size_t size = roundUp(poolBytes + codeBytes, 4096);
    uint8_t* memory = static_cast<uint8_t*>(exprMapCode(size));
    if (memory == nullptr) return false;

    layout.poolBase = addressOf(memory);
    layout.codeBase = layout.poolBase + poolBytes;
    writePool(memory, layout);
    Translator writer(layout, memory + poolBytes);
    if (static_cast<size_t>(writer.write()) != codeBytes || !exprSealCode(memory, size)) {
        exprUnmapCode(memory, size);
        return false;
    }
    program->native.memory = memory;
    program->native.size = size;
    program->native.entry = reinterpret_cast<ExprNativeEntry>(layout.codeBase);
    return true;
}

}  // namespace

bool exprTranslateProgram(ExprProgram* program) {
    const int32_t length = program->length;
    if (length <= 0) return false;
    // Five tables of one number per instruction, for the translation only.
    int32_t* tables = static_cast<int32_t*>(exprAlloc(5 * sizeof(int32_t) * static_cast<size_t>(length + 1)));
    if (tables == nullptr) return false;
    int32_t* depth = tables;
    int32_t* work = depth + (length + 1);
    Layout layout{};
    layout.code = program->code;
    layout.length = length;
    layout.depth = depth;
    layout.label = work + (length + 1);
    layout.stub = layout.label + (length + 1);
    layout.target = layout.stub + (length + 1);
    layout.constant = work;  // the work list is done with once the depths are found

    int32_t deepest = 0;
    bool translated = findDepths(program->code, length, depth, work, &deepest);
    if (translated) {
        int32_t places = kFirstConstantPlace;
        for (int32_t i = 0; i < length; ++i)
            layout.constant[i] = depth[i] >= 0 && carriesConstant(program->code[i].op) ? places++ : -1;
        layout.label[length] = 0;
        markTargets(layout);
        surveyProgram(layout);
        layout.frameSize = frameSize(deepest, layout);
        translated = translate(program, layout, places);
    }
    exprDealloc(tables);
    return translated;
}

void exprReleaseNativeCode(ExprNativeCode* native) {
    exprUnmapCode(native->memory, native->size);
    *native = ExprNativeCode{};
}

#endif
