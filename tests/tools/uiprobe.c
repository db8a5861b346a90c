/* uiprobe COMMAND ...: finds windows of other programs and reads or drives them,
   for the tests that look at the launcher's dialogs. Output is UTF-8, one item a
   line.
     wait TITLE_PART TIMEOUT_MS [ID...]
                                 a visible top-level window whose title holds
                                 TITLE_PART and whose controls ID are ready:
                                 prints it (see dump); exit 1 if none. An ID is
                                 ready when a descendant with it exists and holds
                                 text; "ID+" also needs it enabled, "ID*" only
                                 needs it to exist
     list                        one "top window=0x.. rect=l,t,r,b class=.. title=.."
                                 line per visible top-level window
     cancelall                   sends Cancel to every visible dialog
     gone HWND TIMEOUT_MS        waits until the window no longer exists
     waittext TEXT_PART TIMEOUT_MS [ID...]
                                 a visible top-level window with a descendant
                                 whose text holds TEXT_PART and whose controls
                                 ID are ready (see wait): prints it (see dump)
     items HWND ID [COLUMNS]     one "item row=.. text0=.. text1=.." line per row
                                 of the list view ID (COLUMNS cells, default 2)
     select HWND ID ROW          selects row ROW of the list view ID
     checked HWND ID             "checked=1" or "checked=0" for button ID
     press HWND ID               clicks control ID itself (an option button
                                 checks itself and tells its dialog)
     dump HWND                   "window=0x.. title=.. class=.." and one
                                 "child id=.. class=.. visible=.. enabled=.. text=.."
                                 line per descendant
     type HWND ID TEXT           types TEXT into control ID (as key presses),
                                 returning once the control has handled them
     clear HWND ID               empties control ID (select all, backspace), the same
     click HWND ID               presses button ID (posted: returns at once)
     shot HWND FILE.bmp          the window's pixels, freshly painted, from the
                                 screen into a bitmap
   Nothing here waits a fixed time: each waiting command polls for its state. */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static void put_utf8(const wchar_t *text) {
  char buf[4096];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof buf, NULL, NULL);
  if (n > 0) fputs(buf, stdout);
}

/* Texts of other processes' windows: WM_GETTEXT is marshalled by the system. */
static void window_text(HWND w, wchar_t *buf, int cap) {
  DWORD_PTR got = 0;
  buf[0] = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXT, cap, (LPARAM)buf, SMTO_ABORTIFHUNG, 2000, &got)) GetWindowTextW(w, buf, cap);
  buf[cap - 1] = 0;
  for (wchar_t *p = buf; *p; ++p)
    if (*p == L'\r' || *p == L'\n') *p = L'|';
}

static BOOL CALLBACK dump_child(HWND c, LPARAM unused) {
  wchar_t text[2048], cls[256];
  window_text(c, text, 2048);
  GetClassNameW(c, cls, 256);
  printf("child id=%d class=", GetDlgCtrlID(c));
  put_utf8(cls);
  printf(" visible=%d enabled=%d", IsWindowVisible(c) ? 1 : 0, IsWindowEnabled(c) ? 1 : 0);
  if (_wcsicmp(cls, L"msctls_progress32") == 0) printf(" pos=%d", (int)SendMessageW(c, 0x0408 /* PBM_GETPOS */, 0, 0));
  printf(" text=");
  put_utf8(text);
  printf("\n");
  return TRUE;
}

static void dump(HWND w) {
  wchar_t text[2048], cls[256];
  RECT r;
  window_text(w, text, 2048);
  GetClassNameW(w, cls, 256);
  GetWindowRect(w, &r);
  printf("window=0x%llx exstyle=0x%lx rect=%ld,%ld,%ld,%ld title=", (unsigned long long)(ULONG_PTR)w,
         (unsigned long)GetWindowLongW(w, GWL_EXSTYLE), r.left, r.top, r.right, r.bottom);
  put_utf8(text);
  printf(" class=");
  put_utf8(cls);
  printf("\n");
  EnumChildWindows(w, dump_child, 0);
  fflush(stdout);
}

struct find {
  const wchar_t *part;
  HWND found;
  wchar_t **ids; /* the controls that must be ready (see wait) */
  int id_count;
};

struct descendant { int id; HWND found; };

static BOOL CALLBACK find_descendant(HWND c, LPARAM lp) {
  struct descendant *d = (struct descendant *)lp;
  if (GetDlgCtrlID(c) != d->id) return TRUE;
  d->found = c;
  return FALSE;
}

/* Every listed control of W exists, holds text unless marked "*", and is enabled
   where marked "+": a window is read only once it shows what the test reads. */
