// setup_fixture.h: a scripted user interface for the installer's core and
// a fixture with a distribution folder (the current directory during each
// test), empty CGI and animation folders and a Windows directory.
#ifndef WHIRLO_TESTS_UNIT_SETUP_FIXTURE_H
#define WHIRLO_TESTS_UNIT_SETUP_FIXTURE_H

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "setup/setup_settings.h"
#include "setup/setup_ui.h"
#include "test_support.h"

namespace setup_test {

struct Shown {
  std::string text, title;
  setup::Buttons buttons;
  setup::Icon icon;
};

/// Answers questions from `answers` in order and records every box and
/// every help request. A box with only OK takes no answer; a question with
/// no answer left fails the test.
class ScriptedUi : public setup::SetupUi {
 public:
  std::deque<setup::Answer> answers;
  std::vector<Shown> shown;
  std::vector<std::string> help;  // "contents" or the keyword
  // For run_dialog: the commands given, each with the fields as typed.
  std::deque<std::pair<int, setup::FieldTexts>> commands;
  std::vector<setup::FieldTexts> initial_fields;
  bool dialog_fails = false;

  setup::Answer message_box(const std::string& text, const std::string& title,
                            setup::Buttons buttons, setup::Icon icon) override;
  std::string load_string(int id) override;
  int run_dialog(setup::SettingsDialog& dialog) override;
  void open_help(const std::string& file, setup::HelpCommand command,
                 const std::string& keyword) override;

  std::vector<std::string> texts() const;
};

/// The 17 distribution files, as the installer names them.
std::vector<std::string> distribution_names();

class SetupTest : public ::testing::Test {
 protected:
  SetupTest();
  ~SetupTest() override;

  /// Settings as validation leaves them: both directories end in "/".
  setup::SetupSettings settings() const;
  std::string cgi() const { return cgi_.prefix(); }
  std::string anim() const { return anim_.prefix(); }
  /// The pelk.ini that a first installation writes for settings().
  std::string fresh_profile() const;

  test_support::TempDir dist_, cgi_, anim_, windows_;
  ScriptedUi ui_;

 private:
  std::filesystem::path old_directory_;
  std::string old_windir_;
  bool had_windir_;
};

}  // namespace setup_test

#endif  // WHIRLO_TESTS_UNIT_SETUP_FIXTURE_H
