// Splits an expanded registration script into tokens.
#pragma once
#include <windows.h>
#include <cstddef>
#include <string>

// Longest unquoted token (the token buffer holds 4096 bytes with the terminator) and longest
// text of a quoted token.
inline constexpr std::size_t kMaxTokenLength = 4095;
inline constexpr std::size_t kMaxQuotedTokenLength = 4094;

// A token is either quoted - everything up to the next single quote that is not doubled, a
// doubled quote standing for one, the enclosing quotes dropped - or the run of characters up
// to the next white space (space, tab, carriage return, line feed). So "{", "}" and "=" must
// stand apart from their neighbours, and a quote inside an unquoted token is an ordinary
// character. Double-byte characters of the ANSI code page are never split.
class ScriptTokenizer {
public:
    // The text is read up to its first zero byte.
    explicit ScriptTokenizer(const std::string& text);

    void SkipWhiteSpace();
    bool AtEnd() const { return position_ >= text_.size(); }
    // Reads the next token after any white space. DISP_E_EXCEPTION at the end of the text, for
    // a quote that is not closed and for a token longer than its limit.
    [[nodiscard]] HRESULT NextToken(std::string& token);

    std::size_t position() const { return position_; }
    void Seek(std::size_t position) { position_ = position < text_.size() ? position : text_.size(); }

private:
    std::size_t CharacterLength() const;

    std::string text_;
    std::size_t position_ = 0;
};
