#include "ui/PropertiesDialog.h"

#include "base/MessageBox.h"
#include "base/RegistryKey.h"
#include "config/ServiceSettings.h"
#include "resource.h"
#include "ui/TrayIcon.h"

#include <utility>

namespace {

// The boxes in the order in which their settings are read and written.
struct SettingBox {
    int id;
    ServiceSetting setting;
};
constexpr SettingBox kBoxes[] = {
    {IDC_ENABLE_LAUNCH, ServiceSetting::EnableLaunch},
    {IDC_RELAUNCH_ON_CONTINUE, ServiceSetting::RelaunchOnContinue},
    {IDC_ENABLE_TRAY_ICON, ServiceSetting::EnableTrayIcon},
    {IDC_TERMINATE_ON_PAUSE, ServiceSetting::TerminateOnPause},
    {IDC_TERMINATE_ON_STOP, ServiceSetting::TerminateOnStop},
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

PropertiesDialog::PropertiesDialog(HINSTANCE module, ServiceKeys keys, std::string productName, std::string helpFile,
                                   TrayIcon* tray)
    : Dialog(module, IDD_PROPERTIES), keys_(std::move(keys)), productName_(std::move(productName)),
      helpFile_(std::move(helpFile)), tray_(tray) {}

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
    // Each box shows what the service does with the stored value, by the rules the service reads
    // it with: a value of the wrong type or size counts as missing, and so takes its default.
    for (const SettingBox& box : kBoxes)
        SendMessageA(Item(box.id), BM_SETCHECK, IsSettingOn(keys_, box.setting) ? BST_CHECKED : BST_UNCHECKED, 0);
    message.result = TRUE;  // the system sets the focus
    return true;
}

bool PropertiesDialog::OnOk(WindowMessage&) {
    RegistryKey parameters;
    if (parameters.Open(HKEY_LOCAL_MACHINE, keys_.parameters.c_str(), KEY_WRITE) != ERROR_SUCCESS) {
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
