// The compiled form, as machine code and as the threaded runner runs it,
// against the tree walk: for every text, the same value, code, variables,
// errno, and abort polls at the same node evaluations with the same
// assignments done, whatever the check interval.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/expr.h"
#include "engine/internal.h"
#include "support/emulation.h"
#include "support/engine_rig.h"

namespace {

using quorvel_test::EngineRig;

struct PollLog {
    int32_t stopAt = 0;        // from this poll on, stop; 0: never
    std::vector<double> seen;  // variable x at every poll
    double* x = nullptr;
};

// Logs x, then sets it to the number of polls so far: a read of x tells
// whether it came before or after the poll.
int32_t logPoll(ExprContext* context) {
    PollLog* log = static_cast<PollLog*>(exprUserData(context));
    log->seen.push_back(*log->x);
    *log->x = static_cast<double>(log->seen.size());
    return log->stopAt > 0 && static_cast<int32_t>(log->seen.size()) >= log->stopAt ? 1 : 0;
}

// The three ways a parsed text can run.
enum class Form { Walk, Threaded, Native };
constexpr Form kCompiledForms[] = {Form::Threaded, Form::Native};

const char* nameOf(Form form) {
    return form == Form::Walk ? "walk" : form == Form::Threaded ? "threaded" : "native";
}

// Machine code is made where the routines take and give their doubles in
// registers: x86-64, and i686 built by gcc.
constexpr bool kNativeCodeHere = EXPR_ROUTINES_IN_REGISTERS != 0;

// One engine as the module has it, running text in the given form.
struct Engine : EngineRig {
    PollLog log;
    Engine(const char* text, Form form, int32_t flag)
        : EngineRig({.abort = logPoll, .userData = &log, .zeroOnMathError = flag}) {
        variable("x") = 0.0;
        variable("u") = 0.75;
        log.x = &variable("x");
        EXPECT_EQ(parse(text), EXPR_OK) << text;
        switch (form) {
            case Form::Walk: walkOnly(); break;
            case Form::Threaded:
                EXPECT_NE(context->program, nullptr) << text;
                threadedOnly();
                break;
            case Form::Native:
                EXPECT_NE(context->program, nullptr) << text;
                EXPECT_EQ(exprHasNativeCode(context->program) != 0, kNativeCodeHere) << text;
                break;
        }
    }
};

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameSeen(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!sameBits(a[i], b[i])) return false;
    return true;
}

