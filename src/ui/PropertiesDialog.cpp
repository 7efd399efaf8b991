#include "ui/PropertiesDialog.h"

#include "base/MessageBox.h"
#include "base/RegistryKey.h"
#include "config/ServiceSettings.h"
#include "resource.h"
#include "ui/TrayIcon.h"

#include <utility>

namespace {

// The boxes in the order in which their settings are read and written. A box shows checked
// when the stored value is not 0, or, for the two Terminate settings, exactly 1.
struct SettingBox {
    int id;
    ServiceSetting setting;
    bool checkedWhenNotZero;
};
constexpr SettingBox kBoxes[] = {
    {IDC_ENABLE_LAUNCH, ServiceSetting::EnableLaunch, true},
    {IDC_RELAUNCH_ON_CONTINUE, ServiceSetting::RelaunchOnContinue, true},
    {IDC_ENABLE_TRAY_ICON, ServiceSetting::EnableTrayIcon, true},
    {IDC_TERMINATE_ON_PAUSE, ServiceSetting::TerminateOnPause, false},
    {IDC_TERMINATE_ON_STOP, ServiceSetting::TerminateOnStop, false},
};

const HelpContexts& Help() {
    static const HelpContexts contexts(IDD_PROPERTIES, {{IDCANCEL},
                                                        {IDC_ENABLE_LAUNCH},
                                                        {IDC_TERMINATE_ON_STOP},
                                                        {IDC_TERMINATE_ON_PAUSE},
                                                        {IDC_RELAUNCH_ON_CONTINUE},
                                                        {IDC_ENABLE_TRAY_ICON},
                                                        {IDOK}});
    return contexts;
}

}  // namespace

PropertiesDialog::PropertiesDialog(HINSTANCE module, std::string parametersKeyPath, std::string productName,
                                   std::string helpFile, TrayIcon* tray)
    : Dialog(module, IDD_PROPERTIES), parametersKeyPath_(std::move(parametersKeyPath)),
      productName_(std::move(productName)), helpFile_(std::move(helpFile)), tray_(tray) {}

std::span<const PropertiesDialog::Entry> PropertiesDialog::MessageTable() {
    static const Entry table[] = {
        {WM_INITDIALOG, kAny, kAny, &PropertiesDialog::OnInitDialog},
        {WM_COMMAND, IDOK, kAny, &PropertiesDialog::OnOk},
        {WM_COMMAND, IDCANCEL, kAny, &PropertiesDialog::OnCancel},
        {WM_HELP, kAny, kAny, &PropertiesDialog::OnHelp},
        {WM_CONTEXTMENU, kAny, kAny, &PropertiesDialog::OnContextMenu},
    };
    return table;
}

bool PropertiesDialog::OnInitDialog(WindowMessage& message) {
    // A key that cannot be read leaves every box unchecked; a value that cannot be read, its box.
    RegistryKey parameters;
    (void)parameters.Open(HKEY_LOCAL_MACHINE, parametersKeyPath_.c_str(), KEY_READ);
    for (const SettingBox& box : kBoxes) {
        DWORD value = 0;
        DWORD size = sizeof value;
        if (!parameters || RegQueryValueExA(parameters.get(), SettingInfo(box.setting).valueName, nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
            continue;
        const bool checked = box.checkedWhenNotZero ? value != 0 : value == 1;
        SendMessageA(Item(box.id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    message.result = TRUE;  // the system sets the focus
    return true;
}

bool PropertiesDialog::OnOk(WindowMessage&) {
    RegistryKey parameters;
    if (parameters.Open(HKEY_LOCAL_MACHINE, parametersKeyPath_.c_str(), KEY_WRITE) != ERROR_SUCCESS) {
        ShowMessageBox(Window(), "Unable to save properties at this time. Please try later.", productName_,
                       MB_ICONWARNING);
        return true;  // the dialog stays open and nothing is written
    }
    for (const SettingBox& box : kBoxes) {
        const bool checked = SendMessageA(Item(box.id), BM_GETCHECK, 0, 0) == BST_CHECKED;
        // The results of the writes are not examined: the dialog has nothing better to offer.
        (void)SetDwordValue(parameters.get(), SettingInfo(box.setting).valueName, checked ? 1 : 0);
        if (box.setting == ServiceSetting::EnableTrayIcon && !checked && tray_) (void)tray_->RemoveTrayIcon();
    }
    parameters.Close();
    End(IDOK);
    return true;
}

bool PropertiesDialog::OnCancel(WindowMessage& message) {
    End(LOWORD(message.wParam));
    return true;
}

bool PropertiesDialog::OnHelp(WindowMessage& message) {
    return Help().ShowControlHelp(helpFile_, message.lParam);
}

bool PropertiesDialog::OnContextMenu(WindowMessage&) {
    Help().ShowContextHelp(helpFile_, Window());
    return true;
}
