// One version everywhere a user meets it, from project(VERSION) in
// CMakeLists.txt: --version, the man page, the Matroska writing-app name
// and the changelog's newest section; and a man page that renders.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "harness.h"

namespace {

const std::string version = CLIPSPOUT_TEST_VERSION;

std::string source_file(const std::string& name)
{
    std::ifstream in(std::string(TEST_SOURCE_DIR) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string first_line_starting(const std::string& text, const std::string& prefix)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(prefix, 0) == 0)
            return line;
    return "";
}

}  // namespace

TEST(Release, OneVersionEverywhere)
{
    const run_result told = run_tool({"--version"});
    EXPECT_EQ(lf_text(told.out).substr(0, lf_text(told.out).find('\n')), "clipspout " + version);

    const std::string man = read_file(std::string(TEST_BUILD_DIR) + "/clipspout.1");
    EXPECT_NE(first_line_starting(man, ".TH ").find("\"clipspout " + version + "\""), std::string::npos)
        << first_line_starting(man, ".TH ");

    const run_result mkv = run_tool({"mkv", write_script("release.avs", "BlankClip(length=2, width=16, height=16, "
                                                                         "pixel_type=\"YV12\")\n")});
    ASSERT_EQ(mkv.status, 0) << mkv.err;
    EXPECT_NE(mkv.out.find("clipspout " + version), std::string::npos) << "the writing app names another version";

    // The newest version's section, under the changes not yet released.
    std::string changelog = source_file("CHANGELOG.md");
    if (first_line_starting(changelog, "## ") == "## Unreleased")
        changelog = changelog.substr(changelog.find("## Unreleased") + 13);
    EXPECT_EQ(first_line_starting(changelog, "## "), "## " + version)
        << "the changelog's newest section is not this version's";
}

// The man page goes into every archive and the package: it renders
// without a warning, and holds no control byte (a form feed where \fB was
// meant renders as "Bx265 ...R").
TEST(Release, TheManPageRendersCleanly)
{
    const std::string page = std::string(TEST_BUILD_DIR) + "/clipspout.1";
    int status = -1;
    const std::string warnings = shell("groff -man -ww -z '" + page + "' 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(warnings, "");
    const std::string text = read_file(page);
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 && c != '\n' && c != '\t') {
            ADD_FAILURE() << "control byte " << static_cast<int>(c) << " at offset " << i;
            break;
        }
    }
}
