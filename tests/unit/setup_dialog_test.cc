// Validation, the dialog's commands and the installer's start, with
// scripted answers.
#include <filesystem>
#include <fstream>

#include "setup/settings_dialog.h"
#include "setup/validation.h"
#include "setup_fixture.h"

namespace setup_test {
namespace {

using setup::Answer;
using setup::FieldTexts;
using test_support::read_file;

const char CREATE_QUESTION[] =
    "The animation path specified does not exist, create?";
const char VIEWER_QUESTION[] =
    "You have changed the default value of the animation viewer. This could "
    "make Whirlo-32 incapible of animating. Change to Mozilla?";
const char INSTALLED[] =
    "Whirlo-32 V1.2 has been installed! Please see the Whirlo32.DOC or "
    "Whirlo32.WRI files in your anim. path for more information.";

std::string without_separator(std::string dir) {
  dir.pop_back();
  return dir;
}

class ValidationTest : public SetupTest {};

TEST_F(ValidationTest, SeparatorIsAddedOnceAndProbeLeavesNothing) {
  std::ofstream(cgi() + "~whl.tmp") << "left over";
  setup::SetupSettings s = settings();
  s.cgi_directory = without_separator(cgi());
  EXPECT_EQ(setup::validate_settings(s, ui_), 1);
  EXPECT_EQ(s.cgi_directory, cgi());
  EXPECT_EQ(s.animation_directory, anim());  // typed with "/": not doubled
  EXPECT_TRUE(ui_.shown.empty());
  EXPECT_FALSE(std::filesystem::exists(cgi() + "~whl.tmp"));
  EXPECT_TRUE(std::filesystem::is_empty(anim()));
}

TEST_F(ValidationTest, MissingCgiDirectoryIsRefusedWithoutQuestion) {
  setup::SetupSettings s = settings();
  s.cgi_directory = cgi() + "missing";
  EXPECT_EQ(setup::validate_settings(s, ui_), 0);
  EXPECT_EQ(ui_.texts(),
            std::vector<std::string>{"Error : Invalid CGI-WIN path."});
  EXPECT_EQ(ui_.shown[0].icon, setup::Icon::STOP);
  EXPECT_FALSE(std::filesystem::exists(cgi() + "missing"));
}

TEST_F(ValidationTest, MissingAnimationDirectoryIsCreatedOrRefused) {
  setup::SetupSettings s = settings();
  s.animation_directory = anim() + "new";
  ui_.answers = {Answer::CANCEL};
  EXPECT_EQ(setup::validate_settings(s, ui_), 0);
  EXPECT_EQ(ui_.texts(),
            (std::vector<std::string>{CREATE_QUESTION,
                                      "Error : Invalid animation path."}));
  EXPECT_EQ(ui_.shown[0].buttons, setup::Buttons::OK_CANCEL);
  EXPECT_FALSE(std::filesystem::exists(anim() + "new"));

  ui_.shown.clear();
  ui_.answers = {Answer::OK};
  s.animation_directory = anim() + "new";
  EXPECT_EQ(setup::validate_settings(s, ui_), 1);
  EXPECT_TRUE(std::filesystem::is_directory(anim() + "new"));
  EXPECT_TRUE(std::filesystem::is_empty(anim() + "new"));

  ui_.shown.clear();
  ui_.answers = {Answer::OK};
  s.animation_directory = anim() + "no/parent";
  EXPECT_EQ(setup::validate_settings(s, ui_), 0);
  EXPECT_EQ(ui_.texts(), (std::vector<std::string>{
                             CREATE_QUESTION, "Error : Cannot create path."}));
}

TEST_F(ValidationTest, EmptyDirectoriesAreRefused) {
  setup::SetupSettings s = settings();
  s.cgi_directory = "";
  EXPECT_EQ(setup::validate_settings(s, ui_), 0);
  s = settings();
  s.animation_directory = "";
  EXPECT_EQ(setup::validate_settings(s, ui_), 0);
  EXPECT_EQ(ui_.texts(),
            (std::vector<std::string>{"Error : Invalid CGI-WIN path.",
                                      "Error : Invalid animation path."}));
}

TEST_F(ValidationTest, ViewerQuestionOnlyWithoutMozillaAnywhere) {
  for (const char* viewers : {"Mozilla/2.0", "Lynx,Mozilla"}) {
    setup::SetupSettings s = settings();
    s.animating_viewers = viewers;
    EXPECT_EQ(setup::validate_settings(s, ui_), 1);
    EXPECT_EQ(s.animating_viewers, viewers);
  }
  EXPECT_TRUE(ui_.shown.empty());
  for (const char* viewers : {"mozilla", "Lynx", ""}) {
    setup::SetupSettings s = settings();
    s.animating_viewers = viewers;
    ui_.answers = {Answer::CANCEL};
    EXPECT_EQ(setup::validate_settings(s, ui_), 1);
    EXPECT_EQ(s.animating_viewers, viewers);
    ui_.answers = {Answer::OK};
    EXPECT_EQ(setup::validate_settings(s, ui_), 1);
    EXPECT_EQ(s.animating_viewers, "Mozilla");
  }
  EXPECT_EQ(ui_.shown.size(), 6u);
  EXPECT_EQ(ui_.shown[0].text, VIEWER_QUESTION);
}

class DialogTest : public SetupTest {
 protected:
  FieldTexts typed() const {
    return {without_separator(cgi()), without_separator(anim()), "", "Lynx"};
  }
};

TEST_F(DialogTest, OkInstallsOpensHelpAndCloses) {
  setup::SetupSettings s;
  setup::SettingsDialog dialog(s, ui_);
  ui_.answers = {Answer::OK};  // the viewer question
  EXPECT_EQ(dialog.command(setup::OK_BUTTON, typed()), setup::INSTALLED);
  EXPECT_EQ(ui_.help, std::vector<std::string>{"contents"});
  EXPECT_EQ(ui_.texts(),
            (std::vector<std::string>{VIEWER_QUESTION, INSTALLED}));
  EXPECT_EQ(read_file(cgi() + "pelk.ini"), fresh_profile());
}

TEST_F(DialogTest, FailedOkStaysOpenAndTheNextOkStartsAfresh) {
  setup::SetupSettings s;
  setup::SettingsDialog dialog(s, ui_);
  FieldTexts fields = typed();
  fields[1] = anim() + "no/parent";
  ui_.answers = {Answer::OK};
  EXPECT_EQ(dialog.command(setup::OK_BUTTON, fields), setup::STAYS_OPEN);
  EXPECT_TRUE(ui_.help.empty());
  // The viewer field still says Lynx, so the question comes again.
  ui_.shown.clear();
  ui_.answers = {Answer::OK};
  EXPECT_EQ(dialog.command(setup::OK_BUTTON, typed()), setup::INSTALLED);
  EXPECT_EQ(ui_.shown.front().text, VIEWER_QUESTION);
}

TEST_F(DialogTest, LongFieldsAreCutToTheirCapacity) {
  setup::SetupSettings s;
  setup::SettingsDialog dialog(s, ui_);
  FieldTexts fields = typed();
  fields[2] = std::string(60, 'r');
  fields[3] = "Mozilla" + std::string(60, 'v');
  std::string long_name(143 - cgi().size(), 'c');
  std::filesystem::create_directory(cgi() + long_name);
  fields[0] = cgi() + long_name + "tail-beyond-the-capacity";
  EXPECT_EQ(dialog.command(setup::OK_BUTTON, fields), setup::INSTALLED);
  EXPECT_EQ(s.cgi_directory, cgi() + long_name + "/");
  EXPECT_EQ(s.allowed_referers, std::string(49, 'r'));
  EXPECT_EQ(s.animating_viewers,
            ("Mozilla" + std::string(60, 'v')).substr(0, 49));
}

TEST_F(DialogTest, CancelAndHelpAndOtherCommands) {
  setup::SetupSettings s = settings();
  setup::SettingsDialog dialog(s, ui_);
  EXPECT_EQ(dialog.command(setup::HELP_BUTTON, typed()), setup::STAYS_OPEN);
  EXPECT_EQ(ui_.help, std::vector<std::string>{"Setup"});
  EXPECT_EQ(dialog.command(1002, typed()), setup::STAYS_OPEN);
  EXPECT_TRUE(ui_.shown.empty());
  EXPECT_EQ(dialog.command(setup::CANCEL_BUTTON, typed()), setup::CANCELLED);
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].text, "Error: Whirlo has not been installed.");
  EXPECT_EQ(ui_.shown[0].title, "Whirlo-32 Setup");
  EXPECT_EQ(ui_.shown[0].icon, setup::Icon::NONE);
  EXPECT_TRUE(std::filesystem::is_empty(cgi()));
}

