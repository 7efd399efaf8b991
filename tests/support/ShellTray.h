// The product's icon as the shell's notification area shows it (tools/ShellTrayReader.h reads
// the shell's windows). Nothing here asks the program that added the icon.
#pragma once
#include "ShellTrayReader.h"

#include <optional>
#include <string>

// The one icon whose tip begins with the product name and " is "; none when no such icon is
// shown (a second one fails the calling test).
std::optional<ShellTrayIcon> ProductTrayIcon(const std::string& productName);

// The tip of the product's icon, or "" when none is shown.
std::string ProductTrayTip(const std::string& productName);
