// Dialog procedure of the "Effect Page" (template 108).
#include "propsheet/pages_win32.h"

namespace velquin {

INT_PTR CALLBACK EffectPageProc(HWND page, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
    return InertPageProc(page, message, lParam);
}

}  // namespace velquin