static int controls_ready(HWND w, wchar_t **ids, int count) {
  for (int i = 0; i < count; ++i) {
    wchar_t *end = NULL;
    struct descendant d = {(int)wcstol(ids[i], &end, 10), NULL};
    EnumChildWindows(w, find_descendant, (LPARAM)&d);
    if (!d.found) return 0;
    if (end && *end == L'*') continue;
    wchar_t text[16];
    window_text(d.found, text, 16);
    if (!text[0]) return 0;
    if (end && *end == L'+' && !IsWindowEnabled(d.found)) return 0;
  }
  return 1;
}

static BOOL CALLBACK find_top(HWND w, LPARAM lp) {
  struct find *f = (struct find *)lp;
  wchar_t text[1024];
  if (!IsWindowVisible(w)) return TRUE;
  window_text(w, text, 1024);
  if (wcsstr(text, f->part) && controls_ready(w, f->ids, f->id_count)) {
    f->found = w;
    return FALSE;
  }
  return TRUE;
}

static BOOL CALLBACK child_has_text(HWND c, LPARAM lp) {
  struct find *f = (struct find *)lp;
  wchar_t text[2048];
  window_text(c, text, 2048);
  if (wcsstr(text, f->part)) {
    f->found = c;
    return FALSE;
  }
  return TRUE;
}

static BOOL CALLBACK find_top_with_text(HWND w, LPARAM lp) {
  struct find *f = (struct find *)lp;
  struct find inner = {f->part, NULL, NULL, 0};
  if (!IsWindowVisible(w)) return TRUE;
  EnumChildWindows(w, child_has_text, (LPARAM)&inner);
  if (inner.found && controls_ready(w, f->ids, f->id_count)) {
    f->found = w;
    return FALSE;
  }
  return TRUE;
}

/* A list view's texts live in its own process: the item record and the buffer are
   placed there and read back. */
static int items(HWND list, int columns) {
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!p) return 1;
  const SIZE_T cap = 1024;
  char *remote = VirtualAllocEx(p, NULL, sizeof(LVITEMW) + cap * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE);
  if (!remote) return 1;
  int rows = (int)SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
  for (int row = 0; row < rows; ++row) {
    printf("item row=%d", row);
    for (int col = 0; col < columns; ++col) {
      LVITEMW item = {0};
      item.iSubItem = col;
      item.pszText = (wchar_t *)(remote + sizeof(LVITEMW));
      item.cchTextMax = (int)cap;
      wchar_t text[1024] = {0};
      SIZE_T moved = 0;
      WriteProcessMemory(p, remote, &item, sizeof item, &moved);
      SendMessageW(list, LVM_GETITEMTEXTW, row, (LPARAM)remote);
      ReadProcessMemory(p, remote + sizeof(LVITEMW), text, sizeof text - sizeof(wchar_t), &moved);
      printf(" text%d=", col);
      put_utf8(text);
    }
    printf("\n");
  }
  fflush(stdout);
  VirtualFreeEx(p, remote, 0, MEM_RELEASE);
  CloseHandle(p);
  return 0;
}

/* The item state record goes through the list's own process like the texts. */
static int select_row(HWND list, int row) {
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!p) return 1;
  char *remote = VirtualAllocEx(p, NULL, sizeof(LVITEMW), MEM_COMMIT, PAGE_READWRITE);
  if (!remote) return 1;
  LVITEMW item = {0};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SIZE_T moved = 0;
  WriteProcessMemory(p, remote, &item, sizeof item, &moved);
  LRESULT ok = SendMessageW(list, LVM_SETITEMSTATE, row, (LPARAM)remote);
  VirtualFreeEx(p, remote, 0, MEM_RELEASE);
  CloseHandle(p);
  printf("selected=%d\n", ok ? 1 : 0);
  fflush(stdout);
  return ok ? 0 : 1;
}

static BOOL CALLBACK list_top(HWND w, LPARAM unused) {
  wchar_t text[1024], cls[256];
  RECT r;
  if (!IsWindowVisible(w)) return TRUE;
  window_text(w, text, 1024);
  GetClassNameW(w, cls, 256);
  GetWindowRect(w, &r);
  printf("top window=0x%llx rect=%ld,%ld,%ld,%ld class=", (unsigned long long)(ULONG_PTR)w, r.left, r.top, r.right,
         r.bottom);
  put_utf8(cls);
  printf(" title=");
  put_utf8(text);
  printf("\n");
  return TRUE;
}

/* Sends MSG to another process's window and returns once it has been handled. */
static void send_handled(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR unused = 0;
  SendMessageTimeoutW(w, msg, wp, lp, SMTO_NORMAL, 10000, &unused);
}

