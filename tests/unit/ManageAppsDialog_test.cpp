// The Manage Applications dialog, shown and driven with window messages as a person would,
// with the Method dialog driven from a second thread: what it stores, what it refuses, and
// how the form follows what is typed and chosen.
#include "ui/ManageAppsDialog.h"
#include "base/RegistryKey.h"
#include "config/ServiceKeys.h"
#include "config/ServiceSettings.h"
#include "host/ServiceHost.h"
#include "resource.h"
#include "support/DialogDriver.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

using Values = std::map<std::string, std::string>;
// The fields in the order of the form, for snapshots of what it shows.
constexpr int kFields[] = {IDC_NAME, IDC_INSTANCES, IDC_PATH, IDC_START_IN, IDC_WINDOW, IDC_ARGUMENTS, IDC_PROGID};
// The controls whose enabling follows what the form holds.
constexpr int kSwitched[] = {IDC_PATH, IDC_OPEN, IDC_START_IN, IDC_WINDOW, IDC_ARGUMENTS, IDC_PROGID, IDC_METHOD};

class ManageAppsDialogTest : public testing::Test {
protected:
    void SetUp() override {
        TearDown();
        program = BuildPath("sleeper.exe");
    }
    void TearDown() override {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, TestKeys().modules);
        PrepareServiceKeys(TestKeys());
    }

    // Opens the dialog as the tray does: created hidden, then shown.
    HWND Open() {
        dialog = std::make_unique<ManageAppsDialog>(Host());
        HWND window = dialog->Create(nullptr);
        EXPECT_NE(window, nullptr);
        ShowWindow(window, SW_SHOWNORMAL);
        return window;
    }

    static std::string Key(const std::string& name) { return TestKeys().Application(name); }
    static void Store(const std::string& name, const Values& values) {
        for (const auto& [value, text] : values) {
            if (value == "Attrib" || value == "Instances")
                WriteDword(HKEY_LOCAL_MACHINE, Key(name), value.c_str(), std::stoul(text));
            else
                WriteString(HKEY_LOCAL_MACHINE, Key(name), value.c_str(), text);
        }
    }
    // Every value of an application's subkey, numbers in decimal.
    static Values Stored(const std::string& name) {
        Values values;
        RegistryKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, Key(name).c_str(), KEY_READ) != ERROR_SUCCESS) return values;
        char valueName[256];
        BYTE data[1024];
        for (DWORD index = 0;; ++index) {
            DWORD nameSize = sizeof valueName, size = sizeof data, type = 0;
            if (RegEnumValueA(key.get(), index, valueName, &nameSize, nullptr, &type, data, &size) != ERROR_SUCCESS)
                break;
            values[valueName] = type == REG_DWORD ? std::to_string(*reinterpret_cast<DWORD*>(data))
                                                  : std::string(reinterpret_cast<char*>(data));
        }
        return values;
    }
    static std::vector<std::string> Shown(HWND window) {
        std::vector<std::string> texts;
        for (int id : kFields) texts.push_back(ItemText(window, id));
        return texts;
    }
    static std::string Enabling(HWND window) {
        std::string states;
        for (int id : kSwitched) states += IsEnabled(window, id) ? '1' : '0';
        return states;
    }
    void Fill(HWND window, const std::string& name, const std::string& path, const std::string& progId,
              const std::string& instances = "1") {
        SetItemText(window, IDC_NAME, name);
        SetItemText(window, IDC_PATH, path);
        SetItemText(window, IDC_PROGID, progId);
        SetItemText(window, IDC_INSTANCES, instances);
    }

    std::unique_ptr<ManageAppsDialog> dialog;
    std::string program;  // a file that exists
};

// --- Storing ---------------------------------------------------------------------------------

