// The studio's command line: its own options, a file after "--", and Qt's
// options handed on.
#include "app/StudioArguments.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vortigo {
namespace {

StudioArguments parse(std::vector<const char*> words) {
    words.insert(words.begin(), "vortigo");
    return parseStudioArguments(static_cast<int>(words.size()), words.data());
}

using Words = std::vector<std::string>;

TEST(StudioArguments, QtOptionsPassOnAndAFileAfterTheMarkMayLookLikeOne) {
    StudioArguments a =
        parse({"-platform", "offscreen", "--style=fusion", "-reverse", "scene.vort"});
    EXPECT_EQ(a.action, StudioArguments::Action::Run);
    EXPECT_EQ(a.file, "scene.vort");
    EXPECT_TRUE(a.platformChosen);
    EXPECT_EQ(a.qt, (Words{"vortigo", "-platform", "offscreen", "--style", "fusion", "-reverse"}));

    a = parse({"--", "-style"});
    EXPECT_EQ(a.action, StudioArguments::Action::Run);
    EXPECT_EQ(a.file, "-style");
    EXPECT_EQ(a.qt, Words{"vortigo"}) << "Qt must not take the file for its option";
    EXPECT_FALSE(a.platformChosen);

    EXPECT_EQ(parse({"--", "--help"}).file, "--help");
    EXPECT_EQ(parse({"x.vorn", "--help"}).action, StudioArguments::Action::Help);
}

TEST(StudioArguments, UnknownOptionsMissingValuesAndSecondFilesAreRefused) {
    for (const auto& words : {std::vector<const char*>{"--frobnicate"},
                              {"-platform"},
                              {"a.vort", "b.vort"},
                              {"-stylex", "fusion"}}) {
        const StudioArguments a = parse(words);
        EXPECT_EQ(a.action, StudioArguments::Action::Error) << words[0];
        EXPECT_FALSE(a.error.empty());
    }
}

} // namespace
} // namespace vortigo
