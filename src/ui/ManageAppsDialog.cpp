#include "ui/ManageAppsDialog.h"

#include "base/Conversions.h"
#include "base/MessageBox.h"
#include "base/Owners.h"
#include "base/SystemLibrary.h"
#include "config/AppCatalog.h"
#include "config/ServiceKeys.h"
#include "host/UserInterface.h"
#include "resource.h"
#include "ui/MethodDialog.h"

#include <commdlg.h>
#include <oleauto.h>
#include <wrl/client.h>

namespace {
// The list entry that makes the form blank for a new application; never a name.
constexpr const char* kNewEntry = kNewApplicationEntry;

// What the form says of each problem of the record it saves: the text, the field to correct
// and, for a question, the characters of the field selected when the answer is No.
struct ProblemMessage {
    ApplicationProblem problem;
    const char* text;
    int fieldId;
    int selectionEnd;
};
constexpr ProblemMessage kProblemMessages[] = {
    {ApplicationProblem::NoName, "Please provide application display name.", IDC_NAME, 0},
    {ApplicationProblem::ReservedName, "Application display name cannot be {New}.", IDC_NAME, 0},
    {ApplicationProblem::NoPathOrProgId, "Please provide a valid path or ActiveX prog id.", IDC_PATH, 0},
    {ApplicationProblem::NoInstances, "Please provide number of instances greater than zero.", IDC_INSTANCES, 0},
    {ApplicationProblem::ManyInstances,
     "WARNING: You have specified an unusually large number of instances.\n"
     "This can consume a large proportion of your computer's resources and\n"
     "may lead to slow performance.\n\n"
     "Are you sure you want to save this application?",
     IDC_INSTANCES, 3},
    {ApplicationProblem::NoMethod, "Please provide a method name and any argument values for your ActiveX server.",
     IDC_METHOD, 0},
    {ApplicationProblem::UnregisteredProgId,
     "WARNING: The ActiveX Prog ID you specified is either invalid\n"
     "or currently not registered on this machine.\n\n"
     "Are you sure you want to save this application?",
     IDC_PROGID, 260},
    {ApplicationProblem::UnopenablePath,
     "WARNING: The path you specified is either invalid\n"
     "or points to a file that does not exist.\n\n"
     "Are you sure you want to save this application?",
     IDC_PATH, 260},
    // The form does not hold the list; a stored one that is not valid is named so.
    {ApplicationProblem::BadExitCodes, "SuccessExitCodes is not a comma-separated list of numbers.", IDC_NAME, 0},
};

const ProblemMessage& MessageFor(ApplicationProblem problem) {
    for (const ProblemMessage& message : kProblemMessages)
        if (message.problem == problem) return message;
    return kProblemMessages[0];  // every problem has its row
}

// The Window list's entries, in the order they are added, with the show value stored for each.
struct WindowEntry {
    const char* text;
    LONG attrib;
};
constexpr WindowEntry kWindowEntries[] = {
    {"Normal", SW_SHOWNORMAL}, {"Hidden", SW_HIDE}, {"Minimized", SW_SHOWMINIMIZED}, {"Maximized", SW_SHOWMAXIMIZED}};
constexpr LONG kDefaultAttrib = SW_SHOWNORMAL;

// Text limits, in characters.
struct TextLimit {
    int id;
    UINT message;
    WPARAM limit;
};
constexpr TextLimit kTextLimits[] = {
    {IDC_INSTANCES, EM_LIMITTEXT, 3}, {IDC_NAME, CB_LIMITTEXT, 50},       {IDC_PATH, EM_LIMITTEXT, 250},
    {IDC_START_IN, EM_LIMITTEXT, 250}, {IDC_ARGUMENTS, EM_LIMITTEXT, 50}, {IDC_PROGID, EM_LIMITTEXT, 100},
};

// The fields of a standard application; an ActiveX application has the Prog ID and Method.
constexpr int kStandardFields[] = {IDC_PATH, IDC_OPEN, IDC_START_IN, IDC_WINDOW, IDC_ARGUMENTS};

const HelpContexts& ManageAppsHelp() {
    static const HelpContexts contexts(
        IDD_MANAGE_APPS, {{IDCANCEL}, {IDC_NAME, IDC_NAME_LABEL}, {IDC_PATH, IDC_PATH_LABEL},
                          {IDC_WINDOW, IDC_WINDOW_LABEL}, {IDC_PROGID, IDC_PROGID_LABEL}, {IDC_REMOVE},
                          {IDC_INSTANCES, IDC_INSTANCES_LABEL}, {IDC_OPEN}, {IDC_ARGUMENTS, IDC_ARGUMENTS_LABEL},
                          {IDC_START_IN, IDC_START_IN_LABEL}, {IDC_METHOD}, {IDC_SAVE}});
    return contexts;
}

}  // namespace