TEST_F(ManageAppsDialogTest, AddsAStandardAndAnActiveXApplicationAsTheCatalogueStoresThem) {
    BoxAnswers answers;
    HWND window = Open();
    Fill(window, "Editor", program, "", "2");
    // Browse shows the system's file dialog; cancelled, it leaves the path as it was.
    bool browsed = false;
    {
        WhenShown fileDialog("Corvane - Open", [&](HWND open) {
            browsed = open != nullptr;
            PostMessageA(open, WM_COMMAND, IDCANCEL, 0);
        });
        Click(window, IDC_OPEN);
    }
    EXPECT_TRUE(browsed);
    EXPECT_EQ(ItemText(window, IDC_PATH), program);
    SetItemText(window, IDC_START_IN, "C:\\");
    SetItemText(window, IDC_ARGUMENTS, "-q");
    Choose(window, IDC_WINDOW, "Maximized");
    Click(window, IDC_SAVE);
    EXPECT_EQ(Stored("Editor"), (Values{{"DispName", "Editor"}, {"ExePath", program}, {"StartDir", "C:\\"},
                                        {"Attrib", "3"}, {"Instances", "2"}, {"ProgId", ""}, {"CmdLineArgs", "-q"}}));
    EXPECT_EQ(Shown(window), (std::vector<std::string>{"", "1", "", "", "Normal", "", ""})) << "a blank form";
    EXPECT_EQ(Entries(window, IDC_NAME).size(), 2u) << "the new name and {New}";

    Fill(window, "Shell", "", "WScript.Shell");
    {
        WhenShown methodDialog("Corvane - Method", [](HWND method) {
            SetItemText(method, IDC_METHOD_NAME, "Run");
            SetItemText(method, IDC_PARAM1, "cmd /c exit");
            Choose(method, IDC_PARAM1_TYPE, "Variant");
            PostMessageA(method, WM_COMMAND, IDOK, 0);
        });
        Click(window, IDC_METHOD);
    }
    Click(window, IDC_SAVE);
    EXPECT_TRUE(answers.boxes.empty()) << answers.boxes[0].text;
    EXPECT_EQ(Stored("Shell"),
              (Values{{"DispName", "Shell"}, {"ExePath", ""}, {"StartDir", ""}, {"Attrib", "0"}, {"Instances", "1"},
                      {"ProgId", "WScript.Shell"}, {"CmdLineArgs", ""}, {"MethodName", "Run"},
                      {"MethodReturnType", ""}, {"ParamOne", "cmd /c exit"}, {"ParamOneType", "VT_VARIANT"},
                      {"ParamTwo", ""}, {"ParamTwoType", ""}, {"ParamThree", ""}, {"ParamThreeType", ""},
                      {"ParamFour", ""}, {"ParamFourType", ""}}));
}

