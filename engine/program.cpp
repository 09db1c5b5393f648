// The compiled evaluator. A parsed tree is turned once, at parse time, into
// a flat program for a small stack machine, which exprEvaluate runs instead
// of walking the tree: no recursion, no indirect call per operator, and the
// abort countdown in a register.
//
// The program is the same evaluation as the walk, node for node. The calls
// that the built-in table (builtins.cpp) runs in place are the arithmetic
// operators, the statement sequence, if, for, the comparisons, abs and the
// built-ins of one or two values; every other callback is called with its
// node's arguments, exactly as the walk calls it, and evaluates them
// through exprEvalNode.
// Each node evaluation is counted as one tick of the countdown. The ticks of
// a segment, the instructions between two points where the order could be
// seen (an assignment's store, a division or a math-error-rule built-in,
// which may fail, a callback, a branch, a branch target), are gathered into
// one TICK at the segment's start. When a TICK would run the countdown out,
// its ticks are taken one at a time; if the segment reads a variable between
// two of its ticks, it runs instead from an exact copy kept after the
// program, with a TICK before each such read. So the abort callback is
// polled at exactly the node evaluation where the walk polls it, with the
// same assignments done and the same values read.
//
// The instructions are listed once, in opcodes.h; exprListProgram names
// them for tests and dumps.

#include <cstdint>

#include "program.h"

namespace {

using Op = ExprOp;
using Instruction = ExprInstruction;
using Program = ExprProgram;

const char* const kOpNames[] = {
#define OPCODE(name, stack) #name,
#include "opcodes.h"
#undef OPCODE
};

// ORDER ARITH, ORDER TEST: the compiler reaches a family's member from
// another family's by the distance from its first.
constexpr Op sameMember(Op member, Op first, Op otherFirst) {
    return static_cast<Op>(static_cast<int>(otherFirst) + static_cast<int>(member) - static_cast<int>(first));
}
static_assert(sameMember(Op::Sub, Op::Add, Op::AddConstant) == Op::SubConstant &&
              sameMember(Op::Mul, Op::Add, Op::AddConstant) == Op::MulConstant &&
              sameMember(Op::Div, Op::Add, Op::AddConstant) == Op::DivConstant &&
              sameMember(Op::Sub, Op::Add, Op::AddVariable) == Op::SubVariable &&
              sameMember(Op::Mul, Op::Add, Op::AddVariable) == Op::MulVariable &&
              sameMember(Op::Div, Op::Add, Op::AddVariable) == Op::DivVariable);
static_assert(sameMember(Op::Above, Op::Equal, Op::JumpUnlessEqual) == Op::JumpUnlessAbove &&
              sameMember(Op::Below, Op::Equal, Op::JumpUnlessEqual) == Op::JumpUnlessBelow &&
              sameMember(Op::Above, Op::Equal, Op::JumpIfEqual) == Op::JumpIfAbove &&
              sameMember(Op::Below, Op::Equal, Op::JumpIfEqual) == Op::JumpIfBelow &&
              sameMember(Op::Above, Op::Equal, Op::JumpUnlessEqualConstant) == Op::JumpUnlessAboveConstant &&
              sameMember(Op::Below, Op::Equal, Op::JumpUnlessEqualConstant) == Op::JumpUnlessBelowConstant &&
              sameMember(Op::Above, Op::Equal, Op::JumpIfEqualConstant) == Op::JumpIfAboveConstant &&
              sameMember(Op::Below, Op::Equal, Op::JumpIfEqualConstant) == Op::JumpIfBelowConstant);

// The compiler recurses a few frames per tree level; trees nested deeper
// than this are walked instead, which keeps compiling within a small thread
// stack on every build, sanitizers included. Real texts nest far less.
constexpr int32_t kCompileDepthLimit = 64;

// A tree level leaves at most two values under its children's (a loop's
// value under a comparison's left operand), so this is enough for every
// compiled tree; a program that would need more is not made. The runner's
// stack stays well under a page, which spares 32-bit Windows a stack probe
// at every evaluation.
constexpr int32_t kStackLimit = 2 * kCompileDepthLimit + 8;

// Emits into code, or only measures when code is null (the first pass). The
// exact copies of segments go after the program, from copyBase on.
class Compiler {
public:
    Compiler(Instruction* code, int32_t copyBase) : code_(code), copyCursor_(copyBase) {}

