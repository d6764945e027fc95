#include "app/about_lines.h"

#include <gtest/gtest.h>

namespace {

// "1.2" of "1.2.0.1": the title names major.minor of the project's version.
std::string MajorMinor(const std::string& version) {
    return version.substr(0, version.find('.', version.find('.') + 1));
}

TEST(AboutLines, TitleEmptyLineCreditAndContact) {
    const std::vector<std::string> lines = about::AboutLines(QUILLON_CONTACT);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "             QUILLON v" + MajorMinor(QUILLON_PROJECT_VERSION));
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "            Designed by the Quillon team");
    EXPECT_EQ(lines[3], std::string(23, ' ') + QUILLON_CONTACT);
}

TEST(AboutLines, ContactIsTheBuildsAddress) {
    EXPECT_EQ(about::AboutLines("ops@example.net")[3], "                       ops@example.net");
}

}  // namespace
