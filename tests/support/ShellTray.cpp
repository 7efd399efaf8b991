#include "support/ShellTray.h"

#include <gtest/gtest.h>

std::optional<ShellTrayIcon> ProductTrayIcon(const std::string& productName) {
    std::optional<ShellTrayIcon> found;
    for (const ShellTrayIcon& icon : ShellTrayIcons()) {
        if (icon.tip.rfind(productName + " is ", 0) != 0) continue;
        EXPECT_FALSE(found) << "the shell shows two icons of " << productName;
        found = icon;
    }
    return found;
}

std::string ProductTrayTip(const std::string& productName) {
    std::optional<ShellTrayIcon> icon = ProductTrayIcon(productName);
    return icon ? icon->tip : std::string();
}