    bool compileRoot(ExprNode* root) {
        if (!node(root)) return false;
        boundary(Op::End);
        return depth_ == 1 && maxDepth_ <= kStackLimit;
    }
    int32_t length() const { return length_; }              // the program, up to its End
    int32_t copiesLength() const { return copiesLength_; }  // the exact copies after it

private:
    Instruction* code_;
    int32_t length_ = 0;
    int32_t copiesLength_ = 0;
    int32_t copyCursor_;
    int32_t depth_ = 0;
    int32_t maxDepth_ = 0;
    Op lastOp_ = Op::Jump;      // the last instruction, or Jump after a branch target: nothing to fuse
    Op previousOp_ = Op::Jump;  // the one before it, likewise
    int32_t level_ = 0;         // nesting of node() calls

    // The open segment: where it starts, the ticks counted in it, the ticks
    // counted before its first read (-1: no read yet), and for its exact
    // copy, the ticks placed before reads so far and the TICKs that takes.
    int32_t segmentStart_ = 0;
    int32_t pendingTicks_ = 0;
    int32_t ticksAtFirstRead_ = -1;
    int32_t ticksPlaced_ = 0;
    int32_t copyTicks_ = 0;

    Instruction scratch_{};  // the measuring pass writes here

    static Instruction tickInstruction(int32_t count, int32_t exactCopy) {
        Instruction tick{};
        tick.op = Op::Tick;
        tick.count = count;
        tick.exactCopy = exactCopy;
        return tick;
    }

    // Kept out of line: the compiler recurses, and inlined copies of the
    // instruction temporaries would add up in every frame (sanitizer builds
    // give each its own stack slot).
    [[gnu::noinline]] Instruction& emit(Op op, int32_t stackChange = 0) {
        Instruction& slot = code_ ? code_[length_] : scratch_;
        slot = Instruction{};
        slot.op = op;
        slot.count = pendingTicks_;
        if (exprReadsVariable(op)) noteRead();
        previousOp_ = lastOp_;
        lastOp_ = op;
        ++length_;
        depth_ += stackChange;
        if (depth_ > maxDepth_) maxDepth_ = depth_;
        return slot;
    }
    void noteRead() {
        if (ticksAtFirstRead_ < 0) ticksAtFirstRead_ = pendingTicks_;
        if (pendingTicks_ > ticksPlaced_) {
            ++copyTicks_;
            ticksPlaced_ = pendingTicks_;
        }
    }
    bool tick() {
        if (pendingTicks_ == INT32_MAX) return false;
        ++pendingTicks_;
        return true;
    }
    void startSegment() {
        segmentStart_ = length_;
        pendingTicks_ = 0;
        ticksAtFirstRead_ = -1;
        ticksPlaced_ = 0;
        copyTicks_ = 0;
    }
    // Closes the open segment: its ticks go into a TICK at its start, and
    // when a read falls between two of them, an exact copy is made.
    void flush() {
        const int32_t ticks = pendingTicks_;
        if (ticks > 0) {
            const bool exact = ticksAtFirstRead_ >= 0 && ticksAtFirstRead_ < ticks;
            int32_t copyAt = 0;
            if (exact) {
                const int32_t copyLength = (length_ - segmentStart_) + copyTicks_ + (ticks > ticksPlaced_ ? 1 : 0) + 1;
                copyAt = copyCursor_;
                copyCursor_ += copyLength;
                copiesLength_ += copyLength;
            }
            insertTick(ticks, copyAt);
            if (exact && code_) writeExactCopy(copyAt, ticks);
        }
        startSegment();
    }
    void insertTick(int32_t ticks, int32_t exactCopy) {
        if (code_) {
            for (int32_t i = length_; i > segmentStart_; --i) code_[i] = code_[i - 1];
            code_[segmentStart_] = tickInstruction(ticks, exactCopy);
        }
        ++length_;
    }
    // The segment after its TICK, with a TICK before each read that follows
    // a tick, the rest of the ticks at its end, and a jump back to where the
    // segment ends.
    void writeExactCopy(int32_t at, int32_t ticks) {
        int32_t placed = 0;
        for (int32_t i = segmentStart_ + 1; i < length_; ++i) {
            const Instruction& instruction = code_[i];
            if (exprReadsVariable(instruction.op) && instruction.count > placed) {
                code_[at++] = tickInstruction(instruction.count - placed, 0);
                placed = instruction.count;
            }
            code_[at++] = instruction;
        }
        if (ticks > placed) code_[at++] = tickInstruction(ticks - placed, 0);
        Instruction back{};
        back.op = Op::Jump;
        back.count = length_;
        code_[at] = back;
    }
    // An instruction whose order the walk could show: the open segment's
    // ticks come before it, and a new segment starts after it.
    Instruction& boundary(Op op, int32_t stackChange = 0) {
        flush();
        Instruction& slot = emit(op, stackChange);
        startSegment();
        return slot;
    }
    // A branch target is the next instruction; it starts a segment.
    int32_t label() {
        flush();
        lastOp_ = previousOp_ = Op::Jump;  // a jump lands here: what came before is not fused with what follows
        return length_;
    }
    void patch(int32_t at, int32_t target) {
        if (code_) code_[at].count = target;
    }

