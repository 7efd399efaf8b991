// The Properties dialog: the five service settings as check boxes, read from and written back
// to the Parameters key. Opened modally from the tray menu and by "-Configure".
#pragma once
#include "config/ServiceKeys.h"
#include "ui/DialogHost.h"

#include <span>
#include <string>

class TrayIcon;

class PropertiesDialog : public Dialog<PropertiesDialog> {
public:
    // keys: those of the service whose settings are shown (its Parameters key). tray: the
    // icon of this process, removed when the dialog is saved with its tray box unchecked (none
    // in a process that shows no icon).
    PropertiesDialog(HINSTANCE module, ServiceKeys keys, std::string productName, std::string helpFile,
                     TrayIcon* tray);

    static std::span<const Entry> MessageTable();

private:
    bool OnInitDialog(WindowMessage& message);
    bool OnOk(WindowMessage& message);
    bool OnCancel(WindowMessage& message);
    bool OnHelp(WindowMessage& message);
    bool OnContextMenu(WindowMessage& message);

    ServiceKeys keys_;
    std::string productName_;
    std::string helpFile_;
    TrayIcon* tray_;
};
