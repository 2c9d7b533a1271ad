// The command line: the option marks, the terms, the colour and the log.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "txtSHADE.h"

namespace {

class ParseParametersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe(output_), 0);
    StandardOutput.handle = output_[1];
    StandardOutput.mode = StreamMode::Output;
    StandardOutput.flushEachLine = true;
    ASSERT_NE(mkdtemp(folder_), nullptr);
  }
  void TearDown() override {
    if (LogEnabled) CloseStream(LogFile);
    StandardOutput = TextStream();
    StandardOutput.kind = StreamKind::StandardOutput;
    close(output_[0]);
    close(output_[1]);
    SearchTerms.clear();
    SearchTermCount = 0;
    HighlightColour = DefaultHighlightColour;
    LogEnabled = false;
    LogFileName.clear();
    std::string command = std::string("rm -rf ") + folder_;
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  std::string Written() {
    char buffer[512];
    ssize_t got = read(output_[0], buffer, sizeof buffer);
    return got > 0 ? std::string(buffer, std::size_t(got)) : std::string();
  }
  std::string InFolder(const std::string& name) { return std::string(folder_) + "/" + name; }
  bool Exists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr) std::fclose(file);
    return file != nullptr;
  }
  std::vector<std::string> Terms() {
    return std::vector<std::string>(SearchTerms.begin(), SearchTerms.begin() + SearchTermCount);
  }

  int output_[2] = {-1, -1};
  char folder_[32] = "/tmp/txtshade-params-XXXXXX";
};

TEST_F(ParseParametersTest, TermsAreStoredUpperCasedInOrder) {
  EXPECT_TRUE(ParseParameters({"08/2006", "kb", ".log"}));
  EXPECT_EQ(Terms(), (std::vector<std::string>{"08/2006", "KB", ".LOG"}));
  EXPECT_EQ(SearchTerms.size(), 3u);
}

TEST_F(ParseParametersTest, NothingToSearchForShowsTheUsage) {
  EXPECT_FALSE(ParseParameters(std::vector<std::string>{}));
  EXPECT_FALSE(ParseParameters({"/?"}));
  EXPECT_FALSE(ParseParameters({"a", "b/?c", "d"}));  // also inside a longer parameter
  EXPECT_FALSE(ParseParameters({"/C:12"}));           // options alone
  EXPECT_EQ(HighlightColour, 12);                     // which have had their effect
}

TEST_F(ParseParametersTest, ScanStopsAtTheHelpMark) {
  EXPECT_FALSE(ParseParameters({"/c:3", "/?", "/c:5"}));
  EXPECT_EQ(HighlightColour, 3);
}

TEST_F(ParseParametersTest, ColourValues) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"/C:$F", 15},         {"/c:x0f", 15}, {"/C:0XF", 15}, {"/C:012", 12}, {"/C:+7", 7},
      {"/C:16", 11},         {"/C:-1", 11},  {"/C:1.5", 11}, {"/C:x", 11},   {"/C:", 11},
      {"/C:2147483648", 11}, {"abc/c:3", 3}, {"/C:0", 0},
  };
  for (const auto& [option, colour] : cases) {
    HighlightColour = DefaultHighlightColour;
    EXPECT_TRUE(ParseParameters({"term", option})) << option;
    EXPECT_EQ(HighlightColour, colour) << option;
    EXPECT_EQ(Terms(), (std::vector<std::string>{"TERM"})) << option;
  }
  EXPECT_TRUE(ParseParameters({"/C:4", "t", "/C:99", "/C:9", "/C:bad"}));  // last valid wins
  EXPECT_EQ(HighlightColour, 9);
}

TEST_F(ParseParametersTest, TheFirstMarkInTheOrderHelpColourLogWins) {
  EXPECT_TRUE(ParseParameters({"t", "/L:x/C:5"}));  // a colour option, not a log
  EXPECT_EQ(HighlightColour, 5);
  EXPECT_FALSE(LogEnabled);
  EXPECT_EQ(Terms(), (std::vector<std::string>{"T"}));
}

TEST_F(ParseParametersTest, TheLogIsCreatedUnderTheNameAsTyped) {
  const std::string name = InFolder("KB Août.txt");
  EXPECT_TRUE(ParseParameters({"08/2006", "KB", ".log", "/l:" + name}));
  EXPECT_TRUE(LogEnabled);
  EXPECT_EQ(LogFileName, name);
  EXPECT_TRUE(Exists(name));
  EXPECT_EQ(Terms(), (std::vector<std::string>{"08/2006", "KB", ".LOG"}));
}

TEST_F(ParseParametersTest, TheDefaultLogName) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(folder_), 0);
  EXPECT_TRUE(ParseParameters({"x", "/L:"}));
  EXPECT_EQ(LogFileName, "txtSHADE.log");
  EXPECT_TRUE(Exists("txtSHADE.log"));
  ASSERT_EQ(chdir(previous), 0);
}

TEST_F(ParseParametersTest, ALogThatCannotBeCreatedIsSaidAndTheScanGoesOn) {
  EXPECT_TRUE(ParseParameters({"/L:" + InFolder("missing/x.log"), "term", "/C:5"}));
  EXPECT_FALSE(LogEnabled);
  EXPECT_EQ(HighlightColour, 5);
  EXPECT_EQ(Written(), "txtSHADE: Erreur dans la création du fichier de sortie\r\n");
}

TEST_F(ParseParametersTest, ALaterLogTakesOverAndAFailedOneKeepsTheEarlier) {
  EXPECT_TRUE(ParseParameters({"t", "/L:" + InFolder("first"), "/L:" + InFolder("second")}));
  EXPECT_TRUE(LogEnabled);
  EXPECT_EQ(LogFileName, InFolder("second"));
  EXPECT_TRUE(Exists(InFolder("first")));
  CloseStream(LogFile);
  LogEnabled = false;

  EXPECT_TRUE(ParseParameters({"t", "/L:" + InFolder("third"), "/L:" + InFolder("no/such")}));
  EXPECT_TRUE(LogEnabled);
  WriteLine(LogFile, "still logging");
  EXPECT_EQ(InOutResult, 0u);
  EXPECT_EQ(std::string(LogFile.name), InFolder("third"));
}

}  // namespace