    bool node(ExprNode* n) {
        if (level_ >= kCompileDepthLimit) return false;
        ++level_;
        const bool compiled = nodeAtLevel(n);
        --level_;
        return compiled;
    }

    bool nodeAtLevel(ExprNode* n) {
        if (n == nullptr || !tick() || maxDepth_ > kStackLimit) return false;
        switch (n->kind) {
            case NODE_CONSTANT: emit(Op::Constant, +1).value = n->value; return true;
            case NODE_VARIABLE:
                if (n->valuePtr == nullptr) return false;
                emit(Op::Load, +1).address = n->valuePtr;
                return true;
            case NODE_ASSIGN:
                if (n->target == nullptr || !node(n->child)) return false;
                boundary(Op::Store).address = n->target;
                return true;
            case NODE_CALL: return call(n);
            default: return false;
        }
    }

    bool arguments(ExprNode* n, int32_t count) {
        if (n->argCount != count || n->args == nullptr) return false;
        for (int32_t i = 0; i < count; ++i)
            if (!node(&n->args[i])) return false;
        return true;
    }

    // left op right, for the four arithmetic operators.
    bool binary(ExprNode* n, Op op) {
        ExprNode* right = n->args + 1;
        if (right->kind == NODE_CONSTANT || right->kind == NODE_VARIABLE) return binaryWithLeaf(n, op, right);
        if (!arguments(n, 2)) return false;
        if (op == Op::Div)
            boundary(op, -1);  // it may fail
        else
            emit(op, -1);
        return true;
    }

    static bool isArithmetic(Op op) { return op == Op::Add || op == Op::Sub || op == Op::Mul || op == Op::Div; }

    // left op leaf: one instruction carries the right operand.
    bool binaryWithLeaf(ExprNode* n, Op op, ExprNode* right) {
        if (!node(&n->args[0]) || !tick()) return false;
        if (right->kind == NODE_CONSTANT) {
            if (op == Op::Div && !exprDivisorAccepted(right->value)) {
                emit(Op::Constant, +1).value = right->value;
                boundary(Op::Div, -1);
                return true;
            }
            const Op op2 = sameMember(op, Op::Add, Op::AddConstant);  // ORDER ARITH
            const bool fuse = op2 == Op::AddConstant && lastOp_ == Op::MulVariable;
            emit(op2).value = right->value;
            if (fuse) {
                if (code_) code_[length_ - 2].op = Op::MulVariableAddConstant;
                lastOp_ = Op::MulVariableAddConstant;
            }
            return true;
        }
        if (right->valuePtr == nullptr) return false;
        const Op op2 = sameMember(op, Op::Add, Op::AddVariable);  // ORDER ARITH
        (op == Op::Div ? boundary(op2) : emit(op2)).address = right->valuePtr;
        return true;
    }

