// Name tables: variables, constants and functions by name, and the
// identifier rule every stored name obeys.
//
// A table is an unbalanced binary search tree keyed by byte-wise name
// comparison. Entries never move, so the address of a variable's value stays
// valid until the table is freed; the parser and the module keep it.

#include <cstring>

#include "internal.h"

// ---- Names -----------------------------------------------------------------

namespace {
// ASCII classes only: the default locale, which the library never changes,
// has no letters or digits at 0x80 and above.
bool isAsciiLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isAsciiDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

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

namespace {
// A zero-filled entry that owns a copy of name; null when the name breaks
// the identifier rule or memory runs out.
template <typename Entry> Entry* newNamedEntry(const char* name) {
    if (!exprIsIdentifier(name)) return nullptr;
    Entry* entry = static_cast<Entry*>(exprAlloc(sizeof(Entry)));
    if (entry == nullptr) return nullptr;
    entry->name = copyName(name);
    if (entry->name == nullptr) {
        exprDealloc(entry);
        return nullptr;
    }
    return entry;
}
}  // namespace

extern "C" VarEntry* exprNewVarEntry(const char* name, double value) {
    VarEntry* entry = newNamedEntry<VarEntry>(name);
    if (entry != nullptr) entry->value = value;
    return entry;
}

namespace {
// A function entry's callback and bounds, as created or overwritten.
void fillFunction(FuncEntry* entry, ExprFunction function, int32_t minArgs, int32_t maxArgs, int32_t minRefs,
                  int32_t maxRefs) {
    entry->function = function;
    entry->minArgs = minArgs;
    entry->maxArgs = maxArgs;
    entry->minRefs = minRefs;
    entry->maxRefs = maxRefs;
}
}  // namespace

extern "C" FuncEntry* exprNewFuncEntry(ExprFunction function, const char* name, int32_t minArgs, int32_t maxArgs,
                                       int32_t minRefs, int32_t maxRefs) {
    FuncEntry* entry = newNamedEntry<FuncEntry>(name);
    if (entry != nullptr) fillFunction(entry, function, minArgs, maxArgs, minRefs, maxRefs);
    return entry;
}

// ---- Tree walks shared by both entry types ----------------------------------

namespace {
// The link (table root or a subtree pointer) where name is or would be.
template <typename Entry> Entry** findLink(NameTable* table, const char* name) {
    Entry** link = reinterpret_cast<Entry**>(&table->root);
    while (*link != nullptr) {
        const int order = std::strcmp(name, (*link)->name);  // compares unsigned bytes
        if (order == 0) break;
        link = order < 0 ? &(*link)->left : &(*link)->right;
    }
    return link;
}

// ---- Keeping deep tables shallow ---------------------------------------------
//
// Names arriving in order would make the tree a list, and every parse of a
// text with many names quadratic. A new entry deeper than kRebalanceDepth
// looks up its ancestors for the lowest one whose subtree is out of weight
// balance (one child holding more than two thirds of it) and rebuilds that
// subtree perfectly balanced. Only links change: every entry, and so every
// value address handed out, stays where it is, and lookups find what they
// found before. Tables that never grow that deep keep the plain shape.

constexpr int kRebalanceDepth = 40;
constexpr int kPathLimit = 64;

template <typename Entry> size_t countEntries(const Entry* entry) {
    size_t count = 0;
    while (entry != nullptr) {  // the right spine iteratively, left subtrees recursively
        count += 1 + countEntries(entry->left);
        entry = entry->right;
    }
    return count;
}

// One step of turning a right-leaning list into a balanced tree: count left
// rotations down the right spine.
template <typename Entry> void compressSpine(Entry* top, size_t count) {
    Entry* scanner = top;
    for (size_t i = 0; i < count; ++i) {
        Entry* child = scanner->right;
        scanner->right = child->right;
        scanner = scanner->right;
        child->right = scanner->left;
        scanner->left = child;
    }
}

// Rebuilds the subtree at link, of size entries, in place and without
// allocating: first into a right-leaning list, then into a balanced tree.
template <typename Entry> void rebuildBalanced(Entry** link, size_t size) {
    Entry top{};
    top.right = *link;
    Entry* tail = &top;
    Entry* rest = tail->right;
    while (rest != nullptr) {
        if (rest->left == nullptr) {
            tail = rest;
            rest = rest->right;
        } else {
            Entry* left = rest->left;
            rest->left = left->right;
            left->right = rest;
            rest = left;
            tail->right = left;
        }
    }
    size_t full = 1;
    while (full * 2 <= size + 1) full *= 2;
    compressSpine(&top, size + 1 - full);
    for (size_t remaining = full - 1; remaining > 1; remaining /= 2) compressSpine(&top, remaining / 2);
    *link = top.right;
}

// path[0 .. depth-1] are the links from the root down to the new entry.
template <typename Entry> void rebalanceAfterInsert(Entry** path[], int depth) {
    if (depth <= kRebalanceDepth || depth > kPathLimit) return;
    size_t childSize = 1;
    for (int i = depth - 2; i >= 0; --i) {
        Entry* node = *path[i];
        const Entry* child = *path[i + 1];
        const Entry* sibling = node->left == child ? node->right : node->left;
        const size_t size = childSize + countEntries(sibling) + 1;
        if (3 * childSize > 2 * size) {
            rebuildBalanced(path[i], size);
            return;
        }
        childSize = size;
    }
}

// Inserts entry at the empty link where its name belongs, recording the way.
template <typename Entry> void insertEntry(NameTable* table, Entry* entry) {
    Entry** path[kPathLimit];
    int depth = 0;
    Entry** link = reinterpret_cast<Entry**>(&table->root);
    for (;;) {
        if (depth < kPathLimit) path[depth] = link;
        ++depth;
        if (*link == nullptr) break;
        link = std::strcmp(entry->name, (*link)->name) < 0 ? &(*link)->left : &(*link)->right;
    }
    *link = entry;
    rebalanceAfterInsert(path, depth);
}

template <typename Entry> Entry* findEntry(NameTable* table, const char* name) {
    return *findLink<Entry>(table, name);
}

// Releases every entry without recursion: rotating each left subtree up turns
// the tree into a right-leaning list that is freed as it is walked, so a
// table built from names in ascending order needs no stack at all.
template <typename Entry> void freeEntries(Entry* entry) {
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

template <typename Entry> int32_t freeTable(NameTable* table) {
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

extern "C" int32_t exprFreeVarTable(NameTable* table) {
    return freeTable<VarEntry>(table);
}
extern "C" int32_t exprFreeFunctionTable(NameTable* table) {
    return freeTable<FuncEntry>(table);
}

extern "C" int32_t exprSetVariable(NameTable* table, const char* name, double value) {
    if (table == nullptr || name == nullptr) return EXPR_ERR_ARGUMENT;
    VarEntry** link = findLink<VarEntry>(table, name);
    if (*link != nullptr) {
        (*link)->value = value;
        return EXPR_OK;
    }
    VarEntry* entry = exprNewVarEntry(name, value);
    if (entry == nullptr) return EXPR_ERR_MEMORY;
    insertEntry(table, entry);
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
        fillFunction(*link, function, minArgs, maxArgs, minRefs, maxRefs);
        return EXPR_OK;
    }
    FuncEntry* entry = exprNewFuncEntry(function, name, minArgs, maxArgs, minRefs, maxRefs);
    if (entry == nullptr) return EXPR_ERR_MEMORY;
    insertEntry(table, entry);
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
