// Every generated disk of every standard shape through every writer of the
// program folder, and back through every reader that takes the result: all
// of them must give back the disk that went in. Sector order within a track
// may change (some formats store a 2:1 interleave), contents may not.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "disk_builder.h"
#include "format_files.h"
#include "slf_image.h"
#include "vfl_image.h"
#include "test_support.h"

namespace dravik {
namespace {

std::vector<std::string> PluginFiles(const std::string& suffix) {
  std::vector<std::string> names;
  for (const std::string& name : test::ListFolder(test::ProgramDir())) {
    if (name.size() > suffix.size() && name.ends_with(suffix)) names.push_back(name);
  }
  return names;
}

// One track as a map from its IDs to their data.
using Track = std::map<std::vector<uint8_t>, std::vector<uint8_t>>;

std::vector<Track> Tracks(const DiskImage& image) {
  std::vector<Track> tracks(image.track_count);
  size_t cursor = 0;
  for (int t = 0; t < kMaxTracks; ++t) {
    for (const SectorId& id : image.ids[t]) {
      if (IsEmptySlot(&id)) continue;
      const uint32_t len = SectorLength(id.n);
      if (t < image.track_count && cursor + len <= kDataCapacity) {
        const uint8_t* raw = reinterpret_cast<const uint8_t*>(&id);
        tracks[t][std::vector<uint8_t>(raw, raw + sizeof(SectorId))] =
            std::vector<uint8_t>(image.data + cursor, image.data + cursor + len);
      }
      cursor += len;
    }
  }
  return tracks;
}

// For formats of a few fixed shapes: a builder answers nothing for the
// others.
bool HasShape(const DiskImage& d, int tracks, int sectors, int n) {
  return d.track_count == tracks && d.sectors_per_track == sectors && d.size_code == n &&
         d.ids[0][0].n == n;
}

// What each plug-in of the program folder tells the program about itself.
TEST(FormatMatrix, EveryPluginIdentifiesItself) {
  struct Identity {
    const char* file;
    int kind;
    const char* description;
    std::vector<int> caps;
    const char* extension;  // nullptr: left untouched
    const char* label;
  };
  const Identity identities[] = {
      {"d88_reader.dvr", kKindInput, "D88形式入力Plug-in Ver.1.00", {0, 9}, nullptr, nullptr},
      {"fdd_reader.dvr", kKindInput, "FDD形式入力Plug-in Ver.1.00", {0, 9}, nullptr, nullptr},
      {"fdi_reader.dvr", kKindInput, "FDI形式入力Plug-in Ver.1.01", {0}, nullptr, nullptr},
      {"tfd_reader.dvr", kKindInput, "TFD/BKDSK形式入力Plug-in Ver.1.01", {0}, nullptr, nullptr},
      {"press1_reader.dvr", kKindInput, "Press1形式入力Plug-in Ver.1.01", {0, 9}, nullptr, nullptr},
      {"mahalito_reader.dvr", kKindInput, "MAHALITO形式入力Plug-in Ver.1.00", {0}, nullptr,
       nullptr},
      {"nfd_reader.dvr", kKindInput, "NFD形式入力Plug-in Ver.1.00", {0, 9}, nullptr, nullptr},
      {"slf_reader.dvr", kKindInput, "SLF形式入力Plug-in Ver.1.01", {0, 9}, nullptr, nullptr},
      {"vfl_reader.dvr", kKindInput, "VFL/VFZ形式入力Plug-in Ver.1.00", {0, 9}, nullptr, nullptr},
      {"dip_reader.dvr", kKindInput, "DIP形式入力Plug-in Ver.1.01", {0, 9}, nullptr, nullptr},
      {"hdi_thd_converter.dvr", kKindInput, "HDI/THD形式変換Plug-in Ver.1.00", {1}, ".   ",
       nullptr},
      {"fim_reader.dvr", kKindInput, "FIM形式入力Plug-in Ver.1.01", {0, 9}, nullptr, nullptr},
      {"dcp_reader.dvr", kKindInput, "DCP/DCU形式入力Plug-in Ver.1.00", {0}, nullptr, nullptr},
      {"fix_reader.dvr", kKindInput, "FIX形式入力Plug-in Ver.1.02", {0, 9}, nullptr, nullptr},
      {"std_reader.dvr", kKindInput, "STDFILE形式入力Plug-in Ver.1.01", {0, 8}, nullptr, nullptr},
      {"dfcnv_reader.dvr", kKindInput, "DFCNV形式変換Plug-in Ver.0.11β", {0, 8, 9}, nullptr,
       nullptr},
      {"d88_writer.dvw", kKindOutput, "D88形式出力Plug-in Ver.1.00", {0}, ".D88", "D88形式"},
      {"fdd_writer.dvw", kKindOutput, "FDD形式出力Plug-in Ver.1.00", {0}, ".FDD",
       "FDD形式(Virtual98用)"},
      {"fdi_writer.dvw", kKindOutput, "FDI形式出力Plug-in Ver.1.04", {0}, ".FDI",
       "FDI形式(Anex86用)"},
      {"tfd_writer.dvw", kKindOutput, "TFD形式出力Plug-in Ver.1.02", {0}, ".TFD", "TFD形式(T98用)"},
      {"bkdsk_writer.dvw", kKindOutput, "BKDSK形式出力Plug-in Ver.1.01", {0}, ".HDM", "BKDSK形式"},
      {"file_extractor.dvw", kKindOutput, "FILE出力Plug-in Ver.1.11", {0, 9}, ".", "FILE形式"},
  };
  for (const Identity& id : identities) {
    SCOPED_TRACE(id.file);
    ASSERT_TRUE(test::FileExists(test::ProgramDir() + id.file));
    const test::LoadedPlugin plugin(test::ProgramDir() + id.file);
    EXPECT_EQ(plugin.kind(), id.kind);
    EXPECT_EQ(plugin.interface_version(), kInterfaceVersion);
    EXPECT_EQ(plugin.description(), id.description);
    std::vector<int> caps;
    for (int i = 0; i < kCapsSize; ++i) {
      if (plugin.caps()[i] != 0) caps.push_back(i);
    }
    EXPECT_EQ(caps, id.caps);
    EXPECT_EQ(plugin.extension(), id.extension == nullptr ? "" : id.extension);
    EXPECT_EQ(plugin.label(), id.label == nullptr ? "" : id.label);
  }
}

TEST(FormatMatrix, EveryWriterAndReaderAgree) {
  const std::vector<std::string> writers = PluginFiles(".dvw");
  const std::vector<std::string> readers = PluginFiles(".dvr");
  if (writers.empty() || readers.empty()) GTEST_SKIP() << "no format plug-ins built";
  std::vector<test::LoadedPlugin> loaded_readers;
  for (const std::string& r : readers) loaded_readers.emplace_back(test::ProgramDir() + r);

  std::set<std::string> read_back;  // writer/shape pairs some reader took
  for (const test::DiskShape& shape : test::StandardShapes()) {
    auto disk = test::NewDiskImage();
    test::BuildDisk(*disk, shape, 42);
    const std::vector<Track> expected = Tracks(*disk);
    for (const std::string& writer_name : writers) {
      SCOPED_TRACE(writer_name + " / " + shape.name);
      const test::LoadedPlugin writer(test::ProgramDir() + writer_name);
      test::TempDir out;
      auto copy = test::NewDiskImage();
      std::memcpy(copy.get(), disk.get(), sizeof(DiskImage));
      const auto written = writer.WriteDisk(*copy, out / "DISK.OUT");
      if (written.result != kResultOk) {
        // A format that cannot hold the shape says so and writes nothing
        // readable; that is fine, silence is not.
        EXPECT_EQ(written.result, kResultFailed);
        EXPECT_FALSE(written.message.empty());
        continue;
      }
      for (const std::string& file : test::ListFolder(out.path())) {
        const std::string path = out / file;
        for (size_t r = 0; r < readers.size(); ++r) {
          if (loaded_readers[r].IsSupport(path).result != kResultOk) continue;
          SCOPED_TRACE("read by " + readers[r]);
          auto back = test::NewDiskImage();
          const auto read = loaded_readers[r].ReadDisk(path, *back);
          ASSERT_EQ(read.result, kResultOk) << read.message;
          EXPECT_TRUE(Tracks(*back) == expected) << test::CompareDisks(*disk, *back);
          read_back.insert(writer_name + " " + shape.name);
        }
      }
    }
  }
  // Each image writer's own format is read back for at least one shape.
  for (const std::string& writer_name : writers) {
    if (writer_name == "file_extractor.dvw") continue;  // writes folders
    bool any = false;
    for (const std::string& pair : read_back) any = any || pair.starts_with(writer_name + " ");
    EXPECT_TRUE(any) << writer_name << " wrote nothing any reader takes";
  }
}

// Formats this program only reads: each standard shape, laid out in the
// format by test code, comes back whole through its reader, and no other
// reader claims the file.
TEST(FormatMatrix, SourceOnlyFormatsGiveBackEveryShape) {
  struct Source {
    const char* reader;
    const char* extension;
    // The file's bytes, or nothing for a shape the format cannot hold.
    std::vector<uint8_t> (*build)(const DiskImage&);
  };
  const Source sources[] = {
      {"slf_reader.dvr", ".SLF",
       [](const DiskImage& d) {
         return test::SlfFile({test::SlfRecordOf(d, test::SlfStorage::kRaw)});
       }},
      // One sector size a volume: the mixed 2HD shape has no VFL form.
      {"vfl_reader.dvr", ".VFL",
       [](const DiskImage& d) {
         if (d.ids[0][0].n != d.size_code) return std::vector<uint8_t>();
         return test::VflVolumeBytes(test::VflVolumeOf(d, 0, test::VflStorage::kRaw, false));
       }},
      {"dip_reader.dvr", ".DIP",
       [](const DiskImage& d) { return HasShape(d, 154, 8, 3) ? test::DipFile(d, "") : test::Bytes{}; }},
      {"fim_reader.dvr", ".FIM",
       [](const DiskImage& d) {
         const bool known = HasShape(d, 160, 8, 2) || HasShape(d, 160, 9, 2) ||
                            HasShape(d, 154, 26, 1) || HasShape(d, 160, 15, 2) ||
                            HasShape(d, 154, 8, 3) || HasShape(d, 160, 18, 2);
         return known ? test::FimFile(d, "") : test::Bytes{};
       }},
      // A DCU file: every track stored, whatever the map says.
      {"dcp_reader.dvr", ".DCU",
       [](const DiskImage& d) {
         const int type = HasShape(d, 154, 8, 3)    ? 1
                          : HasShape(d, 160, 15, 2) ? 2
                          : HasShape(d, 160, 18, 2) ? 3
                          : HasShape(d, 160, 8, 2)  ? 4
                                                    : 0;
         return type != 0 ? test::DcpFile(d, type, test::Bytes(160, 0), true) : test::Bytes{};
       }},
      // IDs as stored: every shape.
      {"fix_reader.dvr", ".FIX", [](const DiskImage& d) { return test::FixFile(d, {.mode = 20}); }},
      // R, N and density per sector: every shape.
      {"std_reader.dvr", ".STD", [](const DiskImage& d) { return test::StdFile(d); }},
      // One N per track: every shape.
      {"dfcnv_reader.dvr", ".DFC", [](const DiskImage& d) { return test::DfcnvFile(d, ""); }},
  };
  const std::vector<std::string> readers = PluginFiles(".dvr");
  std::vector<test::LoadedPlugin> loaded_readers;
  for (const std::string& r : readers) loaded_readers.emplace_back(test::ProgramDir() + r);
  for (const Source& source : sources) {
    const test::LoadedPlugin reader = test::LoadBuiltPlugin(source.reader);
    for (const test::DiskShape& shape : test::StandardShapes()) {
      SCOPED_TRACE(std::string(source.reader) + " / " + shape.name);
      auto disk = test::NewDiskImage();
      test::BuildDisk(*disk, shape, 42);
      const std::vector<uint8_t> bytes = source.build(*disk);
      if (bytes.empty()) continue;
      test::TempDir dir;
      const std::string path = dir / (std::string("DISK") + source.extension);
      test::WriteFile(path, bytes);
      auto back = test::NewDiskImage();
      const auto read = reader.ReadDisk(path, *back);
      ASSERT_EQ(read.result, kResultOk) << read.message;
      EXPECT_TRUE(Tracks(*back) == Tracks(*disk)) << test::CompareDisks(*disk, *back);
      for (size_t r = 0; r < readers.size(); ++r) {
        if (readers[r] == source.reader) continue;
        EXPECT_NE(loaded_readers[r].IsSupport(path).result, kResultOk) << readers[r];
      }
    }
  }
}

// What a user's files go through when a write goes wrong, for every image
// writer: an older file of the output's name survives an abort and a full
// disk whole, a link there is replaced rather than written through, and
// nothing else is left in the folder. Each writer names its file itself
// (BKDSK by the disk's shape), so the first clean write tells the name.
TEST(FormatMatrix, EveryImageWriterReplacesAFileOnlyWithACompleteOne) {
  auto disk = test::NewDiskImage();
  test::BuildDisk(*disk, test::ShapeNamed("1.25M"), 7);  // a shape every image format holds
  for (const std::string& writer_name : PluginFiles(".dvw")) {
    if (writer_name == "file_extractor.dvw") continue;  // writes folders
    SCOPED_TRACE(writer_name);
    const test::LoadedPlugin writer(test::ProgramDir() + writer_name);
    auto copy = test::NewDiskImage();
    auto write = [&](const std::string& path, int abort_at = 0) {
      std::memcpy(copy.get(), disk.get(), sizeof(DiskImage));
      return writer.WriteDisk(*copy, path, 0, abort_at);
    };
    test::TempDir dir;
    const std::string given = dir / "GAME.OUT";
    ASSERT_EQ(write(given).result, kResultOk);
    const std::vector<std::string> written = test::ListFolder(dir.path());
    ASSERT_EQ(written.size(), 1u);
    const std::string path = dir / written[0];
    const std::string good = test::ReadFile(path);

    test::WriteFile(path, "an older file");
    const auto aborted = write(given, 3);
    EXPECT_EQ(aborted.result, kResultAborted);
    EXPECT_EQ(test::ReadFile(path), "an older file");
    const int full = test::RunWithFileSizeLimit(good.size() / 2, [&] {
      const auto r = write(given);
      return r.result == kResultWriteError && r.message.empty() ? 0 : 100 + r.result;
    });
    EXPECT_EQ(full, 0);
    EXPECT_EQ(test::ReadFile(path), "an older file");
    EXPECT_EQ(test::ListFolder(dir.path()), written);

    test::TempDir elsewhere;
    test::WriteFile(elsewhere / "victim", "keep");
    unlink(path.c_str());
    ASSERT_EQ(symlink((elsewhere / "victim").c_str(), path.c_str()), 0);
    ASSERT_EQ(write(given).result, kResultOk);
    EXPECT_TRUE(test::ReadFile(path) == good);
    EXPECT_EQ(test::ReadFile(elsewhere / "victim"), "keep");
    unlink(path.c_str());
    ASSERT_EQ(symlink((elsewhere / "missing").c_str(), path.c_str()), 0);
    ASSERT_EQ(write(given).result, kResultOk);
    EXPECT_EQ(test::ListFolder(elsewhere.path()), std::vector<std::string>{"victim"});

    const auto unopenable = write(dir / "missing/GAME.OUT");
    EXPECT_EQ(unopenable.result, kResultFailed);
    EXPECT_TRUE(unopenable.message.starts_with("\r\n変換先ファイルオープンエラー\r\n" + dir.path() +
                                               "missing/GAME."))
        << unopenable.message;
    EXPECT_TRUE(unopenable.message.ends_with(": No such file or directory")) << unopenable.message;
  }
}

}  // namespace
}  // namespace dravik
