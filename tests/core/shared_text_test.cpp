// The helpers several layers share: ASCII lower-casing and percent-escapes whatever the locale,
// and the file-write error both service managers report.
#include <gtest/gtest.h>

#include <cerrno>

#include "core/plist/ascii_text.h"
#include "platform/api/file_error.h"
#include "support/comma_locale.h"

namespace vl {
namespace {

TEST(SharedText, LowerCasingAndEscapesIgnoreTheLocale) {
  test::CommaLocale locale;  // the user's locale, as a Qt program sets it
  // Only A-Z change: the bytes of other characters stay as they are.
  EXPECT_EQ(pl::asciiLower("HIDMouse \xc3\x84-Key_Z"), "hidmouse \xc3\x84-key_z");
  // One rule, two callers: a query value keeps only the unreserved characters, a file URI's
  // path keeps its slashes too; a NUL is never kept.
  EXPECT_EQ(pl::percentEscape("/a b/\xc3\xa9~"), "%2Fa%20b%2F%C3%A9~");
  EXPECT_EQ(pl::percentEscape("/a b/\xc3\xa9~", "/"), "/a%20b/%C3%A9~");
  EXPECT_EQ(pl::percentEscape(std::string_view("a\0b", 3), "/"), "a%00b");
}

TEST(SharedText, FileWriteErrorNamesTheFileAndKeepsTheErrno) {
  struct Case {
    int err;
    int64_t code;
  } cases[] = {{EACCES, 513}, {EPERM, 513}, {EROFS, 642}, {ENOSPC, 640}, {EIO, 512}};
  for (const auto& c : cases) {
    ErrorInfo e = fileWriteError(c.err, "/home/u/.config/systemd/user/velmora.service");
    EXPECT_EQ(e.domain, "NSCocoaErrorDomain");
    EXPECT_EQ(e.code, c.code) << c.err;
    const std::string* text = e.userInfo[kDescriptionKey].asString();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->rfind("The file \xe2\x80\x9cvelmora.service\xe2\x80\x9d couldn\xe2\x80\x99t be saved: ", 0), 0u) << *text;
    EXPECT_EQ(e.userInfo["NSFilePath"], pl::Value("/home/u/.config/systemd/user/velmora.service"));
    const pl::Value& under = e.userInfo[kUnderlyingErrorKey];
    ASSERT_TRUE(under.isDict());
    EXPECT_EQ(under.asDict()->at("domain"), pl::Value("NSPOSIXErrorDomain"));
    EXPECT_EQ(under.asDict()->at("code").intValue(), c.err);
  }
}

// A port reports a failed write as a Status; the error object the caller presents is rebuilt
// from it unchanged, and a write that failed without an errno never reads as success.
TEST(SharedText, FileWriteFailureRebuildsTheSameErrorObject) {
  const std::string path = "/home/u/Library/LaunchAgents/quillon.Velmora.boa.plist";
  for (int err : {EACCES, EROFS, ENOSPC, EIO}) {
    Status failed = fileWriteFailure(err, path);
    EXPECT_FALSE(failed);
    ErrorInfo rebuilt = fileWriteError(failed);
    ErrorInfo direct = fileWriteError(err, path);
    EXPECT_EQ(rebuilt.domain, direct.domain);
    EXPECT_EQ(rebuilt.code, direct.code) << err;
    EXPECT_EQ(rebuilt.userInfo, direct.userInfo) << err;
  }
  Status unexplained = fileWriteFailure(0, path);
  EXPECT_FALSE(unexplained);
  EXPECT_EQ(fileWriteError(unexplained).code, 512);
  EXPECT_EQ(fileWriteDescription(unexplained), *fileWriteError(EIO, path).userInfo[kDescriptionKey].asString());
}

}  // namespace
}  // namespace vl