    // A call runs in place as its row in the built-in table says, where its
    // counts are within the row's bounds; a hand-built tree may break them,
    // and every other call goes through its callback, which reports it.
    bool call(ExprNode* n) {
        if (n->function == nullptr) return false;
        const ExprBuiltin* row = exprFindBuiltin(n->function);
        switch (row != nullptr && fitsBounds(*row, n) ? row->compiled.kind : ExprCompiledForm::Callback) {
            case ExprCompiledForm::Instruction: return instruction(n, row->compiled);
            case ExprCompiledForm::Sequence: return sequence(n);
            case ExprCompiledForm::Choice: return choice(n);
            case ExprCompiledForm::Loop: return loop(n);
            case ExprCompiledForm::Callback: break;
        }
        boundary(Op::Call, +1).node = n;
        return true;
    }

    static bool fitsBounds(const ExprBuiltin& row, const ExprNode* n) {
        const auto within = [](int32_t count, int32_t least, int32_t most) {
            return count >= least && (most < 0 || count <= most);
        };
        return n->args != nullptr && within(n->argCount, row.minArgs, row.maxArgs) &&
               within(n->refCount, row.minRefs, row.maxRefs);
    }

    // One instruction over the call's evaluated arguments.
    bool instruction(ExprNode* n, const ExprCompiledForm& form) {
        const Op op = form.instruction;
        if (isArithmetic(op)) return binary(n, op);
        if (!arguments(n, n->argCount)) return false;
        const int32_t stackChange = 1 - n->argCount;
        const bool mayFail = op == Op::Rule || op == Op::Rule2;
        Instruction& emitted = mayFail ? boundary(op, stackChange) : emit(op, stackChange);
        if (form.unary) emitted.compute = form.unary;
        if (form.binary) emitted.compute2 = form.binary;
        return true;
    }

    // many(a1 ... an): each value but the last is dropped.
    bool sequence(ExprNode* n) {
        for (int32_t i = 0; i < n->argCount; ++i) {
            if (i > 0) drop();
            if (!node(&n->args[i])) return false;
        }
        return true;
    }

    // Drops the top value; a store right before it becomes one StorePop.
    void drop() {
        if (lastOp_ == Op::Store && pendingTicks_ == 0) {
            if (code_) code_[length_ - 1].op = Op::StorePop;
            lastOp_ = Op::StorePop;
            --depth_;
            return;
        }
        emit(Op::Pop, -1);
    }

    static bool isComparison(Op op) { return op == Op::Equal || op == Op::Above || op == Op::Below; }

    // The branch a comparison is fused into.
    static Op fusedBranch(Op comparison, bool jumpWhenTrue, bool constantRight) {
        const Op first = constantRight ? (jumpWhenTrue ? Op::JumpIfEqualConstant : Op::JumpUnlessEqualConstant)
                                       : (jumpWhenTrue ? Op::JumpIfEqual : Op::JumpUnlessEqual);
        return sameMember(comparison, Op::Equal, first);  // ORDER TEST
    }

    // Pops the condition and jumps when it is zero (or, with jumpWhenTrue,
    // when it is not), to a target patched later; gives the jump's index.
    // A comparison just computed is fused into the jump, and so is a
    // constant it compares with. The pending ticks go before the fused
    // instruction: what it replaces reads only the stack and the program,
    // so no poll can tell the difference.
    int32_t branch(bool jumpWhenTrue) {
        const Op comparison = lastOp_;
        if (!isComparison(comparison)) {
            boundary(jumpWhenTrue ? Op::JumpIfNonZero : Op::JumpIfZero, -1);
            return length_ - 1;
        }
        const bool constantRight = previousOp_ == Op::Constant;
        const double right = constantRight && code_ ? code_[length_ - 2].value : 0.0;
        length_ -= constantRight ? 2 : 1;  // the stack is as the comparison left it
        Instruction& jump = boundary(fusedBranch(comparison, jumpWhenTrue, constantRight), -1);
        if (constantRight) jump.value = right;
        return length_ - 1;
    }

