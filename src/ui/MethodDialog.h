// The Method dialog: edits the method that the service calls on an ActiveX application after
// creating it (name, result type, up to four parameter values with their types). It starts
// from the pending method values and writes them back on OK; nothing is stored until the
// Manage Applications dialog saves the application.
#pragma once
#include "config/Application.h"
#include "ui/DialogHost.h"

struct HostIdentity;

class MethodDialog : public Dialog<MethodDialog> {
public:
    // Captions its boxes and names its help file as the host says.
    MethodDialog(const HostIdentity& host, ApplicationMethod& pending);
    static std::span<const Entry> MessageTable();

private:
    bool OnInitDialog(WindowMessage& message);
    void OnOk();
    void OnCancel();
    bool OnHelp(WindowMessage& message);
    void OnContextMenu();

    // Selects the entry of a type list that shows the stored type name, or none.
    void SelectType(int listId, const std::wstring& storedName) const;
    // The stored type name of a type list's selection; empty when nothing is selected.
    std::wstring SelectedType(int listId) const;

    const HostIdentity& host_;
    ApplicationMethod& pending_;
};