TEST_F(ManageAppsDialogTest, EachCheckShowsItsMessageKeepsTheFormAndFocusesTheFieldToCorrect) {
    const std::string instancesQuestion =
        "WARNING: You have specified an unusually large number of instances.\nThis can consume a large "
        "proportion of your computer's resources and\nmay lead to slow performance.\n\nAre you sure you want to "
        "save this application?";
    const std::string progIdQuestion =
        "WARNING: The ActiveX Prog ID you specified is either invalid\nor currently not registered on this "
        "machine.\n\nAre you sure you want to save this application?";
    const std::string pathQuestion =
        "WARNING: The path you specified is either invalid\nor points to a file that does not exist.\n\nAre you "
        "sure you want to save this application?";
    const std::string noFile = "Z:\\no\\such\\program.exe";
    constexpr UINT kWarning = MB_ICONWARNING, kQuestion = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
    struct Case {
        const char* name;
        std::string path, progId, instances;
        bool withMethod;  // the method values of a stored ActiveX application are pending
        int button, answer;
        std::string message;  // "" when no box appears
        UINT style;
        int focus;  // after a refusal
    } cases[] = {
        {"", "", "", "1", false, IDC_SAVE, IDOK, "Please provide application display name.", kWarning, IDC_NAME},
        {"{New}", "", "", "1", false, IDC_SAVE, IDOK, "Application display name cannot be {New}.", kWarning, IDC_NAME},
        {"{new}", program, "", "1", false, IDC_SAVE, IDOK, "", 0, 0},  // letter case makes it a name
        {"A", "", "", "1", false, IDC_SAVE, IDOK, "Please provide a valid path or ActiveX prog id.", kWarning, IDC_PATH},
        {"A", program, "", "0", false, IDC_SAVE, IDOK, "Please provide number of instances greater than zero.",
         kWarning, IDC_INSTANCES},
        {"A", program, "", "", false, IDC_SAVE, IDOK, "Please provide number of instances greater than zero.",
         kWarning, IDC_INSTANCES},
        {"A", program, "", "10", false, IDC_SAVE, IDOK, "", 0, 0},
        {"A", program, "", "11", false, IDC_SAVE, IDNO, instancesQuestion, kQuestion, IDC_INSTANCES},
        {"A", program, "", "999", false, IDC_SAVE, IDYES, instancesQuestion, kQuestion, 0},
        {"A", "", "WScript.Shell", "1", false, IDC_SAVE, IDOK,
         "Please provide a method name and any argument values for your ActiveX server.", kWarning, IDC_METHOD},
        {"A", "", "No.Such.ProgId", "1", true, IDC_SAVE, IDNO, progIdQuestion, kQuestion, IDC_PROGID},
        {"A", "", "No.Such.ProgId", "1", true, IDC_SAVE, IDYES, progIdQuestion, kQuestion, 0},
        {"A", noFile, "", "1", false, IDC_SAVE, IDNO, pathQuestion, kQuestion, IDC_PATH},
        {"A", noFile, "", "1", false, IDC_SAVE, IDYES, pathQuestion, kQuestion, 0},
        {"", "", "WScript.Shell", "1", false, IDC_METHOD, IDOK, "Please provide application display name.", kWarning,
         IDC_NAME},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("name \"") + c.name + "\" path \"" + c.path + "\" progid \"" + c.progId +
                     "\" instances \"" + c.instances + "\" answer " + std::to_string(c.answer));
        TearDown();
        Store("Stored", {{"ProgId", "WScript.Shell"}, {"MethodName", "Run"}, {"Instances", "1"}});
        HWND window = Open();
        if (c.withMethod) Choose(window, IDC_NAME, "Stored");
        Fill(window, c.name, c.path, c.progId, c.instances);
        const std::vector<std::string> before = Shown(window);
        BoxAnswers answers(c.answer);
        Click(window, c.button);

        ASSERT_EQ(answers.boxes.size(), c.message.empty() ? 0u : 1u);
        if (!c.message.empty()) {
            EXPECT_EQ(answers.boxes[0].text, c.message);
            EXPECT_EQ(answers.boxes[0].style, c.style);
            EXPECT_EQ(answers.boxes[0].owner, window);
            EXPECT_EQ(answers.boxes[0].caption, Host().Identity().serviceName);
        }
        const bool saved = c.button == IDC_SAVE && c.focus == 0;
        EXPECT_EQ(CountApplications(TestKeys()), saved ? 2u : 1u) << "beside the stored one";
        if (saved) {
            EXPECT_EQ(Stored(c.name)["Instances"], c.instances);
            continue;
        }
        EXPECT_EQ(Shown(window), before) << "the form is untouched";
        EXPECT_EQ(FocusedItem(window), c.focus);
        if (c.answer == IDNO) {
            DWORD start = 1, end = 0;
            SendDlgItemMessageA(window, c.focus, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                                reinterpret_cast<LPARAM>(&end));
            EXPECT_EQ(start, 0u);
            EXPECT_EQ(end, ItemText(window, c.focus).size()) << "the field's text is selected";
        }
    }
}

TEST_F(ManageAppsDialogTest, AStoredActiveXApplicationSavedAgainKeepsItsMethodAndLosesAStrayPath) {
    // Written through the catalogue's own interface, this one holds both a path and a ProgID.
    const Values method{{"MethodName", "Run"}, {"MethodReturnType", "VT_VARIANT"}, {"ParamOne", "a"},
                        {"ParamOneType", "VT_VARIANT"}, {"ParamTwo", ""}, {"ParamTwoType", ""},
                        {"ParamThree", ""}, {"ParamThreeType", ""}, {"ParamFour", "d"}, {"ParamFourType", "VT_BSTR"}};
    Values stored = method;
    stored.insert({{"ExePath", program}, {"ProgId", "WScript.Shell"}, {"Instances", "2"}, {"Attrib", "3"}});
    Store("Both", stored);
    BoxAnswers answers;
    HWND window = Open();
    Choose(window, IDC_NAME, "Both");
    EXPECT_FALSE(dialog->FormIsBlank());
    EXPECT_EQ(Enabling(window), "0000001") << "Path and Prog ID both disabled, Method enabled";
    Click(window, IDC_SAVE);
    EXPECT_TRUE(answers.boxes.empty());
    Values saved = Stored("Both");
    EXPECT_EQ(saved["ExePath"], "");
    EXPECT_EQ(saved["Instances"], "2");
    for (const auto& [value, text] : method) EXPECT_EQ(saved[value], text) << value;
}

