// What each platform does for the controls; used by controls.cpp only.
#pragma once

#include <string>

#include "controls.h"

namespace platform::native {

void* Create(Control& control);
void Destroy(void* handle);
void SetText(void* handle, const std::u16string& text);
// False when the control keeps no text of its own beyond what was set.
bool GetText(void* handle, std::u16string& text);
void SetVisible(void* handle, bool visible);
void SetEnabled(void* handle, bool enabled);
void SetFocus(void* handle);
void* FocusHandle();
void SetChecked(void* handle, bool checked);
bool GetChecked(void* handle, bool cached);
void SetProgress(void* handle, int max, int position);
void Repaint(void* handle);

}  // namespace platform::native
