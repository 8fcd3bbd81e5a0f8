#include "pinprompt.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "store.h"

namespace softtoken {
namespace {

// Builds a dialog template in memory: no resource script is needed inside the DLL.
class TemplateWriter {
public:
    void Align() {
        while (bytes_.size() % 4) bytes_.push_back(0);
    }
    void Word(WORD w) { Raw(&w, sizeof(w)); }
    void Text(const char* s) {
        for (; *s; ++s) Word(static_cast<unsigned char>(*s));
        Word(0);
    }
    void Raw(const void* p, size_t n) {
        const BYTE* b = static_cast<const BYTE*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom,
              const char* text) {
        Align();
        DLGITEMTEMPLATE item = {style | WS_CHILD | WS_VISIBLE, 0, x, y, cx, cy, id};
        Raw(&item, sizeof(item));
        Word(0xFFFF);
        Word(classAtom);
        Text(text);
        Word(0);  // no creation data
    }
    std::vector<BYTE>& bytes() { return bytes_; }

private:
    std::vector<BYTE> bytes_;
};

struct PromptState {
    std::string* pin;
};

INT_PTR CALLBACK PromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SendDlgItemMessageA(dialog, kPromptEditId, EM_LIMITTEXT, kMaxPinLength, 0);
        SetForegroundWindow(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            char buffer[kMaxPinLength + 1] = {};
            GetDlgItemTextA(dialog, kPromptEditId, buffer, sizeof(buffer));
            auto* state = reinterpret_cast<PromptState*>(GetWindowLongPtrA(dialog, DWLP_USER));
            state->pin->assign(buffer);
            SecureZeroMemory(buffer, sizeof(buffer));
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

bool PromptForPin(std::string& pin) {
    TemplateWriter t;
    DLGTEMPLATE header = {DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION |
                              WS_SYSMENU,
                          0, 4, 0, 0, 200, 70};
    t.Raw(&header, sizeof(header));
    t.Word(0);  // no menu
    t.Word(0);  // standard dialog class
    t.Text(kPromptTitle);
    t.Word(9);
    t.Text("MS Shell Dlg");
    t.Item(SS_LEFT, 8, 8, 184, 10, 0xFFFF, 0x0082, "Enter the user PIN of the soft token:");
    t.Item(ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 8, 22, 184, 14, kPromptEditId,
           0x0081, "");
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 86, 46, 50, 16, IDOK, 0x0080, "OK");
    t.Item(BS_PUSHBUTTON | WS_TABSTOP, 142, 46, 50, 16, IDCANCEL, 0x0080, "Cancel");
    PromptState state{&pin};
    INT_PTR r = DialogBoxIndirectParamA(
        GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(t.bytes().data()),
        GetActiveWindow(), PromptProc, reinterpret_cast<LPARAM>(&state));
    return r == IDOK;
}

}  // namespace softtoken
