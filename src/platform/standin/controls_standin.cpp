// The stand-in's controls have no window: the handle is the control itself and the state
// lives in the control. Only the keyboard focus is kept here.
#include "../native.h"

#include <map>

#include "standin.h"

namespace platform::native {

namespace {
void* g_focus = nullptr;
std::map<const void*, int>& Repaints() {
    static std::map<const void*, int> counts;
    return counts;
}
}  // namespace

// Like a native control, nothing inside a container is made before the container.
void* Create(Control& control) {
    const bool parentMade = !control.Parent().AsControl() || control.Parent().ContainerHandle();
    return parentMade ? &control : nullptr;
}
void Destroy(void* handle) {
    if (g_focus == handle) g_focus = nullptr;
    // A control made later at the same address is another one, with no repaints yet.
    Repaints().erase(handle);
}
void SetText(void*, const std::u16string&) {}
bool GetText(void*, std::u16string&) { return false; }
void SetVisible(void*, bool) {}
void SetEnabled(void*, bool) {}
void SetFocus(void* handle) { g_focus = handle; }
void* FocusHandle() { return g_focus; }
void SetChecked(void*, bool) {}
bool GetChecked(void*, bool cached) { return cached; }
void SetProgress(void*, int, int) {}
void Repaint(void* handle) { ++Repaints()[handle]; }

}  // namespace platform::native

int standin::RepaintCount(const platform::Control& control) { return RepaintCount(control.Handle()); }
int standin::RepaintCount(const void* handle) { return platform::native::Repaints()[handle]; }

void standin::ResetControls() {
    platform::native::g_focus = nullptr;
    platform::native::Repaints().clear();
}
