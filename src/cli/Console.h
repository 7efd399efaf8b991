// What corvane.com prints: UTF-8 text from the program, written as Unicode to a console and as
// UTF-8 bytes when the stream is redirected to a file or a pipe.
#pragma once
#include <string>
#include <string_view>

void WriteOut(std::string_view utf8);
void WriteErr(std::string_view utf8);

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);