ManageAppsDialog::ManageAppsDialog(UiHost& host)
    : Dialog(host.Identity().instance, IDD_MANAGE_APPS),
      host_(host.Identity()),
      uiHost_(host),
      openBitmap_(LoadBitmapA(host.Identity().instance, MAKEINTRESOURCEA(IDB_OPEN_FOLDER))) {}

// The window goes before the bitmap that its Open button shows.
ManageAppsDialog::~ManageAppsDialog() {
    if (Window()) DestroyWindow(Window());
}

std::span<const ManageAppsDialog::Entry> ManageAppsDialog::MessageTable() {
    static const Entry table[] = {
        {WM_INITDIALOG, kAny, kAny, &ManageAppsDialog::OnInitDialog},
        {WM_COMMAND, IDC_SAVE, kAny, &ManageAppsDialog::SaveApplication},
        {WM_COMMAND, IDC_REMOVE, kAny, &ManageAppsDialog::RemoveApplication},
        {WM_COMMAND, IDCANCEL, kAny, &ManageAppsDialog::HideAndReset},
        {WM_COMMAND, IDC_NAME, CBN_SELCHANGE, &ManageAppsDialog::OnNameSelected},
        {WM_COMMAND, IDC_PATH, EN_CHANGE, &ManageAppsDialog::OnPathChanged},
        {WM_COMMAND, IDC_PROGID, EN_CHANGE, &ManageAppsDialog::OnProgIdChanged},
        {WM_COMMAND, IDC_OPEN, BN_CLICKED, &ManageAppsDialog::BrowseForProgram},
        {WM_COMMAND, IDC_METHOD, BN_CLICKED, &ManageAppsDialog::OpenMethodDialog},
        {WM_SYSCOMMAND, SC_CLOSE, kAny, &ManageAppsDialog::HideAndReset},
        {WM_CLOSE, kAny, kAny, &ManageAppsDialog::OnClose},
        {WM_HELP, kAny, kAny, &ManageAppsDialog::OnHelp},
        {WM_CONTEXTMENU, kAny, kAny, &ManageAppsDialog::OnContextMenu},
    };
    return table;
}

bool ManageAppsDialog::OnInitDialog(WindowMessage& message) {
    for (const WindowEntry& entry : kWindowEntries) {
        const LRESULT index = SendDlgItemMessageA(Window(), IDC_WINDOW, CB_ADDSTRING, 0,
                                                  reinterpret_cast<LPARAM>(entry.text));
        SendDlgItemMessageA(Window(), IDC_WINDOW, CB_SETITEMDATA, index, entry.attrib);
    }
    for (const TextLimit& limit : kTextLimits) SendDlgItemMessageA(Window(), limit.id, limit.message, limit.limit, 0);
    ResetForm();
    message.result = FALSE;  // the focus is set
    return true;
}

void ManageAppsDialog::OnNameSelected() {
    const std::string name = SelectedText(IDC_NAME);
    if (name.empty()) return;
    if (name != kNewEntry) return LoadApplication(name);
    if (!formIsBlank_) return ResetForm();
    // A blank form only loses the word; a second "{New}" then resets it.
    formIsBlank_ = false;
    SetItemText(IDC_NAME, "");
}

void ManageAppsDialog::OnPathChanged() {
    Enable(IDC_PROGID, ItemText(IDC_PATH).empty());
    Enable(IDC_METHOD, false);
}

void ManageAppsDialog::OnProgIdChanged() {
    EnableStandardFields(ItemText(IDC_PROGID).empty());
}

void ManageAppsDialog::OnClose() {
    const HWND window = Window();
    DestroyWindow(window);
    uiHost_.UnregisterMainWindow(window);
}

bool ManageAppsDialog::OnHelp(WindowMessage& message) {
    return ManageAppsHelp().ShowControlHelp(host_.helpFileName, message.lParam);
}

void ManageAppsDialog::OnContextMenu() {
    ManageAppsHelp().ShowContextHelp(host_.helpFileName, Window());
}

