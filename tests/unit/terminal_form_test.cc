// The installer's terminal form, driven from a script of lines.
#include "setup/terminal_form.h"

#include <gtest/gtest.h>

#include <sstream>

#include "setup/settings_dialog.h"

namespace {

using setup::Answer;
using setup::Buttons;

Answer answer_to(const std::string& script, Buttons buttons,
                 std::string* output = nullptr) {
  std::istringstream in(script);
  std::ostringstream out;
  setup::TerminalUi ui(in, out);
  Answer answer =
      ui.message_box("Question?", "Title", buttons, setup::Icon::NONE);
  if (output) *output = out.str();
  return answer;
}

TEST(TerminalMessageBox, FirstLetterChoosesEmptyTakesFirstEndDeclines) {
  std::string output;
  EXPECT_EQ(answer_to("y\n", Buttons::YES_NO, &output), Answer::YES);
  EXPECT_EQ(output, "[Title] Question?\nYes, No [Yes]\n");
  EXPECT_EQ(answer_to("No thanks\n", Buttons::YES_NO), Answer::NO);
  EXPECT_EQ(answer_to("\n", Buttons::YES_NO), Answer::YES);
  EXPECT_EQ(answer_to("", Buttons::YES_NO), Answer::NO);
  EXPECT_EQ(answer_to(" c\r\n", Buttons::OK_CANCEL), Answer::CANCEL);
  EXPECT_EQ(answer_to("", Buttons::OK_CANCEL), Answer::CANCEL);
  EXPECT_EQ(answer_to("", Buttons::OK), Answer::OK);
  // Another letter chooses nothing; the box asks again.
  EXPECT_EQ(answer_to("maybe\nok\n", Buttons::OK_CANCEL, &output), Answer::OK);
  EXPECT_EQ(output, "[Title] Question?\nOK, Cancel [OK]\nOK, Cancel [OK]\n");
}

struct FormRun {
  int result;
  std::string output;
  setup::SetupSettings settings;
};

FormRun run_form(const std::string& script) {
  std::istringstream in(script);
  std::ostringstream out;
  setup::TerminalUi ui(in, out);
  FormRun run{0, "", {"/c", "/a", "", "Mozilla"}};
  setup::SettingsDialog dialog(run.settings, ui);
  run.result = ui.run_dialog(dialog);
  run.output = out.str();
  return run;
}

TEST(TerminalForm, HelpShowsTheFormAgainWithTheValuesAsTyped) {
  FormRun run = run_form("\n/typed\n\n\nh\n\n\n\n\nC\n\n");
  EXPECT_EQ(run.result, setup::CANCELLED);
  const std::string form_end =
      "Windows CGI Path : [/c]\n"
      "Animations Path : [/typed]\n"
      "Allow only users referering from : []\n"
      "Viewer that allows animation : [Mozilla]\n"
      "Help, OK or Cancel [OK]\n";
  std::size_t help = run.output.find("Help: whirlo32.hlp, keyword \"Setup\"\n");
  ASSERT_NE(help, std::string::npos);
  EXPECT_NE(run.output.find(form_end, help), std::string::npos);
  EXPECT_NE(run.output.find("[Whirlo-32 Setup] Error: Whirlo has not been "
                            "installed.\nOK [OK]\n"),
            std::string::npos);
  EXPECT_EQ(run.output.find("Whirlo-32 V1.2 Setup\n"), 1u);
}

TEST(TerminalForm, EndOfInputCancelsWherever) {
  for (const char* script : {"", "\n\n", "\n\n\n\n", "\n\n\n\nx\n"}) {
    FormRun run = run_form(script);
    EXPECT_EQ(run.result, setup::CANCELLED) << script;
    EXPECT_NE(run.output.find("Error: Whirlo has not been installed."),
              std::string::npos);
    EXPECT_EQ(run.settings.cgi_directory, "/c");  // nothing was validated
  }
}

TEST(TerminalForm, UnknownCommandIsAskedAgain) {
  FormRun run = run_form("\n\n\n\nx\nc\n");
  EXPECT_EQ(run.result, setup::CANCELLED);
  std::size_t first = run.output.find("Help, OK or Cancel [OK]\n");
  EXPECT_NE(run.output.find("Help, OK or Cancel [OK]\n", first + 1),
            std::string::npos);
}

}  // namespace
