// The Method dialog, driven with window messages from a second thread while the test thread
// runs it modally: what it shows of the pending values, what OK and Cancel leave pending, and
// its one refusal.
#include "ui/MethodDialog.h"
#include "base/Conversions.h"
#include "host/ServiceHost.h"
#include "resource.h"
#include "support/DialogDriver.h"

#include <gtest/gtest.h>

namespace {

constexpr char kCaption[] = "Corvane - Method";
constexpr int kTypeLists[] = {IDC_PARAM1_TYPE, IDC_PARAM2_TYPE, IDC_PARAM3_TYPE, IDC_PARAM4_TYPE};

INT_PTR RunMethodDialog(ApplicationMethod& pending, std::function<void(HWND)> actions) {
    MethodDialog dialog(Host().Identity(), pending);
    WhenShown driver(kCaption, std::move(actions));
    return dialog.RunModal(nullptr);
}

// The ten values in their order, separated by "|".
std::wstring Joined(const ApplicationMethod& p) {
    std::wstring joined;
    for (const std::wstring* value : {&p.methodName, &p.methodReturnType, &p.paramOne, &p.paramOneType, &p.paramTwo,
                                      &p.paramTwoType, &p.paramThree, &p.paramThreeType, &p.paramFour, &p.paramFourType})
        joined += L"|" + *value;
    return joined.substr(1);
}

void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

TEST(MethodDialog, ShowsThePendingValuesWithTheTypeEntriesTheirStoredNamesGive) {
    struct Case {
        const wchar_t* storedType;
        const char* returnsShows;  // "" when nothing is selected
        const char* parameterShows;
    } cases[] = {
        {L"VT_VARIANT", "Variant", "Variant"},
        {L"", "None", ""},  // the parameter lists have no "None"
        {L"VT_I4", "", ""},  // "Long" is in neither list
    };
    for (const Case& c : cases) {
        ApplicationMethod pending{L"Run", c.storedType, L"a", c.storedType, L"b", c.storedType,
                              L"c", c.storedType,  L"d", c.storedType};
        const ApplicationMethod before = pending;
        std::vector<std::string> shown;
        const INT_PTR result = RunMethodDialog(pending, [&](HWND dialog) {
            ASSERT_NE(dialog, nullptr);
            shown = {ItemText(dialog, IDC_METHOD_NAME), ChosenText(dialog, IDC_RETURNS)};
            for (int id : {IDC_PARAM1, IDC_PARAM2, IDC_PARAM3, IDC_PARAM4}) shown.push_back(ItemText(dialog, id));
            for (int id : kTypeLists) shown.push_back(ChosenText(dialog, id));
            EXPECT_EQ(Entries(dialog, IDC_RETURNS), (std::vector<std::string>{"None", "Variant"}));
            EXPECT_EQ(Entries(dialog, IDC_PARAM4_TYPE), std::vector<std::string>{"Variant"});
            EXPECT_EQ(FocusedItem(dialog), IDC_METHOD_NAME);
            Press(dialog, IDCANCEL);
        });
        const std::string p = c.parameterShows;
        EXPECT_EQ(shown, (std::vector<std::string>{"Run", c.returnsShows, "a", "b", "c", "d", p, p, p, p}))
            << "stored type \"" << ToAnsi(c.storedType) << "\"";
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(Joined(pending), Joined(before)) << "Cancel leaves the values pending as they were";
    }
}

TEST(MethodDialog, OkTakesTheTextsAndTranslatesTheChosenTypes) {
    ApplicationMethod pending;
    BoxAnswers answers;
    const INT_PTR result = RunMethodDialog(pending, [](HWND dialog) {
        SetItemText(dialog, IDC_METHOD_NAME, "Run");
        Choose(dialog, IDC_RETURNS, "Variant");
        // The first parameter is left out; the second has a type without a value.
        Choose(dialog, IDC_PARAM2_TYPE, "Variant");
        SetItemText(dialog, IDC_PARAM3, "notepad.exe");
        Choose(dialog, IDC_PARAM3_TYPE, "Variant");
        Press(dialog, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(answers.boxes.empty());
    EXPECT_EQ(Joined(pending), L"Run|VT_VARIANT||||VT_VARIANT|notepad.exe|VT_VARIANT||");
}

TEST(MethodDialog, AValueWithoutTypeIsRefusedAndWhatWasShownStaysPendingAfterCancel) {
    // Stored "None" for the result; the fourth parameter keeps a type the lists do not offer.
    ApplicationMethod pending{L"Old", L"", L"", L"", L"", L"", L"", L"", L"4", L"VT_I4"};
    BoxAnswers answers;
    bool stayedOpen = false;
    int focused = 0;
    HWND shown = nullptr;
    const INT_PTR result = RunMethodDialog(pending, [&](HWND dialog) {
        shown = dialog;
        SetItemText(dialog, IDC_METHOD_NAME, "New");
        SetItemText(dialog, IDC_PARAM2, "x");
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);  // refused: returns once answered
        stayedOpen = IsWindow(dialog) && IsWindowVisible(dialog);
        focused = FocusedItem(dialog);
        Press(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(answers.boxes.size(), 1u);
    EXPECT_EQ(answers.boxes[0].text, "Please choose parameter data type.");
    EXPECT_EQ(answers.boxes[0].style, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(answers.boxes[0].caption, Host().Identity().serviceName);
    EXPECT_EQ(answers.boxes[0].owner, shown);
    EXPECT_EQ(focused, IDC_PARAM2_TYPE) << "the first parameter with a value and no type";
    // OK took the texts and types before it refused; the fourth type, not offered, was not
    // selected, so OK took none.
    EXPECT_EQ(Joined(pending), L"New||||x||||4|");
}

}  // namespace
