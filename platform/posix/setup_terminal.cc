#include "setup_terminal.h"

#include <cctype>
#include <vector>

#include "setup/messages.h"
#include "setup/settings_dialog.h"

namespace platform {
namespace {

using setup::Answer;

struct Button {
  const char* label;
  Answer answer;
};

std::vector<Button> buttons_of(setup::Buttons buttons) {
  switch (buttons) {
    case setup::Buttons::ok_cancel:
      return {{"OK", Answer::ok}, {"Cancel", Answer::cancel}};
    case setup::Buttons::yes_no:
      return {{"Yes", Answer::yes}, {"No", Answer::no}};
    case setup::Buttons::ok:
      break;
  }
  return {{"OK", Answer::ok}};
}

// The last button is the one that declines (or the only one).
Answer end_of_input_answer(const std::vector<Button>& buttons) {
  return buttons.back().answer;
}

char first_letter(const std::string& line) {
  for (char c : line) {
    if (c != ' ' && c != '\t') {
      return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  return '\0';
}

constexpr const char* kLabels[] = {
    TEXT_LABEL_CGI_DIRECTORY, TEXT_LABEL_ANIMATION_DIRECTORY,
    TEXT_LABEL_ALLOWED_REFERERS, TEXT_LABEL_ANIMATING_VIEWERS};

}  // namespace

bool TerminalUi::read_line(std::string& line) {
  if (!std::getline(in_, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

Answer TerminalUi::message_box(const std::string& text,
                               const std::string& title,
                               setup::Buttons buttons, setup::Icon) {
  std::vector<Button> choices = buttons_of(buttons);
  out_ << "[" << title << "] " << text << "\n";
  for (;;) {
    for (std::size_t i = 0; i < choices.size(); ++i) {
      out_ << (i ? ", " : "") << choices[i].label;
    }
    out_ << " [" << choices[0].label << "]" << std::endl;
    std::string line;
    if (!read_line(line)) return end_of_input_answer(choices);
    char letter = first_letter(line);
    if (letter == '\0') return choices[0].answer;
    for (const Button& button : choices) {
      if (letter == button.label[0]) return button.answer;
    }
  }
}

std::string TerminalUi::load_string(int id) {
  return setup::string_table_text(id);
}

bool TerminalUi::read_fields(setup::FieldTexts& fields) {
  out_ << "\n" << TEXT_SETUP_TITLE << "\n" << TEXT_PLACEMENT_NOTE << "\n";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    out_ << kLabels[i] << " [" << fields[i] << "]" << std::endl;
    std::string line;
    if (!read_line(line)) return false;
    if (!line.empty()) fields[i] = line;
  }
  return true;
}

// Any other letter is no command and is asked again.
int TerminalUi::read_command() {
  for (;;) {
    out_ << "Help, OK or Cancel [OK]" << std::endl;
    std::string line;
    if (!read_line(line)) return setup::kCancelCommand;
    switch (first_letter(line)) {
      case '\0':
      case 'O':
        return setup::kOkCommand;
      case 'C':
        return setup::kCancelCommand;
      case 'H':
        return setup::kHelpCommand;
    }
  }
}

int TerminalUi::run_dialog(setup::SettingsDialog& dialog) {
  setup::FieldTexts fields = dialog.initial_fields();
  for (;;) {
    int id = read_fields(fields) ? read_command() : setup::kCancelCommand;
    int result = dialog.command(id, fields);
    if (result != setup::kStaysOpen) return result;
  }
}

void TerminalUi::open_help(const std::string& file, setup::HelpCommand command,
                           const std::string& keyword) {
  out_ << "Help: " << file;
  if (command == setup::HelpCommand::contents) {
    out_ << ", contents" << std::endl;
  } else {
    out_ << ", keyword \"" << keyword << "\"" << std::endl;
  }
}

}  // namespace platform