const char* const kTexts[] = {
    "out1=(u+v)*0.5-w/3;",
    "x=1;y=x*2;z=y/x-u;",
    "x=u/0;",
    "x=0;y=1/x;x=5;",
    "x=2;y=u/x;z=3/(x-2);",
    "x=-(-u)*-2;",
    "x=if(above(u,0),u,-u*0.5);",
    "x=if(below(u,0),x=1,x=2);y=x;",
    "if(u,a=1,b=2);c=3;",
    "if(0,a=1,b=2);c=if(1,d=4,e=5);",
    "s=0;for(i=1,below(i,9),i=i+1,s=s+sin(i*u)/i);x=s;",
    "x=for(i=0,below(i,3),i=i+1,x=x+1,y=i);",
    "x=for(i=0,0,i=i+1,y=1);",
    "s=0;for(i=0,below(i,200),i=i+1,x=x+1,s=s+poly(x,1,2,3));",
    "for(i=0,below(i,50),i=i+1,x=x+max(i,u,3)*min(2,i));",
    "x=rand(&s)+random(1,2,&s);y=s;",
    "x=equal(u,0.75)+above(1,u)+below(u,1);",
    "x=sqrt(-1);y=equal(x,x);z=not(x);",
    "x=abs(-3)+sqrt(16)+cos(0)+tan(0)+atan(0)+log(100)+ln(1)+exp(0)+deg(0)+rad(0);",
    "x=many(a=1,b=2,c=a+b);",
    "x=pow(2,10)+mod(7,0)+logn(8,2);",
    "x=pntchange(1,1,0,1,2);y=1;",
    "x=(((u)));y=+x;z=--x;",
    "x=1;x=x+1;x=x*x;x=x-u;x=x/u;",
    "x=select(u,1,2,3)+clip(u,0,1)+clamp(u,0,1)+avg(1,2)+and(1,u)+or(0,u);",
    "for(i=0,1,i=i+1,x=i);",
    "x=tanh(u*3)+sinh(u)+cosh(u)+asin(u)+acos(u)+pow10(u)+ceil(u)+floor(-u);",
    "x=1;y=asin(2)+x;z=2;",
    "x=1;y=cosh(1000)*x;z=2;",
    "x=pow(u/1000000,60)+tanh(-u);y=pow(0,-1);z=mod(7,0);a=pow(2,0.5)+mod(-7,u);",
    "x=atan2(u,-1)+recttopolr(3,4)+recttopola(-1,-0)+poltorectx(2,u)+poltorecty(2,u);",
    "s=0;for(i=0,below(i,20),i=i+1,s=s+pow(u,i)-mod(i,3));x=s;",
    "x=if(equal(u,0.75),1,2)+if(equal(x,1),3,4);y=if(above(sin(u)+1,max(u,2)),u,-u);",
    "x=((0.9*u+0.8)*u+0.7)*u+0.6;y=x*u+1;y=u*y+x;",
    "a=sqrt(-1);b=-a;x=a+b;y=b*a;z=(b+u)+(a*u);c=b*(a+1);",
    "y=if(below(x,u),1,2)+if(equal(u,x),3,4);for(i=0,above(u*5,i),i=i+1,x=x+i);z=for(i=0,i,0,1);",
    "y=if(equal(u,x),1,2)+if(above(u,x),1,2)+if(below(u,x),1,2)+if(equal(u,1),1,2)+if(above(u,1),1,2);",
    "y=3;z=0;for(i=0,below(i,y),i=i+1,x=x+1);for(i=0,above(y,i),i=i+1,x=x+1);for(i=0,equal(i,z),i=i+1,x=x+1);",
    "for(i=0,equal(i,0),i=i+1,x=x+1);for(i=5,above(i,2),i=i-1,x=x+1);for(i=3,i,i=i-1,x=x+1);",
    "s=0;for(i=0,below(i,20000),i=i+1,s=s+x);",
    "s=0;for(i=0,below(i,20000),i=i+1,s=s+u*x+2-x/u);y=x*x+u;",
    "y=x+x*2+(x-1)*x+u;z=sin(x)+x;a=if(below(x,1),x,u);",
};

// Where both operands are NaN the left one's NaN is the result, however the
// text is evaluated: the sign bit tells -a from a. (Under the emulator, its
// own rule: a and -a differ only in the sign, so the positive one.)
TEST(Program, SumsAndProductsOfTwoNaNsKeepTheLeft) {
    using quorvel_test::nanOfTwo;
    for (Form form : {Form::Walk, Form::Threaded, Form::Native}) {
        const char* compiledForm = nameOf(form);
        Engine engine("a=sqrt(-1);b=-a;x=a+b;y=b*a;z=(b+u)+(a*u);c=b*(a+1);", form, 0);
        double value = 0.0;
        ASSERT_EQ(exprEvaluate(engine.context, &value), EXPR_OK);
        const double a = engine.variable("a"), b = engine.variable("b");
        ASSERT_FALSE(sameBits(a, b));
        EXPECT_TRUE(sameBits(engine.variable("x"), nanOfTwo(a, b))) << compiledForm;
        EXPECT_TRUE(sameBits(engine.variable("y"), nanOfTwo(b, a))) << compiledForm;
        EXPECT_TRUE(sameBits(engine.variable("z"), nanOfTwo(b, a))) << compiledForm;
        EXPECT_TRUE(sameBits(engine.variable("c"), nanOfTwo(b, a))) << compiledForm;
    }
}

TEST(Program, MatchesTheWalkWithoutPolls) {
    for (const char* text : kTexts) {
        for (int32_t flag : {0, 1})
            for (Form form : kCompiledForms) {
                SCOPED_TRACE(nameOf(form));
                Engine compiled(text, form, flag), walked(text, Form::Walk, flag);
                if (std::strcmp(text, "for(i=0,1,i=i+1,x=i);") == 0) {
                    compiled.log.stopAt = walked.log.stopAt = 1;
                }
                double a = 0.5, b = 0.5;
                for (int round = 0; round < 2; ++round) {
                    errno = EILSEQ;  // a value no routine reports: what is left is the evaluation's doing
                    const int32_t codeA = exprEvaluate(compiled.context, &a);
                    const int errnoA = errno;
                    errno = EILSEQ;
                    const int32_t codeB = exprEvaluate(walked.context, &b);
                    ASSERT_EQ(codeA, codeB) << text << " flag " << flag;
                    EXPECT_EQ(errnoA, errno) << text << " flag " << flag;
                    if (codeA == EXPR_OK) {
                        EXPECT_TRUE(sameBits(a, b)) << text << ": " << a << " vs " << b;
                    }
                    EXPECT_EQ(compiled.context->countdown, walked.context->countdown) << text;
                    for (const char* name : {"x", "y", "z", "a", "b", "c", "d", "e", "s", "i", "out1"})
                        EXPECT_TRUE(sameBits(compiled.variable(name), walked.variable(name))) << text << " " << name;
                    EXPECT_TRUE(sameSeen(compiled.log.seen, walked.log.seen)) << text;
                }
            }
    }
}