void ManageAppsDialog::HideAndReset() {
    ShowWindow(Window(), SW_HIDE);
    ResetForm();
}

void ManageAppsDialog::ResetForm() {
    for (int id : {IDC_PATH, IDC_START_IN, IDC_ARGUMENTS, IDC_WINDOW, IDC_PROGID}) Enable(id, true);
    Enable(IDC_METHOD, false);
    SendDlgItemMessageA(Window(), IDC_OPEN, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(openBitmap_.get()));

    SetDlgItemInt(Window(), IDC_INSTANCES, 1, FALSE);
    SelectWindowEntry(kDefaultAttrib);
    // Emptying Path and Prog ID runs their change handlers, which set the enabling.
    for (int id : {IDC_NAME, IDC_PATH, IDC_START_IN, IDC_ARGUMENTS, IDC_PROGID}) SetItemText(id, "");
    pending_ = ApplicationMethod{};
    FillNameList();
    Focus(IDC_NAME);
    formIsBlank_ = true;
}

void ManageAppsDialog::FillNameList() {
    SendDlgItemMessageA(Window(), IDC_NAME, CB_RESETCONTENT, 0, 0);
    AppCatalog catalog(host_.keys);
    if (CountApplications(host_.keys) == 0) {
        // Nothing to choose from: not even "{New}".
        Enable(IDC_REMOVE, false);
        Focus(IDC_NAME);
        return;
    }
    Enable(IDC_REMOVE, true);
    // Every stored application is listed, however many; the list sorts the entries itself.
    for (const std::string& name : catalog.ListApplicationNames())
        SendDlgItemMessageA(Window(), IDC_NAME, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SendDlgItemMessageA(Window(), IDC_NAME, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kNewEntry));
    for (int id : {IDC_PATH, IDC_START_IN, IDC_ARGUMENTS, IDC_WINDOW, IDC_PROGID}) Enable(id, true);
    Enable(IDC_METHOD, false);
    Focus(IDC_NAME);
}

void ManageAppsDialog::LoadApplication(const std::string& name) {
    AppCatalog catalog(host_.keys);
    short found = 0;  // not consulted: a name that is gone shows an empty record
    (void)catalog.Find(ToWide(name).c_str(), &found);
    const Application& record = catalog.Record();
    pending_ = record;

    // Path and Prog ID run their change handlers as they are set, in this order.
    SetItemText(IDC_PATH, ToAnsi(record.exePath));
    SetItemText(IDC_ARGUMENTS, ToAnsi(record.cmdLineArgs));
    SetItemText(IDC_START_IN, ToAnsi(record.startDir));
    SetItemText(IDC_PROGID, ToAnsi(record.progId));
    SetDlgItemInt(Window(), IDC_INSTANCES, static_cast<UINT>(record.instances), FALSE);
    SelectWindowEntry(record.attrib);
    formIsBlank_ = false;
}

void ManageAppsDialog::SaveApplication() {
    // The record as the form would store it: an ActiveX application without the standard
    // program's fields, a standard one without the method.
    Application record;
    record.name = ToWide(ItemText(IDC_NAME));
    record.progId = ToWide(ItemText(IDC_PROGID));
    record.instances = static_cast<LONG>(GetDlgItemInt(Window(), IDC_INSTANCES, nullptr, FALSE));  // 0: not a number
    if (record.IsActiveX()) {
        static_cast<ApplicationMethod&>(record) = pending_;
    } else {
        record.exePath = ToWide(ItemText(IDC_PATH));
        record.startDir = ToWide(ItemText(IDC_START_IN));
        record.cmdLineArgs = ToWide(ItemText(IDC_ARGUMENTS));
        record.attrib = SelectedAttrib();
    }
    for (const ApplicationFinding& finding : CheckApplication(record)) {
        const ProblemMessage& message = MessageFor(finding.problem);
        if (!finding.isQuestion) return Warn(message.text, message.fieldId);
        if (!Confirm(message.text, message.fieldId, message.selectionEnd)) return;
    }

    AppCatalog catalog(host_.keys);
    (void)catalog.AddNew();
    catalog.Edit() = std::move(record);
    if (FAILED(catalog.Update())) {
        // The form keeps what was typed, so that nothing is lost; the catalogue says why.
        std::string reason;
        Microsoft::WRL::ComPtr<IErrorInfo> info;
        Bstr description;
        if (GetErrorInfo(0, &info) == S_OK && SUCCEEDED(info->GetDescription(description.out())))
            reason = "\n" + ToAnsi(description.get());
        ShowMessageBox(Window(), "Unable to add application." + reason, host_.serviceName, MB_ICONWARNING);
        return;
    }
    ResetForm();
}

