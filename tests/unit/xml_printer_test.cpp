#include <string>

#include "gtest/gtest.h"
#include "system_info.h"

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

std::string printed(const std::string& sText) {
    CaptureStdout();
    EXPECT_EQ(DumpXmlTree(sText.c_str()), 0);
    return GetCapturedStdout();
}

TEST(DumpXmlTree, WorkedExample) {
    EXPECT_EQ(printed("<a><b>x</b><c/></a>"), "<a>\n  <b>\n    x\n  </b>\n  <c/>\n  </a>\n");
}

TEST(DumpXmlTree, TextAndClosingTags) {
    // Text followed by an opening tag stays on its line.
    EXPECT_EQ(printed("<r>t<a/></r>"), "<r>\n  t  <a/>\n  </r>\n");
    // A closing tag after text starts a new line at its opening tag's depth.
    EXPECT_EQ(printed("<a><b>text</b></a>"), "<a>\n  <b>\n    text\n  </b>\n  </a>\n");
    // A closing tag right after a tag end follows the blanks already written.
    EXPECT_EQ(printed("<a></a>"), "<a>\n  </a>\n");
}

TEST(DumpXmlTree, DeclarationsAndCommentsOpenALevelThatNeverCloses) {
    EXPECT_EQ(printed("<?xml version=\"1.0\"?><a/>"), "<?xml version=\"1.0\"?>\n  <a/>\n  ");
    EXPECT_EQ(printed("<!-- c --><a>x</a>"), "<!-- c -->\n  <a>\n    x\n  </a>\n  ");
}

TEST(DumpXmlTree, NegativeDepthIndentsByItsMagnitude) {
    EXPECT_EQ(printed("</a></b>x"), "\n  </a>\n  </b>\n    x");
    EXPECT_EQ(printed("x/>y"), "x/>\n  y");
}

TEST(DumpXmlTree, PlainTextLineFeedsAndSlashes) {
    EXPECT_EQ(printed(""), "");
    EXPECT_EQ(printed("line one\nline two\r\n"), "line oneline two\r");
    EXPECT_EQ(printed("<a href=\"x/y\">z</a>"), "<a href=\"x/y\">\n  z\n</a>\n");
    EXPECT_EQ(printed("\t'q' \xc3\xa4\xff"), "\t'q' \xc3\xa4\xff");  // bytes of 128 and above unchanged
}

TEST(DumpXmlTree, NullTextPrintsNothing) {
    CaptureStdout();
    EXPECT_EQ(DumpXmlTree(nullptr), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
}

}  // namespace