    // if(c, a, b): c; JumpIfZero else; a; Jump end; else: b; end:
    bool choice(ExprNode* n) {
        if (!node(&n->args[0])) return false;
        const int32_t toElse = branch(false);
        if (!node(&n->args[1])) return false;
        boundary(Op::Jump, -1);  // the other branch pushes the value instead
        const int32_t toEnd = length_ - 1;
        patch(toElse, label());
        if (!node(&n->args[2])) return false;
        patch(toEnd, label());
        return true;
    }

    // for(init, cond, step, body...): the loop value, 0.0 until a body ran,
    // stays on the stack under the condition and the step. The condition is
    // compiled after the body, so a pass takes one branch:
    //   init; push 0.0; Jump test; body: Pop; bodies; step; test: cond; JumpIf body
    bool loop(ExprNode* n) {
        if (!node(&n->args[0])) return false;
        drop();
        emit(Op::Constant, +1).value = 0.0;
        boundary(Op::Jump);
        const int32_t toTest = length_ - 1;
        const int32_t body = label();
        emit(Op::Pop, -1);
        for (int32_t i = 3; i < n->argCount; ++i) {
            if (i > 3) drop();
            if (!node(&n->args[i])) return false;
        }
        if (!node(&n->args[2])) return false;
        drop();
        patch(toTest, label());
        if (!node(&n->args[1])) return false;
        patch(branch(true), body);
        return true;
    }
};

// Takes count node evaluations one at a time, polling as the walk does.
// Gives the new countdown, or EXPR_ERR_ABORTED in code.
[[gnu::noinline]] int32_t tickSlowly(ExprContext* context, int32_t countdown, int32_t count, int32_t* code) {
    for (int32_t i = 0; i < count; ++i) {
        if (exprCountNodeEvaluation<exprPollAbortNow>(countdown, context, &countdown)) {
            *code = EXPR_ERR_ABORTED;
            break;
        }
    }
    return countdown;
}

// Runs a linked program for context; with no context, links it.
int32_t runOrLink(ExprContext* context, Program* program, double* result);

// The program of a tree as compiled, its instructions still ops; null when
// the tree is not compiled or memory runs out.
Program* compileUnlinked(ExprNode* root) {
    Compiler measure(nullptr, 0);
    if (!measure.compileRoot(root)) return nullptr;
    const int32_t length = measure.length() + measure.copiesLength();
    const size_t size = sizeof(Program) + sizeof(Instruction) * static_cast<size_t>(length);
    Program* program = static_cast<Program*>(exprAlloc(size));
    if (program == nullptr) return nullptr;
    Compiler emit(program->code, measure.length());
    emit.compileRoot(root);
    program->length = length;
    return program;
}

// Appends text at *length, keeping what fits in size bytes with the zero.
void append(char* out, int32_t size, int32_t* length, const char* text) {
    for (; *text != '\0'; ++text, ++*length)
        if (*length + 1 < size) out[*length] = *text;
}

}  // namespace

extern "C" void* exprCompile(ExprNode* root) {
    Program* program = compileUnlinked(root);
    if (program == nullptr) return nullptr;
    // Machine code where this processor and the system allow it; the
    // program runs as it is otherwise, with the same results.
    exprTranslateProgram(program);
    runOrLink(nullptr, program, nullptr);
    return program;
}

extern "C" int32_t exprListProgram(ExprNode* root, char* text, int32_t size) {
    Program* program = compileUnlinked(root);
    if (program == nullptr) return -1;
    int32_t length = 0;
    for (int32_t i = 0; i < program->length; ++i) {
        const Op op = program->code[i].op;
        if (i > 0) append(text, size, &length, " ");
        append(text, size, &length, kOpNames[static_cast<int>(op)]);
        if (op == Op::End) break;
    }
    if (size > 0) text[length < size ? length : size - 1] = '\0';
    exprFreeProgram(program);
    return length;
}

extern "C" void exprFreeProgram(void* program) {
    if (program == nullptr) return;
    exprReleaseNativeCode(&static_cast<Program*>(program)->native);
    exprDealloc(program);
}