// With short check intervals every text polls at many places; stopping at
// each poll in turn must stop both forms at the same node evaluation.
TEST(Program, PollsAtTheSameNodeEvaluations) {
    for (const char* text : kTexts) {
        for (int32_t interval : {0, 1, 2, 3, 5, 8}) {
            for (int32_t stopAt = 1; stopAt <= 12; ++stopAt) {
                bool stopped = false;
                for (Form form : kCompiledForms) {
                    SCOPED_TRACE(nameOf(form));
                    Engine compiled(text, form, 1), walked(text, Form::Walk, 1);
                    compiled.context->checkInterval = walked.context->checkInterval = interval;
                    compiled.log.stopAt = walked.log.stopAt = stopAt;
                    double a = 0, b = 0;
                    const int32_t codeA = exprEvaluate(compiled.context, &a);
                    const int32_t codeB = exprEvaluate(walked.context, &b);
                    ASSERT_EQ(codeA, codeB) << text << " interval " << interval << " stop " << stopAt;
                    if (codeA == EXPR_OK) {
                        EXPECT_TRUE(sameBits(a, b)) << text << " interval " << interval;
                    }
                    ASSERT_TRUE(sameSeen(compiled.log.seen, walked.log.seen)) << text << " interval " << interval;
                    EXPECT_EQ(compiled.context->countdown, walked.context->countdown) << text;
                    for (const char* name : {"x", "y", "s", "i", "a", "b", "c"})
                        EXPECT_TRUE(sameBits(compiled.variable(name), walked.variable(name))) << text << " " << name;
                    if (codeA != EXPR_ERR_ABORTED) stopped = true;  // fewer polls than stopAt
                }
                if (stopped) break;
            }
        }
    }
}

std::string listing(const char* text) {
    Engine engine(text, Form::Native, 1);
    char buffer[512];
    const int32_t length = exprListProgram(engine.context->root, buffer, sizeof buffer);
    EXPECT_EQ(length, static_cast<int32_t>(std::strlen(buffer))) << text;
    return buffer;
}

// What the compiler makes of each form it runs in place or fuses: a form
// that silently fell back to a plainer one would still pass the comparisons
// with the walk, only slower.
TEST(Program, CompilesEachFormAsDesigned) {
    const struct {
        const char* text;
        const char* program;
    } cases[] = {
        // Leaf right operands ride in the instruction; a divisor that is
        // not refused needs no boundary, one that is stays a division.
        {"out1=(u+v)*0.5-w/3;", "Tick Load AddVariable MulConstant Load DivConstant Sub Store End"},
        {"x=u/0;", "Tick Load Constant Div Store End"},
        {"x=u/v;", "Tick Load DivVariable Store End"},
        // A statement's store drops its value; a Horner step fuses.
        {"y=y+0.1*(u-y);out1=y;", "Tick Load Constant Load SubVariable Mul Add StorePop Tick Load Store End"},
        {"x=(0.9*u+0.8)*u+0.7;",
         "Tick Constant MulVariableAddConstant AddConstant MulVariableAddConstant AddConstant Store End"},
        // Comparisons fuse into the branch that tests them.
        {"x=if(above(u,0),u,-u);", "Tick Load JumpUnlessAboveConstant Tick Load Jump Tick Load Neg Store End"},
        {"x=if(equal(u,v),1,2)+if(u,1,2);",
         "Tick Load Load JumpUnlessEqual Tick Constant Jump Tick Constant Tick Load JumpIfZero Tick Constant Jump "
         "Tick Constant Add Store End"},
        // Loops test at the bottom.
        {"x=for(i=0,below(i,9),i=i+1,1);",
         "Tick Constant StorePop Constant Jump Tick Pop Constant Load AddConstant StorePop Tick Load "
         "JumpIfBelowConstant "
         "Store End"},
        {"x=for(i=0,above(i,u),0,1);",
         "Tick Constant StorePop Constant Jump Tick Pop Constant Constant Pop Tick Load Load JumpIfAbove Store End"},
        {"x=for(i=0,i,0,1);",
         "Tick Constant StorePop Constant Jump Tick Pop Constant Constant Pop Tick Load JumpIfNonZero Store End"},
        // Built-ins in place; the others through their callbacks.
        {"x=sin(u)+tanh(u)+atan2(u,1)+mod(u,2)+abs(u)+poly(u,1,2);",
         "Tick Load Direct Load Rule Tick Add Load Constant Direct2 Add Load Constant Rule2 Tick Add Load Abs Add Call "
         "Add "
         "Store End"},
        {"x=many(1,u);", "Tick Constant Pop Load Store End"},
    };
    for (const auto& c : cases) EXPECT_EQ(listing(c.text), c.program) << c.text;

    Engine engine("x=1;", Form::Native, 1);
    char small[5];
    EXPECT_EQ(exprListProgram(engine.context->root, small, sizeof small), 23);  // "Tick Constant Store End"
    EXPECT_STREQ(small, "Tick");
    ExprNode unknown{};
    unknown.kind = 5;
    EXPECT_EQ(exprListProgram(&unknown, small, sizeof small), -1);
}

