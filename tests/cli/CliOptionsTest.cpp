// The command line of vallora-recover.
#include "ParseArgs.h"
#include "cli/CCliOptions.h"

#include <gtest/gtest.h>

#include <vector>

TEST(CliOptions, AcceptsSourceOutputAndSectorSize) {
    CCliOptions options;
    std::string error;
    ASSERT_TRUE(parseArgs({"--sector-size", "4096", "card.img", "out"}, options, error)) << error;
    EXPECT_EQ(options.sectorSize, 4096u);
    EXPECT_EQ(options.source, "card.img");
    EXPECT_EQ(options.outputDir, "out");

    CCliOptions other;
    ASSERT_TRUE(parseArgs({"-q", "--sector-size=512", "--", "-odd-name", "out"}, other, error));
    EXPECT_EQ(other.sectorSize, 512u);
    EXPECT_TRUE(other.quiet);
    EXPECT_EQ(other.source, "-odd-name");
    EXPECT_FALSE(other.thorough);

    CCliOptions thorough;
#if VALLORA_WITH_THOROUGH
    ASSERT_TRUE(parseArgs({"--thorough", "--keep-partial", "card.img", "out"}, thorough, error));
    EXPECT_TRUE(thorough.thorough);
    EXPECT_TRUE(thorough.keepPartial);
#else
    // A build without libjpeg says so rather than sweeping the default way.
    EXPECT_FALSE(parseArgs({"--thorough", "card.img", "out"}, thorough, error));
    EXPECT_NE(error.find("not part of this build"), std::string::npos) << error;
#endif
}

TEST(CliOptions, RejectsBadUsageWithAReason) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{}, "expected SOURCE and OUTPUT_DIR"},
        {{"only-source"}, "expected SOURCE and OUTPUT_DIR"},
        {{"a", "b", "c"}, "too many arguments"},
        {{"--frobnicate", "a", "b"}, "unknown option"},
        {{"--sector-size"}, "needs a value"},
        {{"--sector-size", "0", "a", "b"}, "invalid sector size"},
        {{"--sector-size", "1000", "a", "b"}, "invalid sector size"},
        {{"--sector-size", "256", "a", "b"}, "invalid sector size"},
        {{"--sector-size", "131072", "a", "b"}, "invalid sector size"},
        {{"--sector-size", "-512", "a", "b"}, "invalid sector size"},
        {{"--sector-size", "99999999999999999999", "a", "b"}, "invalid sector size"},
        {{"--sector-size", "4k", "a", "b"}, "invalid sector size"},
        {{"--keep-partial", "a", "b"}, "--keep-partial needs --thorough"},
    };
    for (const auto& c : cases) {
        CCliOptions options;
        std::string error;
        EXPECT_FALSE(parseArgs(c.args, options, error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(CliOptions, ResumeTakesTheFolderAndTheSourceOnly) {
    CCliOptions options;
    std::string error;
#ifdef _WIN32
    EXPECT_FALSE(parseArgs({"--resume", "out"}, options, error));
    EXPECT_NE(error.find("not part of the Windows program"), std::string::npos) << error;
#else
    ASSERT_TRUE(parseArgs({"--resume", "-q", "out"}, options, error)) << error;
    EXPECT_TRUE(options.resume);
    EXPECT_EQ(options.source, "");
    EXPECT_EQ(options.outputDir, "out");
    CCliOptions named;
    ASSERT_TRUE(parseArgs({"--force-output", "--resume", "/dev/sdc1", "out"}, named, error));
    EXPECT_EQ(named.source, "/dev/sdc1");
    EXPECT_TRUE(named.forceOutput);
    // The sweep goes on with the options it was started with.
    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"--resume"}, "--resume needs OUTPUT_DIR"},
        {{"--resume", "a", "b", "c"}, "too many arguments"},
        {{"--resume", "--fs", "raw", "out"}, "--fs cannot be given with --resume"},
        {{"--resume", "--sector-size=4096", "out"}, "--sector-size cannot be given"},
        {{"--resume", "--no-dates", "out"}, "--no-dates cannot be given"},
        {{"--no-report", "--resume", "out"}, "--no-report cannot be given"},
    };
    for (const auto& c : cases) {
        CCliOptions refused;
        EXPECT_FALSE(parseArgs(c.args, refused, error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
#endif
}

TEST(CliOptions, HelpNamesEveryOptionAndExitStatus) {
    const std::string help = CCliOptions::helpText();
    for (const char* word : {"--sector-size", "--quiet", "--help", "--version", "Ctrl-C",
                             "--thorough", "--keep-partial", "partial"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
    for (int status = 0; status <= 6; ++status)
        EXPECT_NE(help.find("\n  " + std::to_string(status) + "  "), std::string::npos) << status;
}
