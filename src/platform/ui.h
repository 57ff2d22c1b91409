// The application object and the main window.
#pragma once

#include <string>

namespace platform {

class Application {
public:
    static void SetTitle(const std::u16string& title);
    static const std::u16string& Title();
    // When false, the main window is never shown.
    static void SetShowMainForm(bool show);
    static bool ShowMainForm();
    // Ends the message loop as soon as it runs; set before the loop, the loop does not start.
    static void Terminate();
    static bool Terminated();
    // Handles the window messages that are waiting, then returns.
    static void ProcessMessages();
};

// The setup's one top-level window. The stand-in keeps its state for tests to read.
class Form {
public:
    Form();
    ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    void SetCaption(const std::u16string& caption);
    std::u16string Caption() const;
    bool IsVisible() const;
    // Closing the main form ends the run.
    void Close();
    bool Closed() const { return closed_; }

    // Shows the form (unless the application keeps it hidden) and runs the message
    // loop until the form closes or the application terminates.
    void Run();

    void* NativeHandle() const { return handle_; }

private:
    void* handle_ = nullptr;
    std::u16string caption_;
    bool closed_ = false;
    bool visible_ = false;
};

}  // namespace platform