// --- The form --------------------------------------------------------------------------------

TEST_F(ManageAppsDialogTest, ProgIdTextSwitchesToAnActiveXFormAndPathTextLocksTheProgId) {
    struct Case {
        int field;
        const char* text;
        const char* enabling;  // Path, Open, Start in, Window, Arguments, Prog ID, Method
    } cases[] = {
        {IDC_PROGID, "WScript.Shell", "0000011"},
        {IDC_PROGID, "", "1111110"},
        {IDC_PATH, "C:\\x.exe", "1111100"},
        {IDC_PATH, "", "1111110"},
    };
    HWND window = Open();
    EXPECT_EQ(Enabling(window), "1111110");
    for (const Case& c : cases) {
        SetItemText(window, c.field, c.text);
        EXPECT_EQ(Enabling(window), c.enabling) << c.field << " \"" << c.text << "\"";
    }
}

TEST_F(ManageAppsDialogTest, TheNameListNewEntryAndRemove) {
    BoxAnswers answers;
    HWND window = Open();
    EXPECT_TRUE(Entries(window, IDC_NAME).empty()) << "no application: not even {New}";
    EXPECT_FALSE(IsEnabled(window, IDC_REMOVE));

    Store("Beta", {{"ExePath", program}, {"Instances", "4"}, {"Attrib", "9"}});
    Store("alpha", {{"ExePath", program}});
    window = Open();
    std::vector<std::string> names = Entries(window, IDC_NAME);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Beta", "alpha", "{New}"}));
    EXPECT_TRUE(IsEnabled(window, IDC_REMOVE));

    Choose(window, IDC_NAME, "Beta");
    EXPECT_EQ(Shown(window), (std::vector<std::string>{"Beta", "4", program, "", "Normal", "", ""}))
        << "Attrib 9 shows as Normal";
    Choose(window, IDC_NAME, "{New}");  // showing an application: the form is reset
    EXPECT_TRUE(dialog->FormIsBlank());
    EXPECT_EQ(Shown(window), (std::vector<std::string>{"", "1", "", "", "Normal", "", ""}));
    Choose(window, IDC_NAME, "{New}");  // a blank form only loses the word
    EXPECT_FALSE(dialog->FormIsBlank());
    EXPECT_EQ(ItemText(window, IDC_NAME), "");
    Choose(window, IDC_NAME, "{New}");
    EXPECT_TRUE(dialog->FormIsBlank());

    SetItemText(window, IDC_NAME, "Beta");  // typed, not chosen
    Click(window, IDC_REMOVE);
    SendDlgItemMessageA(window, IDC_NAME, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("{New}"));
    Click(window, IDC_REMOVE);
    ASSERT_EQ(answers.boxes.size(), 2u);
    EXPECT_EQ(answers.boxes[0].text, "Please select an application to remove.");
    EXPECT_EQ(answers.boxes[1].text, "Could not remove application.");
    EXPECT_EQ(answers.boxes[1].style, static_cast<UINT>(MB_ICONWARNING));

    Choose(window, IDC_NAME, "Beta");
    Click(window, IDC_REMOVE);
    EXPECT_EQ(answers.boxes.size(), 2u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Key("Beta")));
    EXPECT_EQ(Entries(window, IDC_NAME).size(), 2u) << "alpha and {New}";
}

TEST_F(ManageAppsDialogTest, CancelAndTheCloseBoxHideTheDialogAndDiscardTheForm) {
    Store("Shell", {{"ProgId", "WScript.Shell"}, {"MethodName", "Run"}, {"ParamOne", "a"}});
    for (auto close : {+[](HWND w) { Click(w, IDCANCEL); },
                       +[](HWND w) { SendMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0); }}) {
        HWND window = Open();
        Choose(window, IDC_NAME, "Shell");
        ASSERT_EQ(dialog->Pending().methodName, L"Run");
        close(window);
        EXPECT_TRUE(IsWindow(window));
        EXPECT_FALSE(IsWindowVisible(window));
        EXPECT_TRUE(dialog->FormIsBlank());
        EXPECT_EQ(dialog->Pending().methodName + dialog->Pending().paramOne, L"");
        EXPECT_EQ(Shown(window), (std::vector<std::string>{"", "1", "", "", "Normal", "", ""}));
    }
}

}  // namespace
