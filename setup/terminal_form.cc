#include "terminal_form.h"

#include <cctype>
#include <vector>

#include "messages.h"
#include "settings_dialog.h"
#include "target_guard.h"

namespace setup {
namespace {

struct Button {
  const char* label;
  Answer answer;
};

std::vector<Button> buttons_of(Buttons buttons) {
  switch (buttons) {
    case Buttons::OK_CANCEL:
      return {{"OK", Answer::OK}, {"Cancel", Answer::CANCEL}};
    case Buttons::YES_NO: return {{"Yes", Answer::YES}, {"No", Answer::NO}};
    case Buttons::OK: break;
  }
  return {{"OK", Answer::OK}};
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

constexpr const char* LABELS[] = {
    TEXT_LABEL_CGI_DIRECTORY, TEXT_LABEL_ANIMATION_DIRECTORY,
    TEXT_LABEL_ALLOWED_REFERERS, TEXT_LABEL_ANIMATING_VIEWERS};

}  // namespace

bool TerminalUi::read_line(std::string& line) {
  if (!std::getline(in_, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

Answer TerminalUi::message_box(const std::string& text,
                               const std::string& title, Buttons buttons,
                               Icon) {
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

std::string TerminalUi::load_string(int id) { return string_table_text(id); }

bool TerminalUi::read_fields(FieldTexts& fields) {
  out_ << "\n" << TEXT_SETUP_TITLE << "\n" << TEXT_PLACEMENT_NOTE << "\n";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    out_ << LABELS[i] << " [" << fields[i] << "]" << std::endl;
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
    if (!read_line(line)) return CANCEL_BUTTON;
    switch (first_letter(line)) {
      case '\0':
      case 'O': return OK_BUTTON;
      case 'C': return CANCEL_BUTTON;
      case 'H': return HELP_BUTTON;
    }
  }
}

void TerminalUi::guard_targets(const StartDirectories& replacements) {
  guarded_ = true;
  replacements_ = replacements;
}

void TerminalUi::replace_managed_start_values(FieldTexts& fields) {
  const std::string* replacement[] = {&replacements_.cgi_directory,
                                      &replacements_.animation_directory};
  for (int i = 0; i < 2; ++i) {
    if (managed_target_reason(fields[i]).empty()) continue;
    out_ << "(" << fields[i] << " belongs to the package manager; "
         << *replacement[i] << " is offered instead)\n";
    fields[i] = *replacement[i];
  }
}

bool TerminalUi::refuses_targets(const FieldTexts& fields) {
  bool refused = false;
  for (int i = 0; i < 2; ++i) {
    std::string reason = managed_target_reason(fields[i]);
    if (reason.empty()) continue;
    out_ << "[" << TEXT_SETUP_TITLE << "] " << reason << std::endl;
    refused = true;
  }
  return refused;
}

int TerminalUi::run_dialog(SettingsDialog& dialog) {
  FieldTexts fields = dialog.initial_fields();
  if (guarded_) replace_managed_start_values(fields);
  for (;;) {
    int id = read_fields(fields) ? read_command() : CANCEL_BUTTON;
    if (id == OK_BUTTON && guarded_ && refuses_targets(fields)) continue;
    int result = dialog.command(id, fields);
    installed_ = result == INSTALLED;
    if (result != STAYS_OPEN) return result;
  }
}

void TerminalUi::open_help(const std::string& file, HelpCommand command,
                           const std::string& keyword) {
  out_ << "Help: " << file;
  if (command == HelpCommand::CONTENTS) {
    out_ << ", contents" << std::endl;
  } else {
    out_ << ", keyword \"" << keyword << "\"" << std::endl;
  }
}

}  // namespace setup
