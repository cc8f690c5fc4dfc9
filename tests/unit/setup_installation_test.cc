// Copying the distribution set and writing pelk.ini, with scripted answers.
#include <filesystem>
#include <fstream>

#include "setup/installation.h"
#include "setup_fixture.h"

namespace setup_test {
namespace {

using setup::Answer;
using test_support::read_file;

const char EXE_QUESTION[] = "Whirlo32.EXE already exists, overwrite?";
const char HLP_QUESTION[] = "Whirlo-32.HLP already exists, overwrite?";
const char WRI_QUESTION[] = "Whirlo-32.WRI already exists, overwrite?";
const char DOC_QUESTION[] = "Whirlo-32.DOC already exists, overwrite?";
const char PICTURE_QUESTION[] = "Whirlo#.GIF already exists, overwrite all?";
const char CANNOT_COPY[] = "Error : Cannot copy ";

std::string frame(int n) { return "whirlo" + std::to_string(n) + ".gif"; }

class InstallationTest : public SetupTest {
 protected:
  // Installs once with no questions expected, then clears the record.
  void install_first() {
    ASSERT_EQ(setup::install_files(settings(), ui_), 1);
    ASSERT_TRUE(ui_.shown.empty());
  }
  // Marks every installed file so that a replacement shows.
  void mark_installed() {
    for (const auto& entry : std::filesystem::directory_iterator(anim())) {
      std::ofstream(entry.path()) << "old";
    }
    std::ofstream(cgi() + "whirlo32.exe") << "old";
  }
};

TEST_F(InstallationTest, FirstInstallationCopiesAllFilesWithoutQuestions) {
  install_first();
  EXPECT_EQ(read_file(cgi() + "whirlo32.exe"), "contents of whirlo32._xe");
  EXPECT_EQ(read_file(anim() + "whirlo32.hlp"), "contents of whirlo32.hlp");
  EXPECT_EQ(read_file(anim() + "whirlo32.wri"), "contents of whirlo32.wri");
  EXPECT_EQ(read_file(anim() + "whirlo32.doc"), "contents of whirlo32._oc");
  for (int n = 1; n <= 13; ++n) {
    EXPECT_EQ(read_file(anim() + frame(n)),
              "contents of whirlo" + std::to_string(n) + "._if");
  }
  // Only the program and the configuration go into the CGI directory.
  auto count = [](const std::string& dir) {
    auto it = std::filesystem::directory_iterator(dir);
    return std::distance(begin(it), end(it));
  };
  EXPECT_EQ(count(cgi()), 2);
  EXPECT_EQ(count(anim()), 16);
  EXPECT_EQ(read_file(cgi() + "pelk.ini"), fresh_profile());
}

TEST_F(InstallationTest, RepeatedInstallationAsksFiveQuestionsAndReplaces) {
  install_first();
  mark_installed();
  ui_.answers = {Answer::YES, Answer::YES, Answer::YES, Answer::YES,
                 Answer::YES};
  EXPECT_EQ(setup::install_files(settings(), ui_), 1);
  EXPECT_EQ(ui_.texts(),
            (std::vector<std::string>{EXE_QUESTION, HLP_QUESTION, WRI_QUESTION,
                                      DOC_QUESTION, PICTURE_QUESTION}));
  for (const Shown& box : ui_.shown) {
    EXPECT_EQ(box.title, "Whirlo-32 V1.2 Setup");
    EXPECT_EQ(box.buttons, setup::Buttons::YES_NO);
    EXPECT_EQ(box.icon, setup::Icon::NONE);
  }
  EXPECT_EQ(read_file(cgi() + "whirlo32.exe"), "contents of whirlo32._xe");
  EXPECT_EQ(read_file(anim() + "whirlo32.doc"), "contents of whirlo32._oc");
  EXPECT_EQ(read_file(anim() + frame(13)), "contents of whirlo13._if");
}

TEST_F(InstallationTest, NoKeepsEachFileAndThePictureQuestionReturns) {
  install_first();
  mark_installed();
  ui_.answers.assign(4 + 13, Answer::NO);
  EXPECT_EQ(setup::install_files(settings(), ui_), 1);
  ASSERT_EQ(ui_.shown.size(), 17u);
  for (std::size_t i = 4; i < 17; ++i) {
    EXPECT_EQ(ui_.shown[i].text, PICTURE_QUESTION);
  }
  EXPECT_EQ(read_file(cgi() + "whirlo32.exe"), "old");
  for (int n = 1; n <= 13; ++n) EXPECT_EQ(read_file(anim() + frame(n)), "old");
}

TEST_F(InstallationTest, YesAfterSomeNosReplacesTheRestWithoutQuestions) {
  install_first();
  mark_installed();
  ui_.answers = {Answer::NO, Answer::NO, Answer::NO, Answer::NO,
                 Answer::NO, Answer::NO, Answer::YES};
  EXPECT_EQ(setup::install_files(settings(), ui_), 1);
  EXPECT_EQ(ui_.shown.size(), 7u);
  EXPECT_EQ(read_file(anim() + frame(2)), "old");
  EXPECT_EQ(read_file(anim() + frame(3)), "contents of whirlo3._if");
  EXPECT_EQ(read_file(anim() + frame(13)), "contents of whirlo13._if");
}

TEST_F(InstallationTest, MissingSourceAsksAndNoSkipsItSilently) {
  std::filesystem::remove(dist_.prefix() + "whirlo32.hlp");
  ui_.answers = {Answer::NO};
  EXPECT_EQ(setup::install_files(settings(), ui_), 1);
  EXPECT_EQ(ui_.texts(), std::vector<std::string>{HLP_QUESTION});
  EXPECT_FALSE(std::filesystem::exists(anim() + "whirlo32.hlp"));
}

TEST_F(InstallationTest, MissingSourceAfterYesFailsButWritesTheProfile) {
  std::filesystem::remove(dist_.prefix() + "whirlo32.hlp");
  ui_.answers = {Answer::YES};
  EXPECT_EQ(setup::install_files(settings(), ui_), 0);
  EXPECT_EQ(ui_.texts(), (std::vector<std::string>{HLP_QUESTION, CANNOT_COPY}));
  EXPECT_EQ(ui_.shown[1].icon, setup::Icon::STOP);
  EXPECT_EQ(ui_.shown[1].buttons, setup::Buttons::OK);
  EXPECT_EQ(read_file(anim() + "whirlo32.doc"), "contents of whirlo32._oc");
  EXPECT_EQ(read_file(cgi() + "pelk.ini"), fresh_profile());
}

TEST_F(InstallationTest, FailedReplacingPictureCopyAsksAgainThenReports) {
  install_first();
  mark_installed();
  std::filesystem::remove(anim() + frame(5));
  std::filesystem::create_directory(anim() + frame(5));
  // Four single files declined; Yes to pictures; picture 5 cannot be
  // replaced: asked again, Yes, message 7; the rest is replaced.
  ui_.answers = {Answer::NO, Answer::NO,  Answer::NO,
                 Answer::NO, Answer::YES, Answer::YES};
  EXPECT_EQ(setup::install_files(settings(), ui_), 0);
  EXPECT_EQ(ui_.texts(),
            (std::vector<std::string>{EXE_QUESTION, HLP_QUESTION, WRI_QUESTION,
                                      DOC_QUESTION, PICTURE_QUESTION,
                                      PICTURE_QUESTION, CANNOT_COPY}));
  EXPECT_EQ(read_file(anim() + frame(6)), "contents of whirlo6._if");
}

TEST_F(InstallationTest, ExistingProfileKeepsItsOtherLines) {
  std::string before =
      "[Other]\nk=v\n[whirl]\nAllow Viewer=Lynx\nkeep=me\n[Tail]\nx=1\n";
  std::ofstream(cgi() + "pelk.ini", std::ios::binary) << before;
  setup::SetupSettings s = settings();
  s.allowed_referers = "example.com";
  EXPECT_EQ(setup::install_files(s, ui_), 1);
  EXPECT_EQ(read_file(cgi() + "pelk.ini"),
            "[Other]\nk=v\n[whirl]\nAllow Viewer=Mozilla\nkeep=me\n"
            "Animation Path=" +
                anim() +
                "\r\nAllow Only=example.com\r\n"
                "CGI-WIN Path=" +
                cgi() + "\r\n[Tail]\nx=1\n");
}

// A configuration that cannot be written must not pass as installed.
TEST_F(InstallationTest, UnwritableProfileIsReportedAsFailure) {
  std::filesystem::create_directory(cgi() + "pelk.ini");
  EXPECT_EQ(setup::install_files(settings(), ui_), 0);
  EXPECT_EQ(ui_.texts(), std::vector<std::string>{CANNOT_COPY});
  EXPECT_EQ(read_file(anim() + frame(1)), "contents of whirlo1._if");
}

}  // namespace
}  // namespace setup_test
