// Every entry of an engine name table (VarEntry or FuncEntry), in name
// order. The table is an unbalanced search tree, as deep as it has entries
// at worst (names inserted in order make it a list), so the walk keeps its
// own stack rather than recursing.
#pragma once

#include <vector>

#include "expr.h"

namespace quorvel::tools {

template <class Entry, class Visit> void forEachEntry(const NameTable* table, Visit visit) {
    std::vector<const Entry*> pending;
    const Entry* entry = table ? static_cast<const Entry*>(table->root) : nullptr;
    while (entry || !pending.empty()) {
        for (; entry; entry = entry->left) pending.push_back(entry);
        entry = pending.back();
        pending.pop_back();
        visit(*entry);
        entry = entry->right;
    }
}

}  // namespace quorvel::tools
