// The engine set up the way quorvel.sem sets it up for one instance: the same
// three tables and bound names, both contexts turning math errors into 0.0,
// and the same evaluation budgets. `check` parses with it; `render` runs it
// beside the plug-in, sample for sample, to learn which samples a failed
// evaluation silenced. The audio itself always comes from the plug-in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "expr.h"

namespace quorvel::tools {

class ModuleEngine {
public:
    static constexpr int32_t kInputCount = 6;
    static constexpr int32_t kOutputCount = 3;
    // Abort polls one evaluation may take before it is stopped, as in the
    // module: Expr stops at its first poll (node evaluation 100001), Init at
    // its hundredth.
    static constexpr int32_t kExprPollBudget = 1;
    static constexpr int32_t kInitPollBudget = 100;

    ModuleEngine();
    ~ModuleEngine();
    ModuleEngine(const ModuleEngine&) = delete;
    ModuleEngine& operator=(const ModuleEngine&) = delete;

    bool ready() const { return ready_; }

    // Clear the context and parse the text, as a pin update does.
    int32_t parseExpr(const std::string& text);
    int32_t parseInit(const std::string& text);

    // As the module's open: time and counter restart, rate takes the value.
    void open(float rate);

    // A new block: an Expr stopped by its budget silences the rest of its
    // block, as in the module, and the next block tries again.
    void beginBlock() { stoppedThisBlock_ = false; }

    // One sample of the module's loop. Returns the Expr result code
    // (EXPR_ERR_NOT_READY before a text parsed); out receives the samples the
    // module writes: the outputs times 0.1 on EXPR_OK, 0.0 otherwise.
    int32_t processSample(const float* in, float* out);

    NameTable* variables() const { return variables_; }
    NameTable* constants() const { return constants_; }
    ExprContext* exprContext() const { return exprContext_; }
    ExprContext* initContext() const { return initContext_; }

private:
    static int32_t abortCheck(ExprContext* context);
    bool setUp();

    NameTable* functions_ = nullptr;
    NameTable* variables_ = nullptr;
    NameTable* constants_ = nullptr;
    ExprContext* exprContext_ = nullptr;
    ExprContext* initContext_ = nullptr;
    double* inputValues_[kInputCount] = {};
    double* outputValues_[kOutputCount] = {};
    double* timeValue_ = nullptr;
    double* sampleValue_ = nullptr;
    double* rateValue_ = nullptr;
    bool ready_ = false;

    double runningTime_ = 0.0;
    double timeStep_ = 0.0;
    uint32_t sampleCount_ = 0;
    int32_t pollsThisEvaluation_ = 0;
    bool stoppedThisBlock_ = false;
};

// The names and value addresses of a variable table, in name order.
struct NamedValue {
    std::string name;
    const double* value;
};
std::vector<NamedValue> tableEntries(NameTable* table);

// A double narrowed to float as IEEE round-to-nearest does it, also outside
// the float range (where a plain conversion is undefined).
float narrowToFloat(double value);

}  // namespace quorvel::tools
