// Driving the program's dialogs as a person would, with window messages, and answering their
// message boxes.
#pragma once
#include "base/MessageBox.h"

#include <windows.h>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Answers every message box of the process while it lives: IDOK for a box with an OK button,
// `answer` (IDYES or IDNO) for a question. Records each box.
class BoxAnswers {
public:
    explicit BoxAnswers(int answer = IDNO);
    ~BoxAnswers();
    BoxAnswers(const BoxAnswers&) = delete;
    BoxAnswers& operator=(const BoxAnswers&) = delete;

    int answer;
    std::vector<MessageBoxRequest> boxes;
};

// Runs actions on a thread of its own against the visible top-level window that has this
// caption, once it exists, while the calling thread runs the modal loop that shows it.
// The actions get the window (null when none appeared in time). Joined on destruction.
class WhenShown {
public:
    WhenShown(std::string caption, std::function<void(HWND)> actions);
    ~WhenShown();
    WhenShown(const WhenShown&) = delete;
    WhenShown& operator=(const WhenShown&) = delete;

private:
    std::thread thread_;
};

// The top-level window of this process with this caption; null when there is none.
HWND FindOwnWindow(const std::string& caption);

// The controls of a dialog, driven through messages to the dialog and its controls.
std::string ItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, const std::string& text);  // runs the control's change notification
void Click(HWND dialog, int id);                                  // BM_CLICK: nothing when disabled
// Selects the entry with exactly this text of a combo box (none for an empty text) and
// notifies the dialog as a choice from the list does.
void Choose(HWND dialog, int id, const std::string& entry);
std::string ChosenText(HWND dialog, int id);  // the selected entry's text; "" when none
std::vector<std::string> Entries(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
// The dialog control that holds the keyboard focus of the dialog's thread (a combo box for its
// edit field); 0 when none of the dialog's controls does.
int FocusedItem(HWND dialog);
