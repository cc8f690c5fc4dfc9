#include "dialog.h"

#include <vector>

#include "setup/setup_resources.h"
#include "setup/settings_dialog.h"

namespace setup {
namespace {

constexpr int FIELD_IDS[] = {IDC_CGI_DIRECTORY, IDC_ANIMATION_DIRECTORY,
                             IDC_ALLOWED_REFERERS, IDC_ANIMATING_VIEWERS};

UINT box_style(Buttons buttons, Icon icon) {
  UINT style = icon == Icon::STOP ? MB_ICONERROR : 0;
  switch (buttons) {
    case Buttons::OK_CANCEL: return style | MB_OKCANCEL;
    case Buttons::YES_NO: return style | MB_YESNO;
    case Buttons::OK: break;
  }
  return style | MB_OK;
}

Answer answer_of(int result) {
  switch (result) {
    case IDOK: return Answer::OK;
    case IDYES: return Answer::YES;
    case IDNO: return Answer::NO;
  }
  return Answer::CANCEL;
}

// The whole text of a control; the core cuts it to the setting's capacity.
std::string window_text(HWND control) {
  int length = GetWindowTextLengthA(control);
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  int got = GetWindowTextA(control, buffer.data(), length + 1);
  return std::string(buffer.data(),
                     got > 0 ? static_cast<std::size_t>(got) : 0);
}

}  // namespace

void centre_window(HWND window) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return;
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(window, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
}

Answer Win32Ui::message_box(const std::string& text, const std::string& title,
                            Buttons buttons, Icon icon) {
  return answer_of(MessageBoxA(dialog_window_, text.c_str(), title.c_str(),
                               box_style(buttons, icon)));
}

// Storage for 254 characters and the terminator.
std::string Win32Ui::load_string(int id) {
  char buffer[255];
  int length =
      LoadStringA(instance_, static_cast<UINT>(id), buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

int Win32Ui::run_dialog(SettingsDialog& dialog) {
  dialog_ = &dialog;
  INT_PTR result =
      DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_SETTINGS), nullptr,
                      settings_dialog_proc, reinterpret_cast<LPARAM>(this));
  dialog_ = nullptr;
  dialog_window_ = nullptr;
  return result == -1 ? DIALOG_FAILED : static_cast<int>(result);
}

void Win32Ui::open_help(const std::string& file, HelpCommand command,
                        const std::string& keyword) {
  if (command == HelpCommand::CONTENTS) {
    WinHelpA(dialog_window_, file.c_str(), HELP_CONTENTS, 0);
  } else {
    WinHelpA(dialog_window_, file.c_str(), HELP_KEY,
             reinterpret_cast<ULONG_PTR>(keyword.c_str()));
  }
}

void Win32Ui::initialise(HWND window) {
  dialog_window_ = window;
  centre_window(window);
  FieldTexts fields = dialog_->initial_fields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    SetWindowTextA(GetDlgItem(window, FIELD_IDS[i]), fields[i].c_str());
  }
}

void Win32Ui::command(HWND window, int id) {
  FieldTexts fields;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    fields[i] = window_text(GetDlgItem(window, FIELD_IDS[i]));
  }
  int result = dialog_->command(id, fields);
  if (result != STAYS_OPEN) EndDialog(window, result);
}

INT_PTR CALLBACK Win32Ui::settings_dialog_proc(HWND window, UINT message,
                                               WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* ui = reinterpret_cast<Win32Ui*>(lparam);
      SetWindowLongPtrA(window, GWLP_USERDATA, lparam);
      ui->initialise(window);
      return TRUE;  // the platform gives the focus to the first field
    }
    case WM_COMMAND: {
      auto* ui =
          reinterpret_cast<Win32Ui*>(GetWindowLongPtrA(window, GWLP_USERDATA));
      if (ui) ui->command(window, LOWORD(wparam));
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace setup