extern "C" void exprDropNativeCode(void* program) {
    if (program != nullptr) exprReleaseNativeCode(&static_cast<Program*>(program)->native);
}

extern "C" int32_t exprHasNativeCode(const void* program) {
    return program != nullptr && static_cast<const Program*>(program)->native.entry != nullptr;
}

namespace {

// Threaded dispatch: each instruction jumps straight to the next one's
// handler through a table of label addresses (a GNU extension that every
// compiler of this project has). The top of the stack lives in a register
// (`top`); `below` points at the value under it, so an operator's chain of
// results never goes through memory.
// The label addresses are valid only in this one copy of the function, so it
// is never inlined or cloned: linking and running must see the same code.
#if defined(__clang__)
#define EXPR_ONE_COPY __attribute__((noinline))
#else
#define EXPR_ONE_COPY __attribute__((noinline, noclone))
#endif
EXPR_ONE_COPY int32_t runOrLink(ExprContext* context, Program* program, double* result) {
    static void* const handlers[] = {
#define OPCODE(name, stack) &&name,
#include "opcodes.h"
#undef OPCODE
    };

    if (context == nullptr) {
        // Linking: each instruction's op becomes its handler's address.
        for (int32_t i = 0; i < program->length; ++i)
            program->code[i].handler = handlers[static_cast<int>(program->code[i].op)];
        return EXPR_OK;
    }

    const Instruction* const code = program->code;
    const Instruction* pc = code;
    double stack[kStackLimit + 2];
    // The first push stores the empty register into stack[1]; stack[0] is
    // never used, so `below` never points before the array.
    double* below = stack;
    double top = 0.0;
    double value;  // what a call writes back; its address is taken, so it is not `top`
    int32_t countdown = context->countdown;
    int32_t status = EXPR_OK;
    double divisor;
    bool holds;

#define EXPR_NEXT() goto*(++pc)->handler
    goto * pc->handler;

Tick:
    if (countdown >= pc->count) [[likely]] {
        countdown -= pc->count;
        EXPR_NEXT();
    }
    if (pc->exactCopy != 0) {  // a poll falls between the segment's reads
        pc = code + pc->exactCopy;
        goto * pc->handler;
    }
    countdown = tickSlowly(context, countdown, pc->count, &status);
    if (status != EXPR_OK) goto done;
    EXPR_NEXT();
Constant:
    *++below = top;
    top = pc->value;
    EXPR_NEXT();
Load:
    *++below = top;
    top = *pc->address;
    EXPR_NEXT();
Store:
    *pc->address = top;
    EXPR_NEXT();
StorePop:
    *pc->address = top;
    top = *below--;
    EXPR_NEXT();
Pop:
    top = *below--;
    EXPR_NEXT();
Add:
    top = exprAdd(*below--, top);
    EXPR_NEXT();
Sub:
    top = *below-- - top;
    EXPR_NEXT();
Mul:
    top = exprMul(*below--, top);
    EXPR_NEXT();
Div:
    divisor = top;
    top = *below--;
    goto divide;
AddConstant:
    top = exprAdd(top, pc->value);
    EXPR_NEXT();
SubConstant:
    top = top - pc->value;
    EXPR_NEXT();
MulConstant:
    top = exprMul(top, pc->value);
    EXPR_NEXT();
DivConstant:
    top = top / pc->value;
    EXPR_NEXT();
AddVariable:
    top = exprAdd(top, *pc->address);
    EXPR_NEXT();
SubVariable:
    top = top - *pc->address;
    EXPR_NEXT();
MulVariable:
    top = exprMul(top, *pc->address);
    EXPR_NEXT();
DivVariable:
    divisor = *pc->address;
divide : {
    const int32_t code = exprDivide(context, top, divisor, &top);
    if (code != EXPR_OK) {
        status = code;
        goto done;
    }
    EXPR_NEXT();
}
Neg:
    top = -top;
    EXPR_NEXT();
Abs:
    top = exprAbs(top);
    EXPR_NEXT();
Direct:
    top = exprFromRegister(pc->compute(top));
    EXPR_NEXT();
Rule : {
    const int32_t code = exprJudgeRoutine(context, exprFromRegister(pc->compute(top)), top, 0.0, &value);
    if (code != EXPR_OK) {
        status = code;
        goto done;
    }
    top = value;
    EXPR_NEXT();
}
Direct2:
    top = exprFromRegister(pc->compute2(*below--, top));
    EXPR_NEXT();
Rule2 : {
    const double left = *below--;
    const int32_t code = exprJudgeRoutine(context, exprFromRegister(pc->compute2(left, top)), left, top, &value);
    if (code != EXPR_OK) {
        status = code;
        goto done;
    }
    top = value;
    EXPR_NEXT();
}
Equal:
    top = exprTestEqual(*below--, top) ? 1.0 : 0.0;
    EXPR_NEXT();
Above:
    top = exprTestGreater(*below--, top) ? 1.0 : 0.0;
    EXPR_NEXT();
Below:
    top = exprTestLess(*below--, top) ? 1.0 : 0.0;
    EXPR_NEXT();
Call : {
    ExprNode* n = pc->node;
    context->countdown = countdown;
    *++below = top;
    status = n->function(context, n->args, n->argCount, n->refs, n->refCount, &value);
    countdown = context->countdown;
    if (status != EXPR_OK) goto done;
    top = value;
    EXPR_NEXT();
}
Jump:
    pc = code + pc->count;
    goto * pc->handler;
JumpIfZero : {
    const bool zero = exprTestZero(top);
    top = *below--;
    if (zero) {
        pc = code + pc->count;
        goto * pc->handler;
    }
    EXPR_NEXT();
}
JumpIfNonZero : {
    const bool zero = exprTestZero(top);
    top = *below--;
    if (!zero) {
        pc = code + pc->count;
        goto * pc->handler;
    }
    EXPR_NEXT();
}
// The fused branches: one label per instruction, as direct threading needs
// an address per instruction, each setting `holds` with its own test and
// operands; the four tails below pop and branch for all twelve.
JumpUnlessEqual:
    holds = exprTestEqual(below[0], top);
    goto popTwoUnless;
JumpUnlessAbove:
    holds = exprTestGreater(below[0], top);
    goto popTwoUnless;
JumpUnlessBelow:
    holds = exprTestLess(below[0], top);
    goto popTwoUnless;
JumpIfEqual:
    holds = exprTestEqual(below[0], top);
    goto popTwoIf;
JumpIfAbove:
    holds = exprTestGreater(below[0], top);
    goto popTwoIf;
JumpIfBelow:
    holds = exprTestLess(below[0], top);
    goto popTwoIf;
JumpUnlessEqualConstant:
    holds = exprTestEqual(top, pc->value);
    goto popOneUnless;
JumpUnlessAboveConstant:
    holds = exprTestGreater(top, pc->value);
    goto popOneUnless;
JumpUnlessBelowConstant:
    holds = exprTestLess(top, pc->value);
    goto popOneUnless;
JumpIfEqualConstant:
    holds = exprTestEqual(top, pc->value);
    goto popOneIf;
JumpIfAboveConstant:
    holds = exprTestGreater(top, pc->value);
    goto popOneIf;
JumpIfBelowConstant:
    holds = exprTestLess(top, pc->value);
    goto popOneIf;
popTwoUnless:
    --below;
popOneUnless:
    top = *below--;
    if (!holds) {
        pc = code + pc->count;
        goto * pc->handler;
    }
    EXPR_NEXT();
popTwoIf:
    --below;
popOneIf:
    top = *below--;
    if (holds) {
        pc = code + pc->count;
        goto * pc->handler;
    }
    EXPR_NEXT();
MulVariableAddConstant:
    top = exprMul(top, *pc->address);
    ++pc;
    top = exprAdd(top, pc->value);
    EXPR_NEXT();
End:
    *result = top;
#undef EXPR_NEXT
done:
    context->countdown = countdown;
    return status;
}

}  // namespace

extern "C" int32_t exprRunProgram(ExprContext* context, const void* program, double* result) {
    return runOrLink(context, static_cast<Program*>(const_cast<void*>(program)), result);
}
