// The Manage Applications dialog: the form in which an administrator adds, changes and removes
// the applications that the service launches, standard programs and ActiveX servers. The
// service creates it hidden and modeless as its main window; Cancel and the close box hide it
// again with a blank form. Applications are read and written through the catalogue only.
#pragma once
#include "config/Application.h"
#include "ui/DialogHost.h"

struct HostIdentity;
class UiHost;

#include <memory>
#include <string>
#include <type_traits>

class ManageAppsDialog : public Dialog<ManageAppsDialog> {
public:
    // Reads and writes the applications of the host's service keys.
    explicit ManageAppsDialog(UiHost& host);
    ~ManageAppsDialog() override;
    static std::span<const Entry> MessageTable();

    // The method values that the form holds for an ActiveX application.
    const ApplicationMethod& Pending() const { return pending_; }
    // True while the form shows no stored application.
    bool FormIsBlank() const { return formIsBlank_; }

private:
    bool OnInitDialog(WindowMessage& message);
    void OnNameSelected();
    void OnPathChanged();
    void OnProgIdChanged();
    void OnClose();
    bool OnHelp(WindowMessage& message);
    void OnContextMenu();

    void ResetForm();
    void FillNameList();
    void LoadApplication(const std::string& name);
    void SaveApplication();
    void RemoveApplication();
    void BrowseForProgram();
    void OpenMethodDialog();
    void HideAndReset();

    // The standard application's fields on, the ActiveX ones off, or the other way round.
    void EnableStandardFields(bool enable);
    void Enable(int id, bool enable) const;
    void Focus(int id) const;
    void SelectWindowEntry(LONG attrib) const;
    LONG SelectedAttrib() const;
    // A warning box owned by the dialog, then the focus on the field to correct.
    void Warn(const char* text, int focusId) const;
    // A question with "No" as default; true for Yes. Otherwise selects characters 0 to last
    // of the field and focuses it.
    bool Confirm(const char* text, int fieldId, int last) const;

    struct BitmapDeleter {
        void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
    };
    // The host's identity (keys, name, module, help file), and the host itself, which the
    // dialog leaves when it is closed.
    const HostIdentity& host_;
    UiHost& uiHost_;
    std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter> openBitmap_;
    ApplicationMethod pending_;
    bool formIsBlank_ = true;
};
