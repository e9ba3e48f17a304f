// Dialog procedure of the "Test Page" (template 107).
#include "propsheet/pages_win32.h"

namespace velquin {

INT_PTR CALLBACK TestPageProc(HWND page, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
    return InertPageProc(page, message, lParam);
}

}  // namespace velquin
