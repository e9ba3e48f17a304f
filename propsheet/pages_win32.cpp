#include "pages_win32.h"

#include <prsht.h>

namespace velquin {

INT_PTR InertPageProc(HWND page, UINT message, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const auto* record = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
            SetWindowLongPtrW(page, DWLP_USER, record != nullptr ? record->lParam : 0);
            return TRUE;
        }
        case WM_NOTIFY:
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace velquin
