// Dialog procedure of the "Calibration" page (template 109).
#include "propsheet/pages_win32.h"

namespace velquin {

INT_PTR CALLBACK CalibrationPageProc(HWND page, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
    return InertPageProc(page, message, lParam);
}

}  // namespace velquin
