/*
 * The instructions of the compiled form, in one list: each use defines
 * OPCODE(name) and includes this file, which makes the enum, the runner's
 * handler table and the names of listings from the same lines. No include
 * guard, by design.
 *
 * Stack notation: `top` is the value on top, `below` the one under it.
 * Where code computes one instruction from another, the families keep one
 * order, marked here and at each such place: ORDER ARITH (Add, Sub, Mul,
 * Div) and ORDER TEST (Equal, Above, Below).
 */
OPCODE(Tick)     /* count node evaluations; poll when they run the countdown out */
OPCODE(Constant) /* push value */
OPCODE(Load)     /* push *address */
OPCODE(Store)    /* *address = top; the value stays: it is the assignment's value */
OPCODE(Add)      /* ORDER ARITH: top = below op top */
OPCODE(Sub)
OPCODE(Mul)
OPCODE(Div)
OPCODE(AddConstant) /* ORDER ARITH: top = top op value, the right operand in the instruction */
OPCODE(SubConstant)
OPCODE(MulConstant)
OPCODE(DivConstant) /* a divisor that is not refused */
OPCODE(AddVariable) /* ORDER ARITH: top = top op *address */
OPCODE(SubVariable)
OPCODE(MulVariable)
OPCODE(DivVariable)
OPCODE(Neg)
OPCODE(Abs)
OPCODE(Pop)
OPCODE(StorePop) /* a statement's assignment whose value is not needed */
OPCODE(Direct)   /* top = compute(top) */
OPCODE(Rule)     /* the same under the math-error rule */
OPCODE(Direct2)  /* top = compute(below, top) */
OPCODE(Rule2)    /* the same under the math-error rule */
OPCODE(Equal)    /* ORDER TEST: top = test(below, top) as 1.0 or 0.0 */
OPCODE(Above)
OPCODE(Below)
OPCODE(Call)          /* push the value of node's callback */
OPCODE(Jump)          /* to target */
OPCODE(JumpIfZero)    /* pop; to target when the zero test holds */
OPCODE(JumpIfNonZero) /* pop; to target unless the zero test holds */
/* A comparison fused into the branch that tests it: pop two, then to target
 * unless (or if) test(below, top) holds. */
OPCODE(JumpUnlessEqual) /* ORDER TEST */
OPCODE(JumpUnlessAbove)
OPCODE(JumpUnlessBelow)
OPCODE(JumpIfEqual) /* ORDER TEST */
OPCODE(JumpIfAbove)
OPCODE(JumpIfBelow)
/* The same with a constant right operand in the instruction: pop one. */
OPCODE(JumpUnlessEqualConstant) /* ORDER TEST */
OPCODE(JumpUnlessAboveConstant)
OPCODE(JumpUnlessBelowConstant)
OPCODE(JumpIfEqualConstant) /* ORDER TEST */
OPCODE(JumpIfAboveConstant)
OPCODE(JumpIfBelowConstant)
OPCODE(MulVariableAddConstant) /* top = top * *address + (next slot's value), two roundings */
OPCODE(End)                    /* the value of the text is top */
