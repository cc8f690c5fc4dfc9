// A Windows test program that drives the help viewer the way the
// installer does (WinHelpA) and prints the text of the topic it shows.
//
//   help_probe contents FILE      HELP_CONTENTS, then print the topic
//   help_probe context FILE N     HELP_CONTEXT N, then print the topic
//   help_probe key FILE WORD      HELP_KEY WORD; prints the WinHelpA result
//   help_probe index WORD         choose WORD in the viewer's Index dialog
//   help_probe read               print the topic shown now
//   help_probe quit FILE          HELP_QUIT
//
// The topic text is read from the viewer's rich-edit pane; exit code 0
// when there was one, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Search {
  const char* class_prefix;
  const char* text;  // or nullptr
  HWND found;
};

BOOL CALLBACK match_child(HWND w, LPARAM param) {
  Search* s = reinterpret_cast<Search*>(param);
  char name[64] = "", text[64] = "";
  GetClassNameA(w, name, sizeof name);
  GetWindowTextA(w, text, sizeof text);
  bool class_ok = std::string(name).rfind(s->class_prefix, 0) == 0;
  bool text_ok =
      !s->text || std::string(text).find(s->text) != std::string::npos;
  if (class_ok && text_ok) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

HWND child(HWND parent, const char* class_prefix, const char* text = nullptr) {
  Search s{class_prefix, text, nullptr};
  EnumChildWindows(parent, match_child, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

std::string window_text(HWND w) {
  DWORD_PTR length = 0;
  SendMessageTimeoutA(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000,
                      &length);
  std::string text(length + 1, '\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(w, WM_GETTEXT, text.size(),
                      reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                      5000, &copied);
  text.resize(copied);
  return text;
}

// The viewer may still be laying the topic out: wait until the text has
// stayed the same for half a second.
int print_topic() {
  std::string last;
  for (int tries = 0; tries < 120; ++tries) {
    Sleep(500);
    HWND main = FindWindowA("MS_WINHELP", nullptr);
    HWND pane = main ? child(main, "RichEdit") : nullptr;
    std::string text = pane ? window_text(pane) : "";
    if (!text.empty() && text == last) {
      std::fwrite(text.data(), 1, text.size(), stdout);
      return 0;
    }
    last = text;
  }
  std::fprintf(stderr, "no topic text in the help viewer\n");
  return 1;
}

BOOL CALLBACK match_top(HWND w, LPARAM param) {
  Search* s = reinterpret_cast<Search*>(param);
  char text[256] = "";
  GetWindowTextA(w, text, sizeof text);
  if (std::string(text).rfind(s->text, 0) != 0) return TRUE;
  s->found = w;
  return FALSE;
}

// Polls until `done` holds or a minute has passed (a loaded machine makes
// the viewer slow; a condition that holds costs nothing); whether it held.
template <typename Condition>
bool wait_until(Condition done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > 60000) return false;
    Sleep(100);
  }
  return true;
}

HWND wait_for_window(const char* title_prefix) {
  Search s{"", title_prefix, nullptr};
  wait_until([&] {
    EnumWindows(match_top, reinterpret_cast<LPARAM>(&s));
    return s.found != nullptr;
  });
  return s.found;
}

// The Index button opens a property sheet whose list holds the keywords;
// choosing one and pressing OK jumps to its topic.
int choose_in_index(const char* keyword) {
  HWND main = FindWindowA("MS_WINHELP", nullptr);
  HWND button = main ? child(main, "Button", "Index") : nullptr;
  if (!button) return std::fprintf(stderr, "no Index button\n"), 1;
  PostMessageA(button, BM_CLICK, 0, 0);
  HWND sheet = wait_for_window("Help topics");
  // The sheet has its title before its pages have their controls.
  HWND list = nullptr;
  if (sheet)
    wait_until([&] { return (list = child(sheet, "ListBox")) != nullptr; });
  if (!list) return std::fprintf(stderr, "no Index list\n"), 1;
  // The sheet fills its list a while after it opens.
  LRESULT at = LB_ERR;
  wait_until([&] {
    at = SendMessageA(list, LB_FINDSTRINGEXACT, -1,
                      reinterpret_cast<LPARAM>(keyword));
    return at != LB_ERR;
  });
  if (at == LB_ERR) return std::fprintf(stderr, "keyword not listed\n"), 1;
  SendMessageA(list, LB_SETCURSEL, at, 0);
  HWND ok = child(sheet, "Button", "OK");
  if (!ok) return std::fprintf(stderr, "no OK button\n"), 1;
  PostMessageA(ok, BM_CLICK, 0, 0);
  if (!wait_until([&] { return !IsWindow(sheet); }))
    return std::fprintf(stderr, "the Index dialog stays open\n"), 1;
  return print_topic();
}

int usage() {
  std::fprintf(stderr,
               "usage: help_probe contents|context|key|index|read|quit ...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string mode = argv[1];
  if (mode == "read") return print_topic();
  if (mode == "index" && argc == 3) return choose_in_index(argv[2]);
  if (argc < 3) return usage();
  const char* file = argv[2];
  if (mode == "quit") return WinHelpA(nullptr, file, HELP_QUIT, 0) ? 0 : 1;
  if (mode == "contents") {
    if (!WinHelpA(nullptr, file, HELP_CONTENTS, 0)) return 1;
    return print_topic();
  }
  if (mode == "context" && argc == 4) {
    if (!WinHelpA(nullptr, file, HELP_CONTEXT,
                  std::strtoul(argv[3], nullptr, 10)))
      return 1;
    return print_topic();
  }
  if (mode == "key" && argc == 4) {
    BOOL ok =
        WinHelpA(nullptr, file, HELP_KEY, reinterpret_cast<ULONG_PTR>(argv[3]));
    std::printf("WinHelpA(HELP_KEY) returned %d\n", ok);
    return ok ? 0 : 1;
  }
  return usage();
}
