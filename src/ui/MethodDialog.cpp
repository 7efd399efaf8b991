#include "ui/MethodDialog.h"

#include "base/Conversions.h"
#include "base/MessageBox.h"
#include "base/Owners.h"
#include "config/ParamTypeTable.h"
#include "host/HostIdentity.h"
#include "resource.h"

namespace {
constexpr int kTextLimit = 50;

// A parameter's value edit and type list beside the pending values they show.
struct Parameter {
    int valueId;
    int typeId;
    std::wstring ApplicationMethod::*value;
    std::wstring ApplicationMethod::*type;
};
constexpr Parameter kParameters[] = {
    {IDC_PARAM1, IDC_PARAM1_TYPE, kMethodParameters[0].value, kMethodParameters[0].type},
    {IDC_PARAM2, IDC_PARAM2_TYPE, kMethodParameters[1].value, kMethodParameters[1].type},
    {IDC_PARAM3, IDC_PARAM3_TYPE, kMethodParameters[2].value, kMethodParameters[2].type},
    {IDC_PARAM4, IDC_PARAM4_TYPE, kMethodParameters[3].value, kMethodParameters[3].type},
};

const HelpContexts& MethodHelp() {
    static const HelpContexts contexts(
        IDD_METHOD, {{IDOK}, {IDCANCEL}, {IDC_METHOD_NAME, IDC_METHOD_NAME_LABEL}, {IDC_RETURNS, IDC_RETURNS_LABEL},
                     {IDC_PARAM1, IDC_PARAM1_LABEL}, {IDC_PARAM1_TYPE, IDC_PARAM1_TYPE_LABEL},
                     {IDC_PARAM2, IDC_PARAM2_LABEL}, {IDC_PARAM2_TYPE, IDC_PARAM2_TYPE_LABEL},
                     {IDC_PARAM3, IDC_PARAM3_LABEL}, {IDC_PARAM3_TYPE, IDC_PARAM3_TYPE_LABEL},
                     {IDC_PARAM4, IDC_PARAM4_LABEL}, {IDC_PARAM4_TYPE, IDC_PARAM4_TYPE_LABEL}});
    return contexts;
}

}  // namespace

MethodDialog::MethodDialog(const HostIdentity& host, ApplicationMethod& pending)
    : Dialog(host.instance, IDD_METHOD), host_(host), pending_(pending) {}

std::span<const MethodDialog::Entry> MethodDialog::MessageTable() {
    static const Entry table[] = {
        {WM_INITDIALOG, kAny, kAny, &MethodDialog::OnInitDialog},
        {WM_COMMAND, IDOK, kAny, &MethodDialog::OnOk},
        {WM_COMMAND, IDCANCEL, kAny, &MethodDialog::OnCancel},
        {WM_HELP, kAny, kAny, &MethodDialog::OnHelp},
        {WM_CONTEXTMENU, kAny, kAny, &MethodDialog::OnContextMenu},
    };
    return table;
}

bool MethodDialog::OnInitDialog(WindowMessage& message) {
    for (const char* entry : {"Variant", "None"})
        SendDlgItemMessageA(Window(), IDC_RETURNS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    for (const Parameter& parameter : kParameters)
        SendDlgItemMessageA(Window(), parameter.typeId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Variant"));

    SendDlgItemMessageA(Window(), IDC_METHOD_NAME, EM_LIMITTEXT, kTextLimit, 0);
    for (const Parameter& parameter : kParameters)
        SendDlgItemMessageA(Window(), parameter.valueId, EM_LIMITTEXT, kTextLimit, 0);

    SetItemText(IDC_METHOD_NAME, ToAnsi(pending_.methodName.c_str()));
    SelectType(IDC_RETURNS, pending_.methodReturnType);
    for (const Parameter& parameter : kParameters) {
        SetItemText(parameter.valueId, ToAnsi((pending_.*parameter.value).c_str()));
        SelectType(parameter.typeId, pending_.*parameter.type);
    }
    SetFocus(Item(IDC_METHOD_NAME));
    message.result = FALSE;  // the focus is set
    return true;
}

void MethodDialog::OnOk() {
    // The values shown are taken before they are checked: a refused OK keeps them pending,
    // and so does a Cancel after it.
    pending_.methodName = ToWide(ItemText(IDC_METHOD_NAME));
    for (const Parameter& parameter : kParameters) pending_.*parameter.value = ToWide(ItemText(parameter.valueId));
    pending_.methodReturnType = SelectedType(IDC_RETURNS);
    for (const Parameter& parameter : kParameters) pending_.*parameter.type = SelectedType(parameter.typeId);

    for (const Parameter& parameter : kParameters) {
        if (!(pending_.*parameter.value).empty() && (pending_.*parameter.type).empty()) {
            ShowMessageBox(Window(), "Please choose parameter data type.", host_.serviceName, MB_ICONWARNING);
            SetFocus(Item(parameter.typeId));
            return;
        }
    }
    End(IDOK);
}

void MethodDialog::OnCancel() {
    End(IDCANCEL);
}

bool MethodDialog::OnHelp(WindowMessage& message) {
    return MethodHelp().ShowControlHelp(host_.helpFileName, message.lParam);
}

void MethodDialog::OnContextMenu() {
    MethodHelp().ShowContextHelp(host_.helpFileName, Window());
}

void MethodDialog::SelectType(int listId, const std::wstring& storedName) const {
    Bstr displayName(ToDisplayTypeName(storedName.c_str()));
    const std::string shown = ToAnsi(displayName.get());
    // A case-insensitive match of an entry's beginning, as the list finds it; none selects none.
    const LRESULT index = SendDlgItemMessageA(Window(), listId, CB_FINDSTRING, static_cast<WPARAM>(-1),
                                              reinterpret_cast<LPARAM>(shown.c_str()));
    SendDlgItemMessageA(Window(), listId, CB_SETCURSEL, index == CB_ERR ? static_cast<WPARAM>(-1) : index, 0);
}

std::wstring MethodDialog::SelectedType(int listId) const {
    Bstr storedName(ToVariantTypeName(ToWide(SelectedText(listId)).c_str()));
    return storedName.get() ? storedName.get() : L"";
}
