// The one place that keeps a dialog's own record in its window (GWLP_USERDATA).
#pragma once

#include <windows.h>

namespace win32 {

template <class T>
void SetWindowData(HWND window, T* data) {
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
}

template <class T>
T* WindowData(HWND window) {
  return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

}  // namespace win32
