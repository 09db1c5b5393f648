/*
 * The instructions of the compiled form, in one list: each use defines
 * OPCODE(name, stack) and includes this file, which makes the enum, the
 * runner's handler table, the names of listings and the stack effects from
 * the same lines. No include guard, by design.
 *
 * `stack` is what the instruction does to the stack's depth on every path
 * through it (a fused branch pops its operands whether it jumps or not).
 *
 * Stack notation: `top` is the value on top, `below` the one under it.
 * Where code computes one instruction from another, the families keep one
 * order, marked here and at each such place: ORDER ARITH (Add, Sub, Mul,
 * Div) and ORDER TEST (Equal, Above, Below).
 */
OPCODE(Tick, 0)      /* count node evaluations; poll when they run the countdown out */
OPCODE(Constant, +1) /* push value */
OPCODE(Load, +1)     /* push *address */
OPCODE(Store, 0)     /* *address = top; the value stays: it is the assignment's value */
OPCODE(Add, -1)      /* ORDER ARITH: top = below op top */
OPCODE(Sub, -1)
OPCODE(Mul, -1)
OPCODE(Div, -1)
OPCODE(AddConstant, 0) /* ORDER ARITH: top = top op value, the right operand in the instruction */
OPCODE(SubConstant, 0)
OPCODE(MulConstant, 0)
OPCODE(DivConstant, 0) /* a divisor that is not refused */
OPCODE(AddVariable, 0) /* ORDER ARITH: top = top op *address */
OPCODE(SubVariable, 0)
OPCODE(MulVariable, 0)
OPCODE(DivVariable, 0)
OPCODE(Neg, 0)
OPCODE(Abs, 0)
OPCODE(Pop, -1)
OPCODE(StorePop, -1) /* a statement's assignment whose value is not needed */
OPCODE(Direct, 0)    /* top = compute(top) */
OPCODE(Rule, 0)      /* the same under the math-error rule */
OPCODE(Direct2, -1)  /* top = compute(below, top) */
OPCODE(Rule2, -1)    /* the same under the math-error rule */
OPCODE(Equal, -1)    /* ORDER TEST: top = test(below, top) as 1.0 or 0.0 */
OPCODE(Above, -1)
OPCODE(Below, -1)
OPCODE(Call, +1)          /* push the value of node's callback */
OPCODE(Jump, 0)           /* to target */
OPCODE(JumpIfZero, -1)    /* pop; to target when the zero test holds */
OPCODE(JumpIfNonZero, -1) /* pop; to target unless the zero test holds */
/* A comparison fused into the branch that tests it: pop two, then to target
 * unless (or if) test(below, top) holds. */
OPCODE(JumpUnlessEqual, -2) /* ORDER TEST */
OPCODE(JumpUnlessAbove, -2)
OPCODE(JumpUnlessBelow, -2)
OPCODE(JumpIfEqual, -2) /* ORDER TEST */
OPCODE(JumpIfAbove, -2)
OPCODE(JumpIfBelow, -2)
/* The same with a constant right operand in the instruction: pop one. */
OPCODE(JumpUnlessEqualConstant, -1) /* ORDER TEST */
OPCODE(JumpUnlessAboveConstant, -1)
OPCODE(JumpUnlessBelowConstant, -1)
OPCODE(JumpIfEqualConstant, -1) /* ORDER TEST */
OPCODE(JumpIfAboveConstant, -1)
OPCODE(JumpIfBelowConstant, -1)
OPCODE(MulVariableAddConstant, 0) /* top = top * *address + (next slot's value), two roundings */
OPCODE(End, 0)                    /* the value of the text is top */
