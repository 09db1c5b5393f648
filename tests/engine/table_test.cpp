// Name tables: the identifier rule, lookup, insert and overwrite, bounds,
// freeing, and every allocation failure.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/expr.h"
#include "support/small_stack.h"

extern "C" int32_t quorvelHeaderIsC11(void);

namespace {

int32_t dummyA(ExprContext*, ExprNode*, int32_t, double**, int32_t, double* result) {
    *result = 1.0;
    return EXPR_OK;
}
int32_t dummyB(ExprContext*, ExprNode*, int32_t, double**, int32_t, double* result) {
    *result = 2.0;
    return EXPR_OK;
}

struct Table {
    NameTable* table = nullptr;
    Table() { EXPECT_EQ(exprNewTable(&table), EXPR_OK); }
    ~Table() { exprFreeVarTable(table); }
};

struct FunctionTable {
    NameTable* table = nullptr;
    FunctionTable() { EXPECT_EQ(exprNewTable(&table), EXPR_OK); }
    ~FunctionTable() { exprFreeFunctionTable(table); }
};

TEST(Header, CompilesAsC) {
    EXPECT_EQ(quorvelHeaderIsC11(), 1);
}

TEST(Identifier, Rule) {
    struct Case {
        const char* text;
        int32_t expected;
    };
    const Case cases[] = {
        {"_", 1},     {"a", 1},    {"Z9_x", 1}, {"_1", 1},   {"out1", 1}, {"1a", 0},
        {"", 0},      {"a b", 0},  {"a.b", 0},  {"a-b", 0},  {"a&", 0},   {"\xC3\xA9t\xC3\xA9", 0},
        {"a\x80", 0}, {"\xFF", 0}, {"9", 0},    {"a\tb", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(exprIsIdentifier(c.text), c.expected) << c.text;
    EXPECT_EQ(exprIsIdentifier(nullptr), 0);
}

TEST(VariableTable, EmptyTableAndNullOrEmptyNames) {
    Table t;
    double* value = reinterpret_cast<double*>(&t);
    EXPECT_EQ(exprFindVariable(t.table, "a", &value), EXPR_ERR_NOT_FOUND);
    EXPECT_EQ(value, nullptr);
    ASSERT_EQ(exprSetVariable(t.table, "m", 1.0), EXPR_OK);
    ASSERT_NE(t.table->root, nullptr);
    EXPECT_STREQ(static_cast<VarEntry*>(t.table->root)->name, "m");
    for (const char* name : {static_cast<const char*>(nullptr), ""}) {
        value = reinterpret_cast<double*>(&t);
        EXPECT_EQ(exprFindVariable(t.table, name, &value), EXPR_ERR_NOT_FOUND);
        EXPECT_EQ(value, nullptr);
    }
    value = reinterpret_cast<double*>(&t);
    EXPECT_EQ(exprFindVariable(nullptr, "m", &value), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(exprFindVariable(t.table, "m", nullptr), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprSetVariable(nullptr, "m", 1.0), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprSetVariable(t.table, nullptr, 1.0), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprNewTable(nullptr), EXPR_ERR_ARGUMENT);
}

TEST(VariableTable, OverwriteKeepsAddressAndCaseMatters) {
    Table t;
    ASSERT_EQ(exprSetVariable(t.table, "gain", 1.5), EXPR_OK);
    double* before = nullptr;
    ASSERT_EQ(exprFindVariable(t.table, "gain", &before), EXPR_OK);
    ASSERT_EQ(exprSetVariable(t.table, "Gain", 7.0), EXPR_OK);
    ASSERT_EQ(exprSetVariable(t.table, "gain", -2.0), EXPR_OK);
    double* after = nullptr;
    ASSERT_EQ(exprFindVariable(t.table, "gain", &after), EXPR_OK);
    EXPECT_EQ(before, after);
    EXPECT_EQ(*after, -2.0);
    double* other = nullptr;
    ASSERT_EQ(exprFindVariable(t.table, "Gain", &other), EXPR_OK);
    EXPECT_NE(other, after);
    EXPECT_EQ(*other, 7.0);
    EXPECT_EQ(exprFindVariable(t.table, "GAIN", &other), EXPR_ERR_NOT_FOUND);
}

TEST(VariableTable, NonIdentifierNewNameIsRefused) {
    Table t;
    ASSERT_EQ(exprSetVariable(t.table, "keep", 1.0), EXPR_OK);
    for (const char* bad : {"1x", "", "a b", "x.y", "\xE2\x82\xAC"}) {
        EXPECT_EQ(exprSetVariable(t.table, bad, 2.0), EXPR_ERR_MEMORY) << bad;
    }
    VarEntry* root = static_cast<VarEntry*>(t.table->root);
    EXPECT_EQ(root->left, nullptr);
    EXPECT_EQ(root->right, nullptr);
    EXPECT_EQ(root->value, 1.0);
}

TEST(VariableTable, TreeShapeFollowsComparison) {
    Table t;
    for (const char* name : {"m", "c", "x", "a", "mm"}) ASSERT_EQ(exprSetVariable(t.table, name, 0.0), EXPR_OK);
    const VarEntry* root = static_cast<VarEntry*>(t.table->root);
    EXPECT_STREQ(root->left->name, "c");
    EXPECT_STREQ(root->left->left->name, "a");
    EXPECT_STREQ(root->right->name, "x");
    EXPECT_STREQ(root->right->left->name, "mm");  // a proper prefix compares less
}

TEST(FunctionTable, BoundsAreNormalisedPairwise) {
    struct Case {
        int32_t minArgs, maxArgs, minRefs, maxRefs;
        int32_t storedMinArgs, storedMaxArgs, storedMinRefs, storedMaxRefs;
    };
    const Case cases[] = {
        {3, 1, 0, 0, 1, 3, 0, 0},   {-1, 2, 0, 0, -1, 2, 0, 0}, {2, -1, 0, 0, 2, -1, 0, 0},
        {1, 1, 2, 0, 1, 1, 0, 2},   {5, 4, 3, 2, 4, 5, 2, 3},   {-3, -7, -1, -2, -3, -7, -1, -2},
        {0, 0, 1, -1, 0, 0, 1, -1},
    };
    for (const Case& c : cases) {
        FunctionTable t;
        ASSERT_EQ(exprSetFunction(t.table, dummyA, "f", c.minArgs, c.maxArgs, c.minRefs, c.maxRefs), EXPR_OK);
        ExprFunction f = nullptr;
        int32_t a = 9, b = 9, r = 9, s = 9;
        ASSERT_EQ(exprFindFunction(t.table, &f, "f", &a, &b, &r, &s), EXPR_OK);
        EXPECT_EQ(f, dummyA);
        EXPECT_EQ(a, c.storedMinArgs);
        EXPECT_EQ(b, c.storedMaxArgs);
        EXPECT_EQ(r, c.storedMinRefs);
        EXPECT_EQ(s, c.storedMaxRefs);
    }
}

TEST(FunctionTable, OverwriteReplacesCallbackAndBoundsAndFailedLookupWritesNothing) {
    FunctionTable t;
    ASSERT_EQ(exprSetFunction(t.table, dummyA, "f", 1, 1, 0, 0), EXPR_OK);
    const void* entry = t.table->root;
    ASSERT_EQ(exprSetFunction(t.table, dummyB, "f", 2, 4, 1, 1), EXPR_OK);
    EXPECT_EQ(t.table->root, entry);
    ExprFunction f = nullptr;
    int32_t a = 0, b = 0, r = 0, s = 0;
    ASSERT_EQ(exprFindFunction(t.table, &f, "f", &a, &b, &r, &s), EXPR_OK);
    EXPECT_EQ(f, dummyB);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 4);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(s, 1);

    for (const char* missing : {"F", "g", "", static_cast<const char*>(nullptr)}) {
        f = dummyA;
        a = b = r = s = 77;
        EXPECT_NE(exprFindFunction(t.table, &f, missing, &a, &b, &r, &s), EXPR_OK);
        EXPECT_EQ(f, dummyA);
        EXPECT_EQ(a + b + r + s, 4 * 77);
    }
    EXPECT_EQ(exprFindFunction(nullptr, &f, "f", &a, &b, &r, &s), EXPR_ERR_ARGUMENT);
    // Every out-parameter is required, even for a name that exists.
    EXPECT_EQ(exprFindFunction(t.table, nullptr, "f", &a, &b, &r, &s), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprFindFunction(t.table, &f, "f", nullptr, &b, &r, &s), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprFindFunction(t.table, &f, "f", &a, nullptr, &r, &s), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprFindFunction(t.table, &f, "f", &a, &b, nullptr, &s), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprFindFunction(t.table, &f, "f", &a, &b, &r, nullptr), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprSetFunction(nullptr, dummyA, "f", 1, 1, 0, 0), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprSetFunction(t.table, dummyA, nullptr, 1, 1, 0, 0), EXPR_ERR_ARGUMENT);
    EXPECT_EQ(exprSetFunction(t.table, dummyA, "2f", 1, 1, 0, 0), EXPR_ERR_MEMORY);
}

TEST(Allocation, ZeroFilledBlocksOfAnySize) {
    const int32_t live = exprLiveBlocks();
    void* empty = exprAlloc(0);  // a block of its own, not null
    ASSERT_NE(empty, nullptr);
    unsigned char* block = static_cast<unsigned char*>(exprAlloc(64));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(std::all_of(block, block + 64, [](unsigned char b) { return b == 0; }));
    EXPECT_EQ(exprLiveBlocks(), live + 2);
    exprDealloc(empty);
    exprDealloc(block);
    exprDealloc(nullptr);
    EXPECT_EQ(exprLiveBlocks(), live);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // A size the heap cannot give is null, not a failure of the process
    // (sanitizer runtimes report such a request instead).
    EXPECT_EQ(exprAlloc(SIZE_MAX), nullptr);
    EXPECT_EQ(exprLiveBlocks(), live);
#endif
}

TEST(Tables, FreeingNullAndEmptyTables) {
    const int32_t live = exprLiveBlocks();
    EXPECT_EQ(exprFreeVarTable(nullptr), EXPR_OK);
    EXPECT_EQ(exprFreeFunctionTable(nullptr), EXPR_OK);
    NameTable* table = nullptr;
    ASSERT_EQ(exprNewTable(&table), EXPR_OK);
    EXPECT_EQ(exprLiveBlocks(), live + 1);
    EXPECT_EQ(exprFreeVarTable(table), EXPR_OK);
    EXPECT_EQ(exprLiveBlocks(), live);
}

// Names in ascending order make a list as long as the table; lookups and the
// release must not depend on the native stack.
TEST(Tables, AscendingNamesOnASmallStack) {
    const int32_t live = exprLiveBlocks();
    bool allFound = false;
    ASSERT_TRUE(quorvel_test::runOnSmallStack([&] {
        NameTable* variables = nullptr;
        NameTable* functions = nullptr;
        if (exprNewTable(&variables) != EXPR_OK || exprNewTable(&functions) != EXPR_OK) return;
        char name[16];
        constexpr int kCount = 20000;
        allFound = true;
        for (int i = 0; i < kCount; ++i) {
            std::snprintf(name, sizeof name, "v%05d", i);
            allFound &= exprSetVariable(variables, name, i) == EXPR_OK;
            if (i < kCount / 10) allFound &= exprSetFunction(functions, dummyA, name, 0, 0, 0, 0) == EXPR_OK;
        }
        for (int i = 0; i < kCount; ++i) {
            std::snprintf(name, sizeof name, "v%05d", i);
            double* value = nullptr;
            allFound &= exprFindVariable(variables, name, &value) == EXPR_OK && value && *value == i;
        }
        exprFreeVarTable(variables);
        exprFreeFunctionTable(functions);
    }));
    EXPECT_TRUE(allFound);
    EXPECT_EQ(exprLiveBlocks(), live);
}

// Every allocation of every table operation fails once in turn: the code is
// EXPR_ERR_MEMORY, the table is as it was, and nothing leaks.
TEST(Tables, EveryAllocationFailure) {
    const int32_t live = exprLiveBlocks();
    for (int32_t n = 1;; ++n) {
        NameTable* table = reinterpret_cast<NameTable*>(&n);
        exprFailAllocation(n, 0);
        const int32_t code = exprNewTable(&table);
        exprFailAllocation(0, 0);
        if (code == EXPR_OK) {
            exprFreeVarTable(table);
            EXPECT_GE(n, 2);
            break;
        }
        EXPECT_EQ(code, EXPR_ERR_MEMORY);
        EXPECT_EQ(table, nullptr);
        ASSERT_LT(n, 10);
    }
    EXPECT_EQ(exprLiveBlocks(), live);

    Table vars;
    FunctionTable funcs;
    ASSERT_EQ(exprSetVariable(vars.table, "m", 1.0), EXPR_OK);
    ASSERT_EQ(exprSetFunction(funcs.table, dummyA, "m", 1, 1, 0, 0), EXPR_OK);
    const int32_t withEntries = exprLiveBlocks();
    for (const bool persistent : {false, true}) {
        int32_t n = 1;
        for (;; ++n) {
            exprFailAllocation(n, persistent);
            const int32_t varCode = exprSetVariable(vars.table, "z", 2.0);
            exprFailAllocation(n, persistent);
            const int32_t funcCode = exprSetFunction(funcs.table, dummyB, "z", 1, 1, 0, 0);
            exprFailAllocation(0, 0);
            ASSERT_EQ(varCode, funcCode);
            if (varCode == EXPR_OK) break;
            EXPECT_EQ(varCode, EXPR_ERR_MEMORY);
            EXPECT_EQ(exprLiveBlocks(), withEntries);
            EXPECT_EQ(static_cast<VarEntry*>(vars.table->root)->right, nullptr);
            EXPECT_EQ(static_cast<FuncEntry*>(funcs.table->root)->right, nullptr);
            ASSERT_LT(n, 10);
        }
        EXPECT_EQ(n, 3);  // the entry and its name copy
        double* value = nullptr;
        ASSERT_EQ(exprFindVariable(vars.table, "z", &value), EXPR_OK);
        EXPECT_EQ(*value, 2.0);
        // Overwriting allocates nothing and cannot fail.
        exprFailAllocation(1, 1);
        EXPECT_EQ(exprSetVariable(vars.table, "z", 3.0), EXPR_OK);
        EXPECT_EQ(exprSetFunction(funcs.table, dummyA, "z", 2, 2, 0, 0), EXPR_OK);
        EXPECT_EQ(exprAllocationCount(), 0);
        // A persistent failure holds for every later allocation too.
        EXPECT_EQ(exprSetVariable(vars.table, "y", 1.0), EXPR_ERR_MEMORY);
        EXPECT_EQ(exprSetVariable(vars.table, "y", 1.0), EXPR_ERR_MEMORY);
        EXPECT_EQ(exprAllocationCount(), 2);
        exprFailAllocation(0, 0);
        EXPECT_EQ(*value, 3.0);
        exprFreeVarTable(vars.table);
        exprFreeFunctionTable(funcs.table);
        ASSERT_EQ(exprNewTable(&vars.table), EXPR_OK);
        ASSERT_EQ(exprNewTable(&funcs.table), EXPR_OK);
        ASSERT_EQ(exprSetVariable(vars.table, "m", 1.0), EXPR_OK);
        ASSERT_EQ(exprSetFunction(funcs.table, dummyA, "m", 1, 1, 0, 0), EXPR_OK);
    }
}

}  // namespace

namespace {

int depthOf(const VarEntry* entry) {
    if (entry == nullptr) return 0;
    return 1 + std::max(depthOf(entry->left), depthOf(entry->right));
}

bool ordered(const VarEntry* entry, const char* low, const char* high) {
    if (entry == nullptr) return true;
    if ((low && std::strcmp(entry->name, low) <= 0) || (high && std::strcmp(entry->name, high) >= 0)) return false;
    return ordered(entry->left, low, entry->name) && ordered(entry->right, entry->name, high);
}

// Names in order, or in any order, keep the tree shallow; every value
// address stays where it was handed out and every name resolves.
TEST(Tables, ManyNamesStayShallowAndKeepTheirAddresses) {
    for (const bool descending : {false, true}) {
        NameTable* table = nullptr;
        ASSERT_EQ(exprNewTable(&table), EXPR_OK);
        constexpr int kCount = 50000;
        std::vector<double*> addresses(kCount);
        char name[16];
        for (int i = 0; i < kCount; ++i) {
            const int k = descending ? kCount - 1 - i : i;
            std::snprintf(name, sizeof name, "n%06d", k);
            ASSERT_EQ(exprSetVariable(table, name, k), EXPR_OK);
            ASSERT_EQ(exprFindVariable(table, name, &addresses[k]), EXPR_OK);
        }
        const VarEntry* root = static_cast<VarEntry*>(table->root);
        EXPECT_LE(depthOf(root), 64);
        EXPECT_TRUE(ordered(root, nullptr, nullptr));
        for (int k = 0; k < kCount; ++k) {
            std::snprintf(name, sizeof name, "n%06d", k);
            double* value = nullptr;
            ASSERT_EQ(exprFindVariable(table, name, &value), EXPR_OK);
            ASSERT_EQ(value, addresses[k]);
            ASSERT_EQ(*value, k);
        }
        exprFreeVarTable(table);
    }
}

// A table that never grows deep keeps the plain shape of its insertions.
TEST(Tables, ShallowTablesKeepTheirInsertionShape) {
    NameTable* table = nullptr;
    ASSERT_EQ(exprNewTable(&table), EXPR_OK);
    char name[16];
    for (int i = 0; i < 30; ++i) {
        std::snprintf(name, sizeof name, "a%02d", i);
        ASSERT_EQ(exprSetVariable(table, name, 0.0), EXPR_OK);
    }
    const VarEntry* entry = static_cast<VarEntry*>(table->root);
    for (int i = 0; i < 30; ++i, entry = entry->right) {
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->left, nullptr);
    }
    EXPECT_EQ(entry, nullptr);
    exprFreeVarTable(table);
}

}  // namespace
