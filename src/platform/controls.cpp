#include "controls.h"

#include <algorithm>
#include <vector>

#include "native.h"

namespace platform {

namespace {
// The controls that have a native one, each found by its handle. A form has a few dozen: a
// list searched in turn costs less code than a tree.
std::vector<Control*>& Registry() {
    static std::vector<Control*> registry;
    return registry;
}

std::vector<Control*>::iterator Registered(void* handle) {
    auto& registry = Registry();
    return std::find_if(registry.begin(), registry.end(), [handle](Control* c) { return c->Handle() == handle; });
}
}  // namespace

Control::Control(Container& parent, ControlKind kind, Bounds bounds, const char16_t* caption, unsigned style,
                 int resource)
    : parent_(parent), kind_(kind), bounds_(bounds), caption_(caption ? caption : u""), style_(style), resource_(resource) {
    parent_.Children.push_back(this);
    // A page and what it holds are made when the page first shows: most runs never see most
    // pages, and every native control costs time before the window can appear.
    if (kind_ != ControlKind::Page) Realise();
}

void Control::Realise() {
    if (!handle_) {
        handle_ = native::Create(*this);
        if (!handle_) return;
        if (auto it = Registered(handle_); it != Registry().end()) *it = this;
        else Registry().push_back(this);
        // The native control starts from the caption, visibility and enabled state; the rest
        // of what was set before it existed is handed over here.
        if (checked_) native::SetChecked(handle_, true);
        if (kind_ == ControlKind::ProgressBar) native::SetProgress(handle_, max_, position_);
    }
    if (Container* inner = AsContainer())
        for (Control* c : inner->Children)
            if (c->kind_ != ControlKind::Page || c->visible_) c->Realise();
}

Control::~Control() {
    auto& siblings = parent_.Children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    if (handle_) {
        if (auto it = Registered(handle_); it != Registry().end()) Registry().erase(it);
        native::Destroy(handle_);
    }
}

Control* Control::FromHandle(void* handle) {
    const auto it = Registered(handle);
    return it == Registry().end() ? nullptr : *it;
}

void Control::SetCaption(const std::u16string& caption) {
    caption_ = caption;
    native::SetText(handle_, caption);
}

std::u16string Control::Caption() const {
    std::u16string live;
    return native::GetText(handle_, live) ? live : caption_;
}

void Control::SetVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    if (visible && !handle_) Realise();
    else native::SetVisible(handle_, visible);
}

void Control::SetEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    native::SetEnabled(handle_, enabled);
}

bool Control::Showing() const { return visible_ && parent_.ContainerShowing(); }

void Control::SetFocus() { native::SetFocus(handle_); }

bool Control::Focused() const { return handle_ && native::FocusHandle() == handle_; }

bool Control::TabStop() const {
    switch (kind_) {
        case ControlKind::Button:
        case ControlKind::Edit:
        case ControlKind::Memo:
        case ControlKind::RadioButton:
            return Showing() && enabled_;
        default:
            return false;
    }
}

void Control::SetChecked(bool checked) {
    checked_ = checked;
    native::SetChecked(handle_, checked);
    if (checked && kind_ == ControlKind::RadioButton) {
        for (Control* sibling : parent_.Children)
            if (sibling != this && sibling->kind_ == ControlKind::RadioButton) sibling->SetChecked(false);
    }
}

bool Control::Checked() const { return native::GetChecked(handle_, checked_); }

void Control::SetMax(int max) {
    max_ = max;
    native::SetProgress(handle_, max_, position_);
}

void Control::SetPosition(int position) {
    position_ = std::clamp(position, 0, max_);
    native::SetProgress(handle_, max_, position_);
}

void Control::Repaint() { native::Repaint(handle_); }

void Control::Fire(const Handler& handler) { handler(); }

void Control::Click() {
    if (!Acts()) return;
    if (kind_ == ControlKind::RadioButton) SetChecked(true);
    Fire(OnClick);
}

void Control::NativeClick() {
    if (Acts()) Fire(OnClick);
}

Control* Container::FirstTabStop() const {
    for (Control* c : Children) {
        if (c->TabStop()) return c;
        if (Container* inner = c->AsContainer(); inner && c->Showing())
            if (Control* found = inner->FirstTabStop()) return found;
    }
    return nullptr;
}

Notebook::~Notebook() {
    for (Page* p : pages_) delete p;
}

Notebook::Notebook(Container& parent, Bounds bounds, std::initializer_list<const char16_t*> pageCaptions)
    : ContainerControl(parent, ControlKind::Notebook, bounds) {
    for (const char16_t* caption : pageCaptions) {
        auto* page = new Page(*this, {0, 0, bounds.width, bounds.height}, caption);
        page->SetVisible(pages_.empty());
        pages_.push_back(page);
    }
    Realise();
}

bool Notebook::Contains(const Control* control) const {
    for (Control* c = const_cast<Control*>(control); c; c = c->Parent().AsControl())
        if (c == this) return true;
    return false;
}

void Notebook::SetPageIndex(int index) {
    if (index == index_ || index < 0 || index >= PageCount()) return;
    const bool focusInside = Contains(FocusedControl());
    Page& next = PageAt(index);
    next.SetVisible(true);
    PageAt(index_).SetVisible(false);
    index_ = index;
    if (focusInside) {
        // A page without any control that takes the focus hands it to the form's buttons.
        Control* first = next.FirstTabStop();
        if (!first) first = Parent().FirstTabStop();
        if (first) first->SetFocus();
    }
    Fire(OnPageChanged);
}

Control* FocusedControl() { return Control::FromHandle(native::FocusHandle()); }

}  // namespace platform