TEST(Program, ClearAndFailedParsesDropTheProgram) {
    Engine engine("x=1;", Form::Native, 1);
    EXPECT_EQ(exprClear(engine.context), EXPR_OK);
    EXPECT_EQ(engine.context->program, nullptr);
    EXPECT_EQ(exprParse(engine.context, "x=(1;"), EXPR_ERR_SYNTAX);
    EXPECT_EQ(engine.context->program, nullptr);
    exprClear(engine.context);
    EXPECT_EQ(exprParse(engine.context, "x=2;"), EXPR_OK);
    double value = 0;
    EXPECT_EQ(exprEvaluate(engine.context, &value), EXPR_OK);
    EXPECT_EQ(value, 2.0);
}

// Without memory for the program the parse still succeeds and the tree is
// walked; without executable memory (or the translation's tables) the
// threaded runner runs the program. Every allocation fails in turn.
TEST(Program, NoMemoryForTheProgramFallsBackToTheWalk) {
    const int32_t live = exprLiveBlocks();
    {
        Engine engine("x=1;", Form::Native, 1);
        exprClear(engine.context);
        int32_t n = 1;
        for (;; ++n) {
            exprFailAllocation(n, 0);
            const int32_t code = exprParse(engine.context, "x=u*2;");
            exprFailAllocation(0, 0);
            if (code == EXPR_OK && exprHasNativeCode(engine.context->program) == (kNativeCodeHere ? 1 : 0)) break;
            if (code == EXPR_OK) {
                double value = 0;
                EXPECT_EQ(exprEvaluate(engine.context, &value), EXPR_OK);
                EXPECT_EQ(value, 1.5);
            }
            exprClear(engine.context);
            ASSERT_LT(n, 50);
        }
    }
    EXPECT_EQ(exprLiveBlocks(), live);
}

}  // namespace

