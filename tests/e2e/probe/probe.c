/* Probe program for the end-to-end driver's self-test.
 *
 * Usage: probe.exe SCRIPT [ARG...]
 *
 * SCRIPT is a UTF-8 text file; each line is one command, fields separated by
 * tabs.  In text fields "\n" stands for a line feed, "\t" for a tab and "\\"
 * for a backslash.
 *
 *   box FLAGS CAPTION TEXT  MessageBoxW(NULL, TEXT, CAPTION, FLAGS); FLAGS in
 *                           hex.  CAPTION "-" passes NULL.
 *   write PATH CONTENT      writes CONTENT (UTF-8) to PATH, a Windows path.
 *   args PATH               writes the arguments after SCRIPT, one a line
 *                           (UTF-8), to PATH.
 *   sleep MS                Sleep(MS); "inf" sleeps forever.
 *   exit CODE               ends the process with exit code CODE (decimal).
 *
 * A malformed script ends the process with exit code 99.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#define MAX_FIELDS 4

/* Decodes the escapes of a text field in place. */
static void unescape(wchar_t *s) {
  wchar_t *out = s;
  for (; *s; ++s) {
    if (*s == L'\\' && s[1]) {
      ++s;
      *out++ = *s == L'n' ? L'\n' : *s == L't' ? L'\t' : *s;
    } else {
      *out++ = *s;
    }
  }
  *out = 0;
}

/* Converts UTF-8 to a newly allocated wide string. */
static wchar_t *widen(const char *s, int len) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s, len, NULL, 0);
  wchar_t *w = calloc(n + 1, sizeof(wchar_t));
  MultiByteToWideChar(CP_UTF8, 0, s, len, w, n);
  return w;
}

static int write_utf8(const wchar_t *path, const wchar_t *text) {
  FILE *f = _wfopen(path, L"wb");
  if (!f) return 0;
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
  char *buf = malloc(n);
  WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, n, NULL, NULL);
  fwrite(buf, 1, n - 1, f);
  free(buf);
  return fclose(f) == 0;
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE prev, PWSTR cmdline, int show) {
  (void)inst, (void)prev, (void)cmdline, (void)show;
  int argc;
  wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 2) return 99;

  FILE *f = _wfopen(argv[1], L"rb");
  if (!f) return 99;
  static char raw[1 << 16];
  size_t len = fread(raw, 1, sizeof raw - 1, f);
  fclose(f);
  wchar_t *script = widen(raw, (int)len);

  for (wchar_t *line = script; line && *line;) {
    wchar_t *next = wcschr(line, L'\n');
    if (next) *next++ = 0;
    size_t n = wcslen(line);
    if (n && line[n - 1] == L'\r') line[n - 1] = 0;

    wchar_t *field[MAX_FIELDS + 1] = {0};
    int count = 0;
    for (wchar_t *p = line; p && count <= MAX_FIELDS; ++count) {
      field[count] = p;
      p = wcschr(p, L'\t');
      if (p) *p++ = 0;
    }
    for (int i = 1; i < count; ++i) unescape(field[i]);

    const wchar_t *cmd = field[0];
    if (!*cmd) {
      /* blank line */
    } else if (!wcscmp(cmd, L"box") && count == 4) {
      UINT flags = (UINT)wcstoul(field[1], NULL, 16);
      const wchar_t *caption = wcscmp(field[2], L"-") ? field[2] : NULL;
      MessageBoxW(NULL, field[3], caption, flags);
    } else if (!wcscmp(cmd, L"write") && count == 3) {
      if (!write_utf8(field[1], field[2])) return 98;
    } else if (!wcscmp(cmd, L"args") && count == 2) {
      size_t size = 1;
      for (int i = 2; i < argc; ++i) size += wcslen(argv[i]) + 1;
      wchar_t *all = calloc(size, sizeof(wchar_t));
      for (int i = 2; i < argc; ++i) wcscat(wcscat(all, argv[i]), L"\n");
      if (!write_utf8(field[1], all)) return 98;
      free(all);
    } else if (!wcscmp(cmd, L"sleep") && count == 2) {
      Sleep(wcscmp(field[1], L"inf") ? (DWORD)wcstoul(field[1], NULL, 10)
                                     : INFINITE);
    } else if (!wcscmp(cmd, L"exit") && count == 2) {
      ExitProcess((UINT)wcstoul(field[1], NULL, 10));
    } else {
      return 99;
    }
    line = next;
  }
  return 0;
}
