#include "setup_fixture.h"

#include <cstdlib>

#include "setup/settings_dialog.h"

#include "setup/messages.h"

namespace setup_test {

setup::Answer ScriptedUi::message_box(const std::string& text,
                                      const std::string& title,
                                      setup::Buttons buttons,
                                      setup::Icon icon) {
  shown.push_back({text, title, buttons, icon});
  if (buttons == setup::Buttons::OK) return setup::Answer::OK;
  if (answers.empty()) {
    ADD_FAILURE() << "unexpected question: " << text;
    return buttons == setup::Buttons::YES_NO ? setup::Answer::NO
                                             : setup::Answer::CANCEL;
  }
  setup::Answer answer = answers.front();
  answers.pop_front();
  return answer;
}

std::string ScriptedUi::load_string(int id) {
  return setup::string_table_text(id);
}

int ScriptedUi::run_dialog(setup::SettingsDialog& dialog) {
  if (dialog_fails) return setup::DIALOG_FAILED;
  initial_fields.push_back(dialog.initial_fields());
  while (!commands.empty()) {
    auto [id, fields] = commands.front();
    commands.pop_front();
    int result = dialog.command(id, fields);
    if (result != 0) return result;
  }
  ADD_FAILURE() << "the dialog was still open when the script ended";
  return 0;
}

void ScriptedUi::open_help(const std::string& file, setup::HelpCommand command,
                           const std::string& keyword) {
  EXPECT_EQ(file, "whirlo32.hlp");
  help.push_back(command == setup::HelpCommand::CONTENTS ? "contents"
                                                         : keyword);
}

std::vector<std::string> ScriptedUi::texts() const {
  std::vector<std::string> result;
  for (const Shown& box : shown) result.push_back(box.text);
  return result;
}

std::vector<std::string> distribution_names() {
  std::vector<std::string> names = {"whirlo32._xe", "whirlo32.hlp",
                                    "whirlo32.wri", "whirlo32._oc"};
  for (int n = 1; n <= 13; ++n) {
    names.push_back("whirlo" + std::to_string(n) + "._if");
  }
  return names;
}

SetupTest::SetupTest() {
  for (const std::string& name : distribution_names()) {
    dist_.write(name, "contents of " + name);
  }
  old_directory_ = std::filesystem::current_path();
  std::filesystem::current_path(dist_.prefix());
  const char* windir = std::getenv("WINDIR");
  had_windir_ = windir != nullptr;
  if (windir) old_windir_ = windir;
  setenv("WINDIR", windows_.prefix().c_str(), 1);
}

SetupTest::~SetupTest() {
  std::filesystem::current_path(old_directory_);
  if (had_windir_) {
    setenv("WINDIR", old_windir_.c_str(), 1);
  } else {
    unsetenv("WINDIR");
  }
}

setup::SetupSettings SetupTest::settings() const {
  return {cgi(), anim(), "", "Mozilla"};
}

std::string SetupTest::fresh_profile() const {
  return "[Whirl]\r\nAnimation Path=" + anim() +
         "\r\nAllow Only=\r\nAllow Viewer=Mozilla\r\nCGI-WIN Path=" + cgi() +
         "\r\n";
}

}  // namespace setup_test
