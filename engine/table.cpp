// Name tables and the engine's allocator.
//
// A table is an unbalanced binary search tree keyed by byte-wise name
// comparison. Entries never move, so the address of a variable's value stays
// valid until the table is freed; the parser and the module keep it.

#include <cstdlib>
#include <cstring>

#include "internal.h"

#ifdef EXPR_ALLOC_HOOKS
#include <atomic>
#endif

// ---- Allocation ------------------------------------------------------------

#ifdef EXPR_ALLOC_HOOKS
namespace {
std::atomic<int32_t> failAt{0};       // allocation number that fails; 0: none
std::atomic<int32_t> failPersistent{0};
std::atomic<int32_t> attempts{0};     // since the last exprFailAllocation
std::atomic<int32_t> liveBlocks{0};

bool allocationShouldFail() {
    const int32_t n = attempts.fetch_add(1) + 1;
    const int32_t target = failAt.load();
    if (target <= 0) return false;
    return n == target || (failPersistent.load() != 0 && n > target);
}
}  // namespace

extern "C" void exprFailAllocation(int32_t n, int32_t persistent) {
    failAt.store(n < 0 ? 0 : n);
    failPersistent.store(persistent);
    attempts.store(0);
}

extern "C" int32_t exprAllocationCount(void) { return attempts.load(); }
extern "C" int32_t exprLiveBlocks(void) { return liveBlocks.load(); }
#endif

extern "C" void* exprAlloc(size_t size) {
#ifdef EXPR_ALLOC_HOOKS
    if (allocationShouldFail()) return nullptr;
#endif
    void* block = std::calloc(1, size != 0 ? size : 1);
#ifdef EXPR_ALLOC_HOOKS
    if (block != nullptr) liveBlocks.fetch_add(1);
#endif
    return block;
}

extern "C" void exprDealloc(void* block) {
    if (block == nullptr) return;
#ifdef EXPR_ALLOC_HOOKS
    liveBlocks.fetch_sub(1);
#endif
    std::free(block);
}

// ---- Names -----------------------------------------------------------------

namespace {
// ASCII classes only: the default locale, which the library never changes,
// has no letters or digits at 0x80 and above.
bool isAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }

char* copyName(const char* name) {
    const size_t length = std::strlen(name);
    char* copy = static_cast<char*>(exprAlloc(length + 1));
    if (copy != nullptr) std::memcpy(copy, name, length + 1);
    return copy;
}
}  // namespace

extern "C" int32_t exprIsIdentifier(const char* text) {
    if (text == nullptr) return 0;
    const unsigned char first = static_cast<unsigned char>(text[0]);
    if (!isAsciiLetter(first) && first != '_') return 0;
    for (const char* p = text + 1; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '_') return 0;
    }
    return 1;
}

// ---- Entries ---------------------------------------------------------------

extern "C" VarEntry* exprNewVarEntry(const char* name, double value) {
    if (!exprIsIdentifier(name)) return nullptr;
    VarEntry* entry = static_cast<VarEntry*>(exprAlloc(sizeof(VarEntry)));
    if (entry == nullptr) return nullptr;
    entry->name = copyName(name);
    if (entry->name == nullptr) {
        exprDealloc(entry);
        return nullptr;
    }
    entry->value = value;
    return entry;
}

extern "C" FuncEntry* exprNewFuncEntry(ExprFunction function, const char* name, int32_t minArgs, int32_t maxArgs,
                                       int32_t minRefs, int32_t maxRefs) {
    if (!exprIsIdentifier(name)) return nullptr;
    FuncEntry* entry = static_cast<FuncEntry*>(exprAlloc(sizeof(FuncEntry)));
    if (entry == nullptr) return nullptr;
    entry->name = copyName(name);
    if (entry->name == nullptr) {
        exprDealloc(entry);
        return nullptr;
    }
    entry->function = function;
    entry->minArgs = minArgs;
    entry->maxArgs = maxArgs;
    entry->minRefs = minRefs;
    entry->maxRefs = maxRefs;
    return entry;
}

// ---- Tree walks shared by both entry types ----------------------------------

