#include "registrar/ScriptTokenizer.h"

namespace {

bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

ScriptTokenizer::ScriptTokenizer(const std::string& text) : text_(text.substr(0, text.find('\0'))) {}

void ScriptTokenizer::SkipWhiteSpace() {
    while (!AtEnd() && IsWhiteSpace(text_[position_])) ++position_;
}

std::size_t ScriptTokenizer::CharacterLength() const {
    // The text holds no zero byte before its end, so CharNextA never steps past it.
    const char* here = text_.c_str() + position_;
    std::size_t length = static_cast<std::size_t>(CharNextA(here) - here);
    std::size_t left = text_.size() - position_;
    if (length == 0) return 1;
    return length < left ? length : left;
}

HRESULT ScriptTokenizer::NextToken(std::string& token) {
    token.clear();
    SkipWhiteSpace();
    if (AtEnd()) return DISP_E_EXCEPTION;

    if (text_[position_] != '\'') {
        while (!AtEnd() && !IsWhiteSpace(text_[position_])) {
            std::size_t length = CharacterLength();
            token.append(text_, position_, length);
            position_ += length;
            if (token.size() > kMaxTokenLength) return DISP_E_EXCEPTION;
        }
        return S_OK;
    }

    ++position_;
    for (;;) {
        if (AtEnd()) return DISP_E_EXCEPTION;
        if (text_[position_] == '\'') {
            if (position_ + 1 < text_.size() && text_[position_ + 1] == '\'') {
                token += '\'';
                position_ += 2;
            } else {
                ++position_;
                return S_OK;
            }
        } else {
            std::size_t length = CharacterLength();
            token.append(text_, position_, length);
            position_ += length;
        }
        if (token.size() > kMaxQuotedTokenLength) return DISP_E_EXCEPTION;
    }
}