void ManageAppsDialog::RemoveApplication() {
    AppCatalog catalog(host_.keys);
    // A name only typed is no selection.
    if (SendDlgItemMessageA(Window(), IDC_NAME, CB_GETCURSEL, 0, 0) == CB_ERR)
        return Warn("Please select an application to remove.", IDC_NAME);
    short removed = 0;
    (void)catalog.Delete(ToWide(SelectedText(IDC_NAME)).c_str(), &removed);
    if (removed == 1)
        ResetForm();
    else
        ShowMessageBox(Window(), "Could not remove application.", host_.serviceName, MB_ICONWARNING);
}

void ManageAppsDialog::BrowseForProgram() {
    char file[MAX_PATH] = "";
    char title[MAX_PATH] = "";
    OPENFILENAMEA dialog{};
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = Window();
    dialog.lpstrFilter = "Applications (*.EXE;*.COM;*.BAT)\0*.EXE;*.COM;*.BAT\0All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrFileTitle = title;
    dialog.nMaxFileTitle = sizeof title;
    dialog.lpstrTitle = "Corvane - Open";
    dialog.lpstrDefExt = "EXE";
    dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    // The common dialogs are loaded when the first one is asked for.
    static const auto openFileName = SystemFunction<decltype(&GetOpenFileNameA)>("comdlg32.dll", "GetOpenFileNameA");
    if (openFileName && openFileName(&dialog)) SetItemText(IDC_PATH, file);
    Focus(IDC_START_IN);
}

void ManageAppsDialog::OpenMethodDialog() {
    AppCatalog catalog(host_.keys);
    const std::string name = ItemText(IDC_NAME);
    if (name.empty()) return Warn("Please provide application display name.", IDC_NAME);
    // The Method dialog starts from the stored values of this name (none for a new one).
    short found = 0;
    (void)catalog.Find(ToWide(name).c_str(), &found);
    pending_ = catalog.Record();
    MethodDialog dialog(host_, pending_);
    (void)dialog.RunModal(GetActiveWindow());  // OK and Cancel alike leave their values pending
    Focus(IDC_PROGID);
}

void ManageAppsDialog::EnableStandardFields(bool enable) {
    for (int id : kStandardFields) Enable(id, enable);
    Enable(IDC_METHOD, !enable);
}

void ManageAppsDialog::Enable(int id, bool enable) const {
    EnableWindow(Item(id), enable);
}

void ManageAppsDialog::Focus(int id) const {
    SetFocus(Item(id));
}

void ManageAppsDialog::SelectWindowEntry(LONG attrib) const {
    const int count = static_cast<int>(SendDlgItemMessageA(Window(), IDC_WINDOW, CB_GETCOUNT, 0, 0));
    int normal = -1;
    for (int index = 0; index < count; ++index) {
        const LONG value = static_cast<LONG>(SendDlgItemMessageA(Window(), IDC_WINDOW, CB_GETITEMDATA, index, 0));
        if (value == attrib) {
            SendDlgItemMessageA(Window(), IDC_WINDOW, CB_SETCURSEL, index, 0);
            return;
        }
        if (value == kDefaultAttrib) normal = index;
    }
    SendDlgItemMessageA(Window(), IDC_WINDOW, CB_SETCURSEL, normal, 0);  // a value outside the list
}

LONG ManageAppsDialog::SelectedAttrib() const {
    const LRESULT index = SendDlgItemMessageA(Window(), IDC_WINDOW, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return kDefaultAttrib;
    return static_cast<LONG>(SendDlgItemMessageA(Window(), IDC_WINDOW, CB_GETITEMDATA, index, 0));
}

void ManageAppsDialog::Warn(const char* text, int focusId) const {
    ShowMessageBox(Window(), text, host_.serviceName, MB_ICONWARNING);
    Focus(focusId);
}

bool ManageAppsDialog::Confirm(const char* text, int fieldId, int last) const {
    if (ShowMessageBox(Window(), text, host_.serviceName, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
        return true;
    SendDlgItemMessageA(Window(), fieldId, EM_SETSEL, 0, last);
    Focus(fieldId);
    return false;
}
