#include "compiler/ast.hpp"

namespace tarvok::compiler {

const char* op_text(Op op) {
    switch (op) {
    case Op::None: return "";
    case Op::Plus: return "+";
    case Op::Minus: return "-";
    case Op::Times: return "*";
    case Op::Divide: return "/";
    case Op::And: return "&&";
    case Op::Or: return "||";
    case Op::Not: return "!";
    case Op::Eq: return "==";
    case Op::Ne: return "!=";
    case Op::Lt: return "<";
    case Op::Le: return "<=";
    case Op::Gt: return ">";
    case Op::Ge: return ">=";
    case Op::Sum: return "sum";
    case Op::Min: return "min";
    case Op::Max: return "max";
    }
    return "";
}

uint64_t Texts::hash(std::string_view text) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h | (1ull << 63);  // never 0 in the high half
}

size_t Texts::probe(std::string_view text, uint64_t h) const {
    size_t mask = slots_.size() - 1;
    uint64_t tag = h >> 32;
    for (size_t slot = static_cast<size_t>(h) & mask;; slot = (slot + 1) & mask) {
        uint64_t entry = slots_[slot];
        if (entry == 0) return slot;
        if ((entry >> 32) == tag && store_[static_cast<uint32_t>(entry) - 1] == text) return slot;
    }
}

void Texts::grow(size_t capacity) {
    size_t size = 16;
    while (size < capacity * 2) size *= 2;  // at most half full
    if (size <= slots_.size()) return;
    std::vector<uint64_t> old;
    old.swap(slots_);
    slots_.assign(size, 0);
    for (uint64_t entry : old) {
        if (entry == 0) continue;
        std::string_view text = store_[static_cast<uint32_t>(entry) - 1];
        slots_[probe(text, hash(text))] = entry;
    }
}

void Texts::reserve(size_t count) { grow(count); }

TextId Texts::intern(std::string_view text) {
    if ((store_.size() + 1) * 2 > slots_.size()) grow(store_.size() + 1);
    uint64_t h = hash(text);
    size_t slot = probe(text, h);
    if (slots_[slot] != 0) return static_cast<uint32_t>(slots_[slot]) - 1;
    store_.emplace_back(text);
    TextId id = static_cast<TextId>(store_.size() - 1);
    slots_[slot] = (h >> 32 << 32) | (static_cast<uint64_t>(id) + 1);
    return id;
}

std::optional<TextId> Texts::find(std::string_view text) const {
    if (slots_.empty()) return std::nullopt;
    size_t slot = probe(text, hash(text));
    if (slots_[slot] == 0) return std::nullopt;
    return static_cast<uint32_t>(slots_[slot]) - 1;
}

}  // namespace tarvok::compiler