namespace {
// Trees nested deeper than the compiler goes are walked, with the same value.
TEST(Program, DeepTextsAreWalked) {
    std::string shallow = "x=", deep = "x=";
    for (int i = 0; i < 10; ++i) shallow += "(1+";
    shallow += "u" + std::string(10, ')') + ";";
    for (int i = 0; i < 100; ++i) deep += "(1+";
    deep += "u" + std::string(100, ')') + ";";
    Engine compiled(shallow.c_str(), Form::Native, 1);
    double value = 0;
    EXPECT_EQ(exprEvaluate(compiled.context, &value), EXPR_OK);
    EXPECT_EQ(value, 10.75);
    Engine walked(deep.c_str(), Form::Walk, 1);
    exprClear(walked.context);
    ASSERT_EQ(exprParse(walked.context, deep.c_str()), EXPR_OK);
    EXPECT_EQ(walked.context->program, nullptr);
    EXPECT_EQ(exprEvaluate(walked.context, &value), EXPR_OK);
    EXPECT_EQ(value, 100.75);
}

// A part too deep to compile, in any place of any construct the compiler
// runs in place, leaves the whole text to the walk.
TEST(Program, ATooDeepPartAnywhereLeavesTheTextWalked) {
    std::string deep;
    for (int i = 0; i < 70; ++i) deep += "(1+";
    deep += "u" + std::string(70, ')');  // 70.75
    const char* const shapes[] = {
        "x=D;",
        "x=D/u;",
        "x=2-D;",
        "x=-D;",
        "x=sin(D);",
        "x=tanh(D-70);",
        "x=atan2(D,1);",
        "x=atan2(1,D);",
        "x=equal(D,1);",
        "x=if(D,1,2);",
        "x=if(1,D,2);",
        "x=if(0,2,D);",
        "x=1;y=D;",
        "x=for(i=D,0,0,0);",
        "x=for(i=0,below(i,D-70),i=i+1,0);",
        "x=for(i=0,below(i,1),i=D,0);",
        "x=for(i=0,below(i,1),i=i+1,D);",
        "x=for(i=0,below(i,1),i=i+1,1,D);",
    };
    for (const char* shape : shapes) {
        std::string text = shape;
        text.replace(text.find('D'), 1, deep);
        Engine walked(text.c_str(), Form::Walk, 1);
        ASSERT_EQ(exprClear(walked.context), EXPR_OK);
        ASSERT_EQ(exprParse(walked.context, text.c_str()), EXPR_OK) << shape;
        EXPECT_EQ(walked.context->program, nullptr) << shape;
        double value = 0;
        EXPECT_EQ(exprEvaluate(walked.context, &value), EXPR_OK) << shape;
    }
}

// Trees the parser never builds are left to the walk, which reports them.
TEST(Program, MalformedTreesAreNotCompiled) {
    ExprNode unknown{}, variable{}, assignment{}, call{};
    unknown.kind = 5;
    variable.kind = NODE_VARIABLE;  // no value address
    assignment.kind = NODE_ASSIGN;  // no target
    assignment.child = &variable;
    call.kind = NODE_CALL;  // no callback
    for (ExprNode* root : {&unknown, &variable, &assignment, &call}) EXPECT_EQ(exprCompile(root), nullptr);
}

// A countdown at its lowest stays there in every form.
TEST(Program, CountdownSaturatesAsInTheWalk) {
    for (const char* text : {"x=1+u;", "for(i=0,below(i,3),i=i+1,x=x+1);"})
        for (Form form : kCompiledForms) {
            Engine compiled(text, form, 1), walked(text, Form::Walk, 1);
            compiled.context->checkInterval = walked.context->checkInterval = INT32_MIN;
            double a = 0, b = 0;
            ASSERT_EQ(exprEvaluate(compiled.context, &a), exprEvaluate(walked.context, &b)) << text;
            EXPECT_EQ(compiled.context->countdown, walked.context->countdown) << text;
            EXPECT_EQ(compiled.log.seen.size(), walked.log.seen.size()) << text;
        }
}
}  // namespace

namespace {
// The evaluator a loop takes once gives what exprEvaluate gives, in every
// form and state; only machine code is called without exprEvaluate's checks.
TEST(Program, TheEvaluatorOfAContextIsExprEvaluateOrItsMachineCode) {
    for (Form form : {Form::Walk, Form::Threaded, Form::Native}) {
        SCOPED_TRACE(nameOf(form));
        Engine looped("x=x+u;y=sqrt(-x);", form, 0), direct("x=x+u;y=sqrt(-x);", form, 0);
        const ExprEvaluator evaluate = exprEvaluator(looped.context);
        EXPECT_EQ(evaluate == &exprEvaluate, form != Form::Native || !kNativeCodeHere);
        for (int round = 0; round < 3; ++round) {
            double a = 0, b = 0;
            errno = EILSEQ;
            const int32_t codeA = evaluate(looped.context, &a);
            const int errnoA = errno;
            errno = EILSEQ;
            ASSERT_EQ(codeA, exprEvaluate(direct.context, &b));
            EXPECT_EQ(errnoA, errno);
            EXPECT_TRUE(sameBits(looped.variable("x"), direct.variable("x")));
            EXPECT_EQ(looped.context->countdown, direct.context->countdown);
        }
        exprClear(looped.context);
        double value = 0;
        EXPECT_EQ(exprEvaluator(looped.context)(looped.context, &value), EXPR_ERR_NOT_READY);
    }
    EXPECT_EQ(exprEvaluator(nullptr), &exprEvaluate);
}
}  // namespace
