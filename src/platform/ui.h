// The application object and the main window.
#pragma once

#include <string>

#include "controls.h"

namespace platform {

class Application {
public:
    static void SetTitle(const std::u16string& title);
    static const std::u16string& Title();
    // When false, the main window is never shown; a form made while it is false has no native
    // window at all, nor have its controls (they keep their state all the same).
    static void SetShowMainForm(bool show);
    static bool ShowMainForm();
    // Ends the message loop as soon as it runs; set before the loop, the loop does not start.
    static void Terminate();
    static bool Terminated();
    // Handles the window messages that are waiting, then returns.
    static void ProcessMessages();
    // The hourglass over every window of the program, or back to the default cursor.
    static void SetBusyCursor(bool busy);
};

// The setup's one top-level window: a fixed-size dialog-like form that owns the controls.
class Form : public Container {
public:
    Form();
    ~Form() override;
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    void SetCaption(const std::u16string& caption);
    std::u16string Caption() const;
    bool IsVisible() const;
    // Closing the main form ends the run.
    void Close();
    bool Closed() const { return closed_; }
    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }

    // Shows the form (unless the application keeps it hidden) and runs the message
    // loop until the form closes or the application terminates.
    void Run();

    // The Escape key, wherever the focus is in the form.
    Handler OnEscape;

    void* NativeHandle() const { return handle_; }
    void* ContainerHandle() const override { return handle_; }
    bool ContainerShowing() const override { return !closed_; }

private:
    void* handle_ = nullptr;
    std::u16string caption_;
    bool closed_ = false;
    bool visible_ = false;
    bool enabled_ = true;
};

}  // namespace platform