static BOOL CALLBACK cancel_top(HWND w, LPARAM unused) {
  wchar_t cls[32];
  GetClassNameW(w, cls, 32);
  if (IsWindowVisible(w) && !wcscmp(cls, L"#32770")) PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

static HWND parse_hwnd(const wchar_t *s) { return (HWND)(ULONG_PTR)wcstoull(s, NULL, 0); }

static int shot(HWND w, const wchar_t *file) {
  RECT r;
  if (!GetWindowRect(w, &r)) return 1;
  /* The owner paints the whole window before its pixels are read. */
  RedrawWindow(w, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  int cx = r.right - r.left, cy = r.bottom - r.top;
  HDC screen = GetDC(NULL);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi = {0};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = cx;
  bi.bmiHeader.biHeight = cy;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void *bits = NULL;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, cx, cy, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
  GdiFlush();
  DWORD stride = ((DWORD)cx * 3 + 3) & ~3u;
  DWORD size = stride * (DWORD)cy;
  BITMAPFILEHEADER fh = {0};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
  fh.bfSize = fh.bfOffBits + size;
  FILE *f = _wfopen(file, L"wb");
  int rc = 1;
  if (f) {
    fwrite(&fh, sizeof fh, 1, f);
    fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f);
    fwrite(bits, 1, size, f);
    fclose(f);
    rc = 0;
  }
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(NULL, screen);
  printf("shot=%d\n", rc);
  return rc;
}

int wmain(int argc, wchar_t **argv) {
  if (argc == 2 && !wcscmp(argv[1], L"cancelall")) {
    EnumWindows(cancel_top, 0);
    return 0;
  }
  if (argc == 2 && !wcscmp(argv[1], L"list")) {
    EnumWindows(list_top, 0);
    fflush(stdout);
    return 0;
  }
  if (argc < 3) {
    fprintf(stderr, "usage: uiprobe wait|gone|dump|items|select|checked|type|clear|click|press|shot ...\n");
    return 2;
  }
  const wchar_t *cmd = argv[1];
  if ((!wcscmp(cmd, L"wait") || !wcscmp(cmd, L"waittext")) && argc >= 4) {
    DWORD limit = (DWORD)_wtoi(argv[3]), start = GetTickCount();
    struct find f = {argv[2], NULL, argv + 4, argc - 4};
    WNDENUMPROC find = !wcscmp(cmd, L"wait") ? find_top : find_top_with_text;
    for (;;) {
      f.found = NULL;
      EnumWindows(find, (LPARAM)&f);
      if (f.found || GetTickCount() - start > limit) break;
      Sleep(50);
    }
    if (!f.found) {
      printf("window=none\n");
      return 1;
    }
    dump(f.found);
    return 0;
  }
  HWND w = parse_hwnd(argv[2]);
  if (!wcscmp(cmd, L"gone") && argc >= 4) {
    DWORD limit = (DWORD)_wtoi(argv[3]), start = GetTickCount();
    while (IsWindow(w) && GetTickCount() - start <= limit) Sleep(50);
    printf("gone=%d\n", IsWindow(w) ? 0 : 1);
    return IsWindow(w) ? 1 : 0;
  }
  if (!wcscmp(cmd, L"dump")) {
    dump(w);
    return 0;
  }
  if (!wcscmp(cmd, L"shot") && argc >= 4) return shot(w, argv[3]);
  if (!wcscmp(cmd, L"items") && argc >= 4) {
    HWND list = GetDlgItem(w, _wtoi(argv[3]));
    return list ? items(list, argc >= 5 ? _wtoi(argv[4]) : 2) : 1;
  }
  if (!wcscmp(cmd, L"select") && argc >= 5) {
    HWND list = GetDlgItem(w, _wtoi(argv[3]));
    return list ? select_row(list, _wtoi(argv[4])) : 1;
  }
  if (!wcscmp(cmd, L"checked") && argc >= 4) {
    HWND b = GetDlgItem(w, _wtoi(argv[3]));
    if (!b) return 1;
    printf("checked=%d\n", SendMessageW(b, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    fflush(stdout);
    return 0;
  }
  if (argc < 4) return 2;
  HWND c = GetDlgItem(w, _wtoi(argv[3]));
  if (!c) {
    printf("control=none\n");
    return 1;
  }
  if (!wcscmp(cmd, L"type") && argc >= 5) {
    for (const wchar_t *p = argv[4]; *p; ++p) send_handled(c, WM_CHAR, *p, 1);
  } else if (!wcscmp(cmd, L"clear")) {
    send_handled(c, EM_SETSEL, 0, -1);
    send_handled(c, WM_CHAR, VK_BACK, 1);
  } else if (!wcscmp(cmd, L"press")) {
    PostMessageW(c, BM_CLICK, 0, 0);
  } else if (!wcscmp(cmd, L"click")) {
    PostMessageW(w, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), BN_CLICKED), (LPARAM)c);
  } else {
    return 2;
  }
  printf("ok\n");
  fflush(stdout);
  return 0;
}
