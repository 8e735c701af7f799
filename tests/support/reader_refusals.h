// What every disk-image reader answers alike, whatever its format: a direct
// conversion is refused, and a missing file is met with the shared
// open-failure text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace dravik::test {

// existing: a file of the reader's format; missing: a path where no file is;
// missing_support: what the reader's IsSupport answers for a file it cannot
// open (readers differ there). output: where a direct conversion would go.
inline void ExpectDirectRefusedAndMissingFileReported(const LoadedPlugin& reader,
                                                      const std::string& existing,
                                                      const std::string& missing,
                                                      const std::string& output,
                                                      DiskImage& image, int missing_support) {
  for (const std::string& source : {existing, missing}) {
    const auto direct = reader.ReadDirect(source, output);
    EXPECT_EQ(direct.result, kResultFailed) << source;
    EXPECT_EQ(direct.message, "\r\n未対応の変換です。") << source;
  }
  EXPECT_EQ(reader.IsSupport(missing).result, missing_support);
  for (const auto& r : {reader.GetFileInfo(missing), reader.ReadDisk(missing, image)}) {
    EXPECT_EQ(r.result, kResultFailed);
    // The shared text first; a line naming the file and the reason may follow.
    EXPECT_TRUE(r.message.starts_with("\r\n変換元ファイルオープンエラー")) << r.message;
  }
}

}  // namespace dravik::test