namespace {
// The link (table root or a subtree pointer) where name is or would be.
template <typename Entry>
Entry** findLink(NameTable* table, const char* name) {
    Entry** link = reinterpret_cast<Entry**>(&table->root);
    while (*link != nullptr) {
        const int order = std::strcmp(name, (*link)->name);  // compares unsigned bytes
        if (order == 0) break;
        link = order < 0 ? &(*link)->left : &(*link)->right;
    }
    return link;
}

template <typename Entry>
Entry* findEntry(NameTable* table, const char* name) {
    return *findLink<Entry>(table, name);
}

// Releases every entry without recursion: rotating each left subtree up turns
// the tree into a right-leaning list that is freed as it is walked, so a
// table built from names in ascending order needs no stack at all.
template <typename Entry>
void freeEntries(Entry* entry) {
    while (entry != nullptr) {
        if (entry->left != nullptr) {
            Entry* left = entry->left;
            entry->left = left->right;
            left->right = entry;
            entry = left;
            continue;
        }
        Entry* next = entry->right;
        exprDealloc(entry->name);
        exprDealloc(entry);
        entry = next;
    }
}

template <typename Entry>
int32_t freeTable(NameTable* table) {
    if (table == nullptr) return EXPR_OK;
    freeEntries(static_cast<Entry*>(table->root));
    exprDealloc(table);
    return EXPR_OK;
}

void orderPair(int32_t& low, int32_t& high) {
    if (low >= 0 && high >= 0 && low > high) {
        const int32_t swap = low;
        low = high;
        high = swap;
    }
}
}  // namespace

// ---- Table operations -------------------------------------------------------

extern "C" int32_t exprNewTable(NameTable** table) {
    if (table == nullptr) return EXPR_ERR_ARGUMENT;
    *table = nullptr;
    NameTable* created = static_cast<NameTable*>(exprAlloc(sizeof(NameTable)));
    if (created == nullptr) return EXPR_ERR_MEMORY;
    *table = created;
    return EXPR_OK;
}

extern "C" int32_t exprFreeVarTable(NameTable* table) { return freeTable<VarEntry>(table); }
extern "C" int32_t exprFreeFunctionTable(NameTable* table) { return freeTable<FuncEntry>(table); }

extern "C" int32_t exprSetVariable(NameTable* table, const char* name, double value) {
    if (table == nullptr || name == nullptr) return EXPR_ERR_ARGUMENT;
    VarEntry** link = findLink<VarEntry>(table, name);
    if (*link != nullptr) {
        (*link)->value = value;
        return EXPR_OK;
    }
    VarEntry* entry = exprNewVarEntry(name, value);
    if (entry == nullptr) return EXPR_ERR_MEMORY;
    *link = entry;
    return EXPR_OK;
}

extern "C" int32_t exprFindVariable(NameTable* table, const char* name, double** value) {
    if (value == nullptr) return EXPR_ERR_ARGUMENT;
    *value = nullptr;
    if (table == nullptr) return EXPR_ERR_ARGUMENT;
    if (name == nullptr || name[0] == '\0') return EXPR_ERR_NOT_FOUND;
    VarEntry* entry = findEntry<VarEntry>(table, name);
    if (entry == nullptr) return EXPR_ERR_NOT_FOUND;
    *value = &entry->value;
    return EXPR_OK;
}

extern "C" int32_t exprSetFunction(NameTable* table, ExprFunction function, const char* name, int32_t minArgs,
                                   int32_t maxArgs, int32_t minRefs, int32_t maxRefs) {
    if (table == nullptr || name == nullptr) return EXPR_ERR_ARGUMENT;
    orderPair(minArgs, maxArgs);
    orderPair(minRefs, maxRefs);
    FuncEntry** link = findLink<FuncEntry>(table, name);
    if (*link != nullptr) {
        FuncEntry* entry = *link;
        entry->function = function;
        entry->minArgs = minArgs;
        entry->maxArgs = maxArgs;
        entry->minRefs = minRefs;
        entry->maxRefs = maxRefs;
        return EXPR_OK;
    }
    FuncEntry* entry = exprNewFuncEntry(function, name, minArgs, maxArgs, minRefs, maxRefs);
    if (entry == nullptr) return EXPR_ERR_MEMORY;
    *link = entry;
    return EXPR_OK;
}

extern "C" int32_t exprFindFunction(NameTable* table, ExprFunction* function, const char* name, int32_t* minArgs,
                                    int32_t* maxArgs, int32_t* minRefs, int32_t* maxRefs) {
    if (table == nullptr || function == nullptr || minArgs == nullptr || maxArgs == nullptr || minRefs == nullptr ||
        maxRefs == nullptr)
        return EXPR_ERR_ARGUMENT;
    if (name == nullptr || name[0] == '\0') return EXPR_ERR_NOT_FOUND;
    const FuncEntry* entry = findEntry<FuncEntry>(table, name);
    if (entry == nullptr) return EXPR_ERR_NOT_FOUND;
    *function = entry->function;
    *minArgs = entry->minArgs;
    *maxArgs = entry->maxArgs;
    *minRefs = entry->minRefs;
    *maxRefs = entry->maxRefs;
    return EXPR_OK;
}