TEST_F(SetupTest, StartValuesComeFromTheWindowsDirectoryOrTheDefaults) {
  ui_.commands = {{setup::CANCEL_BUTTON, {}}};
  EXPECT_EQ(setup::run_setup(ui_, {"/srv/cgi", "/srv/anim"}), 1);
  EXPECT_EQ(ui_.initial_fields.at(0),
            (FieldTexts{"/srv/cgi", "/srv/anim", "", "Mozilla"}));

  std::string cgi143(143, 'c'), anim150(150, 'a');
  windows_.write("pelk.ini", "[WHIRL]\r\nCGI-WIN Path=" + cgi143 +
                                 "\r\nanimation path=" + anim150 +
                                 "\r\nAllow Only=" + std::string(60, 'o') +
                                 "\r\nAllow Viewer=\r\n");
  ui_.commands = {{setup::CANCEL_BUTTON, {}}};
  EXPECT_EQ(setup::run_setup(ui_, {"/srv/cgi", "/srv/anim"}), 1);
  EXPECT_EQ(
      ui_.initial_fields.at(1),
      (FieldTexts{cgi143, anim150.substr(0, 143), std::string(49, 'o'), ""}));
  // The installation never reads back what it writes.
  EXPECT_TRUE(std::filesystem::is_empty(cgi()));
}

TEST_F(SetupTest, DialogThatCannotOpenIsReportedAndEndsWithOne) {
  ui_.dialog_fails = true;
  EXPECT_EQ(setup::run_setup(ui_, {"/srv/cgi", "/srv/anim"}), 1);
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].text, "Error, setup cannot be executed.");
  EXPECT_EQ(ui_.shown[0].title, "Whirlo-32 Setup");
}

}  // namespace
}  // namespace setup_test
