#include "uri_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

namespace dravik {
namespace {

using Paths = std::vector<std::string>;

TEST(UriList, KeepsTheBytesOfEveryLocalFile) {
  // "ゲーム.fdi" in Shift-JIS, as a file manager encodes a name that is not
  // UTF-8; a UTF-8 name; a literal "%" that starts no escape.
  EXPECT_EQ(LocalPathsFromUriList("file:///tmp/%83Q%81%5B%83%80.fdi\r\n"
                                  "file:///tmp/%E3%82%B2%E3%83%BC%E3%83%A0.FDI\r\n"
                                  "file:///tmp/100%.img\r\n"
                                  "file:///tmp/a%2"),
            (Paths{"/tmp/\x83Q\x81[\x83\x80.fdi", "/tmp/ゲーム.FDI", "/tmp/100%.img", "/tmp/a%2"}));
}

TEST(UriList, LeavesOutWhatNamesNoLocalFile) {
  char host[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(gethostname(host, sizeof(host) - 1), 0);
  EXPECT_EQ(LocalPathsFromUriList("# a comment\n"
                                  "\n"
                                  "https://example.org/a.fdi\n"
                                  "file://elsewhere.invalid/b.fdi\n"
                                  "file:relative.fdi\n"
                                  "file:///nul%00.fdi\n"
                                  "file://localhost/c%20d.fdi\n"
                                  "FILE://LOCALHOST/e.fdi?x#y\n"
                                  "file:/f.fdi\n"
                                  "file://" +
                                  std::string(host) + "/g.fdi"),
            (Paths{"/c d.fdi", "/e.fdi", "/f.fdi", "/g.fdi"}));
}

}  // namespace
}  // namespace dravik
