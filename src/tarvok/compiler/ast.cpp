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

TextId Texts::intern(std::string_view text) {
    auto it = index_.find(text);
    if (it != index_.end()) return it->second;
    store_.emplace_back(text);
    TextId id = static_cast<TextId>(store_.size() - 1);
    index_.emplace(store_.back(), id);
    return id;
}

std::optional<TextId> Texts::find(std::string_view text) const {
    auto it = index_.find(text);
    if (it == index_.end()) return std::nullopt;
    return it->second;
}

}  // namespace tarvok::compiler
