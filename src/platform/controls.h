// The window's controls as small objects. On Windows each wraps a native control; in the
// stand-in each only keeps its state, which tests read and "click".
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace platform {

// What an event calls: a member function of the object that owns the controls (the form).
// Two pointers, where a general function object would bring its manager and copies along.
class Handler {
public:
    Handler() = default;
    template <auto Method, class T>
    static Handler Of(T* object) {
        return Handler([](void* self) { (static_cast<T*>(self)->*Method)(); }, object);
    }
    explicit operator bool() const { return call_ != nullptr; }
    void operator()() const {
        if (call_) call_(object_);
    }

private:
    Handler(void (*call)(void*), void* object) : call_(call), object_(object) {}
    void (*call_)(void*) = nullptr;
    void* object_ = nullptr;
};

struct Bounds {
    int left = 0, top = 0, width = 0, height = 0;
};

enum class ControlKind {
    Button,
    Label,
    Edit,
    Memo,
    RadioButton,
    ProgressBar,
    Picture,
    Bevel,
    Panel,
    Notebook,
    Page,
};

// Appearance options of a control; which ones apply depends on the kind.
enum ControlStyle : unsigned {
    kStyleNone = 0,
    kWordWrap = 1 << 0,      // label: wraps inside its box
    kAutoSize = 1 << 1,      // label: the box follows the text
    kTitleFont = 1 << 2,     // label: the header title
    kLinkStyle = 1 << 3,     // label: underlined link colour, hand cursor, clickable
    kReadOnly = 1 << 4,      // memo
    kIcon = 1 << 5,          // picture: an icon resource rather than a bitmap
    kWindowColour = 1 << 6,  // panel: window colour instead of button face
    kBottomLine = 1 << 7,    // bevel: the line lies at the top of its box (and so above the buttons)
};

class Container;

class Control {
public:
    // The caption is copied (nullptr is none): a literal at each of the form's controls costs
    // less than a string made there.
    Control(Container& parent, ControlKind kind, Bounds bounds, const char16_t* caption = nullptr,
            unsigned style = kStyleNone, int resource = 0);
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    ControlKind Kind() const { return kind_; }
    unsigned Style() const { return style_; }
    const Bounds& Box() const { return bounds_; }
    int Resource() const { return resource_; }
    Container& Parent() const { return parent_; }

    void SetCaption(const std::u16string& caption);
    // What the control shows now; edit boxes return what the user typed.
    std::u16string Caption() const;

    void SetVisible(bool visible);
    bool Visible() const { return visible_; }
    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }
    // Shown on screen: visible itself and inside visible containers.
    bool Showing() const;

    void SetFocus();
    bool Focused() const;
    // Can receive the focus with Tab.
    bool TabStop() const;

    // Radio buttons.
    void SetChecked(bool checked);
    bool Checked() const;

    // Progress bars.
    void SetMax(int max);
    int Max() const { return max_; }
    void SetPosition(int position);
    int Position() const { return position_; }
    void Repaint();

    // Handler of a click (buttons, radio buttons, link labels).
    Handler OnClick;
    // A click as the user makes it: only on a showing, enabled control; a radio button is
    // selected first.
    void Click();
    // A click the native control reports, which has selected a radio button already: the
    // handler runs only on a showing, enabled control, as with Click().
    void NativeClick();
    // Runs a handler when there is one.
    static void Fire(const Handler& handler);

    // The native control; nullptr while its page has not shown yet, and in a form without a
    // window.
    void* Handle() const { return handle_; }
    virtual Container* AsContainer() { return nullptr; }
    // The control or container whose native window is handle (nullptr when none).
    static Control* FromHandle(void* handle);

protected:
    // Makes the native control, and those of the showing controls it holds, from the state
    // kept here.
    void Realise();
    void* handle_ = nullptr;

private:
    friend struct NativeAccess;
    bool Acts() const { return Showing() && enabled_; }
    Container& parent_;
    ControlKind kind_;
    Bounds bounds_;
    std::u16string caption_;
    unsigned style_;
    int resource_;
    bool visible_ = true;
    bool enabled_ = true;
    bool checked_ = false;
    int max_ = 100;
    int position_ = 0;
};

// Something that holds controls: the form, a panel, a notebook page.
class Container {
public:
    virtual ~Container() = default;
    virtual void* ContainerHandle() const = 0;
    virtual bool ContainerShowing() const = 0;
    // The container as a control, nullptr for the form.
    virtual Control* AsControl() { return nullptr; }
    // In creation order, which is the tab order.
    std::vector<Control*> Children;
    // The first control in tab order that can take the focus, or nullptr.
    Control* FirstTabStop() const;
};

// A control that holds controls: a panel, a notebook, a notebook page.
class ContainerControl : public Control, public Container {
public:
    ContainerControl(Container& parent, ControlKind kind, Bounds bounds, const char16_t* caption = nullptr,
                     unsigned style = kStyleNone)
        : Control(parent, kind, bounds, caption, style) {}
    void* ContainerHandle() const override { return Handle(); }
    bool ContainerShowing() const override { return Showing(); }
    Container* AsContainer() override { return this; }
    Control* AsControl() override { return this; }
};

class Panel : public ContainerControl {
public:
    Panel(Container& parent, Bounds bounds, unsigned style = kStyleNone)
        : ContainerControl(parent, ControlKind::Panel, bounds, {}, style) {}
};

class Page : public ContainerControl {
public:
    Page(Container& parent, Bounds bounds, const char16_t* caption)
        : ContainerControl(parent, ControlKind::Page, bounds, caption) {}
};

// Pages on top of each other; one shows at a time.
class Notebook : public ContainerControl {
public:
    // The pages are made at once, the first one showing; the native controls of the others
    // are made when they first show.
    Notebook(Container& parent, Bounds bounds, std::initializer_list<const char16_t*> pageCaptions);
    ~Notebook() override;

    Page& PageAt(int index) { return *pages_[static_cast<std::size_t>(index)]; }
    int PageCount() const { return static_cast<int>(pages_.size()); }
    int PageIndex() const { return index_; }
    // Does nothing when index is the current page. Otherwise shows that page, moves the
    // focus to its first control when the focus was inside the notebook, then raises
    // OnPageChanged.
    void SetPageIndex(int index);
    bool Contains(const Control* control) const;

    Handler OnPageChanged;

private:
    std::vector<Page*> pages_;
    int index_ = 0;
};

// The control that has the keyboard focus in this process, or nullptr.
Control* FocusedControl();

}  // namespace platform
