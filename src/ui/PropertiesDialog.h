// The Properties dialog: the five service settings as check boxes, read from and written back
// to the Parameters key. Opened modally from the tray menu and by "-Configure".
#pragma once
#include "ui/DialogHost.h"

#include <span>
#include <string>

class TrayIcon;

class PropertiesDialog : public Dialog<PropertiesDialog> {
public:
    // parametersKeyPath: the key below HKEY_LOCAL_MACHINE that holds the settings. tray: the
    // icon of this process, removed when the dialog is saved with its tray box unchecked (none
    // in a process that shows no icon).
    PropertiesDialog(HINSTANCE module, std::string parametersKeyPath, std::string productName,
                     std::string helpFile, TrayIcon* tray);

    static std::span<const Entry> MessageTable();

private:
    bool OnInitDialog(WindowMessage& message);
    bool OnOk(WindowMessage& message);
    bool OnCancel(WindowMessage& message);
    bool OnHelp(WindowMessage& message);
    bool OnContextMenu(WindowMessage& message);

    std::string parametersKeyPath_;
    std::string productName_;
    std::string helpFile_;
    TrayIcon* tray_;
};
