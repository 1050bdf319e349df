/* Prints the caption and message text of every visible message box on the
 * desktop of the prefix it runs in, one box a line:
 *
 *   <window handle, hex> TAB <caption> TAB <text>
 *
 * in UTF-8, with a backslash, a tab, a carriage return and a line feed written
 * as \\, \t, \r and \n.  The end-to-end driver runs it when Wine's message box
 * trace is too long to be printed whole.
 */
#include <stdlib.h>
#include <windows.h>

static HANDLE out;

static void put(const wchar_t *s) {
  for (; *s; ++s) {
    wchar_t esc[3] = {L'\\', 0, 0};
    const wchar_t *piece = esc;
    int len = 2;
    switch (*s) {
      case L'\\':
        esc[1] = L'\\';
        break;
      case L'\t':
        esc[1] = L't';
        break;
      case L'\r':
        esc[1] = L'r';
        break;
      case L'\n':
        esc[1] = L'n';
        break;
      default:
        piece = s, len = 1;
    }
    /* A surrogate pair is converted as a whole. */
    if (len == 1 && IS_HIGH_SURROGATE(*s) && IS_LOW_SURROGATE(s[1])) len = 2;
    char buf[16];
    int n = WideCharToMultiByte(CP_UTF8, 0, piece, len, buf, sizeof buf, NULL,
                                NULL);
    DWORD written;
    WriteFile(out, buf, n, &written, NULL);
    if (piece == s) s += len - 1;
  }
}

/* Reads a window's text through WM_GETTEXT; the result is allocated. */
static wchar_t *text_of(HWND hwnd) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000,
                           &len))
    len = 0;
  wchar_t *buf = calloc(len + 2, sizeof(wchar_t));
  DWORD_PTR got = 0;
  if (len)
    SendMessageTimeoutW(hwnd, WM_GETTEXT, len + 1, (LPARAM)buf,
                        SMTO_ABORTIFHUNG, 5000, &got);
  return buf;
}

static BOOL CALLBACK each_window(HWND hwnd, LPARAM unused) {
  (void)unused;
  wchar_t cls[64];
  if (!IsWindowVisible(hwnd) || !GetClassNameW(hwnd, cls, 64) ||
      lstrcmpW(cls, L"#32770"))
    return TRUE;
  /* Wine gives the message text control id 100, Windows 0xFFFF. */
  HWND label = GetDlgItem(hwnd, 100);
  if (!label) label = GetDlgItem(hwnd, 0xFFFF);
  wchar_t *caption = text_of(hwnd);
  wchar_t *text = label ? text_of(label) : calloc(1, sizeof(wchar_t));
  char handle[32];
  DWORD written;
  WriteFile(out, handle,
            wsprintfA(handle, "%lx\t", (unsigned long)(ULONG_PTR)hwnd),
            &written, NULL);
  put(caption);
  WriteFile(out, "\t", 1, &written, NULL);
  put(text);
  WriteFile(out, "\n", 1, &written, NULL);
  free(caption);
  free(text);
  return TRUE;
}

int main(void) {
  out = GetStdHandle(STD_OUTPUT_HANDLE);
  EnumWindows(each_window, 0);
  return 0;
}
