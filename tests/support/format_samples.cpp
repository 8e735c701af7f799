#include "format_samples.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "archive_expander.h"
#include "dravik/plugin_api.h"
#include "format_files.h"
#include "mahalito_pair.h"
#include "nfd_image.h"
#include "press1_file.h"
#include "shared_library.h"
#include "slf_image.h"
#include "vfl_image.h"

namespace dravik::test {
namespace {

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Quiet(int, int, char* message) {
  if (message != nullptr) message[0] = '\0';
  return 0;
}

// A format this program writes too: the file its writer makes.
InputFormat::Maker Written(const std::string& writer, int copies = 1) {
  return [=](const DiskImage& disk, const std::string& base, const std::string& program_dir) {
    SampleFiles files = WrittenBy(program_dir + writer, disk, base);
    if (files.size() != 1) return SampleFiles{};
    const Bytes one = files[0].bytes;
    for (int i = 1; i < copies; ++i) files[0].bytes.insert(files[0].bytes.end(), one.begin(), one.end());
    return files;
  };
}

// One file laid out by a builder of this folder; build answers no bytes for
// a disk the format cannot hold.
InputFormat::Maker Made(const std::string& extension, std::function<Bytes(const DiskImage&)> build) {
  return [=](const DiskImage& disk, const std::string& base, const std::string&) {
    Bytes bytes = build(disk);
    if (bytes.empty()) return SampleFiles{};
    return SampleFiles{{base + extension, std::move(bytes)}};
  };
}

// Whether every row below track_count holds the regular sectors of the
// disk's geometry, which formats without a table of IDs require.
bool Regular(const DiskImage& d) {
  for (int t = 0; t < d.track_count; ++t) {
    for (int s = 0; s < kMaxSectorsPerTrack; ++s) {
      const bool used = !IsEmptySlot(&d.ids[t][s]);
      if (used != (s < d.sectors_per_track)) return false;
      if (used && d.ids[t][s].n != d.size_code) return false;
    }
  }
  return true;
}

// The VFL media type of a regular disk, or -1 when VFL has none for it.
int VflMedia(const DiskImage& d) {
  const struct {
    int tracks, sectors, n, media;
  } media[] = {{154, 8, 3, 0}, {160, 15, 2, 1}, {160, 18, 2, 2}, {160, 9, 2, 3}, {160, 8, 2, 4}};
  if (!Regular(d)) return -1;
  for (const auto& m : media) {
    if (d.track_count == m.tracks && d.sectors_per_track == m.sectors && d.size_code == m.n) {
      return m.media;
    }
  }
  return -1;
}

Bytes SlfOf(const DiskImage& d, int records) {
  std::vector<SlfRecord> chain(records, SlfRecordOf(d, SlfStorage::kPacked));
  return SlfFile(chain);
}

Bytes VfzOf(const DiskImage& d, int volumes) {
  const int media = VflMedia(d);
  if (media < 0) return {};
  const VflVolume volume = VflVolumeOf(d, media, VflStorage::kPacked, false);
  return VfzFile(std::vector<VflVolume>(volumes, volume), "SAMPLE");
}

// The regular shape of a disk, when it is one of shapes.
bool IsShape(const DiskImage& d, const std::string& shape) {
  const DiskShape& s = ShapeNamed(shape);
  return Regular(d) && d.track_count == s.tracks && d.sectors_per_track == s.sectors &&
         d.size_code == s.size_code && d.ids[0][0].mfm == 1;
}

// Press1 keeps the regular 2DD and 2HD shapes, each under its disk type.
Bytes Press1Of(const DiskImage& d) {
  const struct {
    const char* shape;
    uint8_t type, sub_type;
  } types[] = {{"640K", 2, 8}, {"1.44M", 2, 18}, {"1.25M", 4, 0}};
  for (const auto& t : types) {
    if (!IsShape(d, t.shape)) continue;
    // Cylinder 0 compressed, 1 raw, the rest as their first byte: a sweep
    // decodes the file a thousand times, and one compressed cylinder is
    // what the decoder needs to be reached. The file is not the disk then.
    const auto storage = [](int c) -> uint8_t { return c == 0 ? 1 : c == 1 ? 0 : 3; };
    const std::string game = "\x83\x51\x81\x5B\x83\x80";  // "ゲーム"
    return Press1File({{&d, t.type, t.sub_type, game, storage}}, game);
  }
  return {};
}

// DCP and DCU know the 1.25M and 640K shapes by a media type; the map
// marks the tracks the disk has.
Bytes DcpOf(const DiskImage& d, bool every_track) {
  const int type = IsShape(d, "1.25M") ? 1 : IsShape(d, "640K") ? 4 : 0;
  if (type == 0) return {};
  Bytes map(160, 0);
  std::fill(map.begin(), map.begin() + d.track_count, 1);
  return DcpFile(d, type, map, every_track);
}

SampleFiles MahalitoOf(const DiskImage& d, const std::string& base, const std::string&) {
  std::string header;
  if (d.ids[0][0].mfm == 0) {
    // A mixed disk is what the newest version was made for; it stores a
    // cylinder range.
    header = kMahalitoSigRange + '\x01' + static_cast<char>(1 + d.track_count / 2);
  } else if (d.track_count == 160 && d.sectors_per_track <= 9) {
    header = kMahalitoSig2dd + static_cast<char>(d.track_count / 2);
  } else {
    header = kMahalitoSig2hd + static_cast<char>(d.track_count / 2);
  }
  const MahalitoPair pair = MahalitoFiles(d, header);
  return {{base + ".2HD", Bytes(pair.id.begin(), pair.id.end())},
          {base + ".dat", Bytes(pair.dat.begin(), pair.dat.end())}};
}

}  // namespace

const std::vector<InputFormat>& InputFormats() {
  static const std::vector<InputFormat> formats = {
      {"FDD", "fdd_reader.dvr", Written("fdd_writer.dvw")},
      {"FDI", "fdi_reader.dvr", Written("fdi_writer.dvw")},
      {"TFD", "tfd_reader.dvr", Written("tfd_writer.dvw")},
      {"BKDSK", "tfd_reader.dvr", Written("bkdsk_writer.dvw")},
      {"D88", "d88_reader.dvr", Written("d88_writer.dvw")},
      {"D88x3", "d88_reader.dvr", Written("d88_writer.dvw", 3)},
      {"SLF", "slf_reader.dvr", Made(".SLF", [](const DiskImage& d) { return SlfOf(d, 1); })},
      {"SLFx2", "slf_reader.dvr", Made(".SLF", [](const DiskImage& d) { return SlfOf(d, 2); })},
      {"VFL", "vfl_reader.dvr", Made(".VFL", [](const DiskImage& d) {
         const int media = VflMedia(d);
         if (media < 0) return Bytes{};
         return VflVolumeBytes(VflVolumeOf(d, media, VflStorage::kPacked, false));
       })},
      {"VFZx2", "vfl_reader.dvr", Made(".VFZ", [](const DiskImage& d) { return VfzOf(d, 2); })},
      {"MAHALITO", "mahalito_reader.dvr", MahalitoOf},
      {"NFDr0", "nfd_reader.dvr", Made(".NFD", [](const DiskImage& d) {
         return NfdImage(d, NfdRevision(0, SjisGameTitle(5)));
       })},
      {"NFDr1", "nfd_reader.dvr", Made(".NFD", [](const DiskImage& d) {
         return NfdImage(d, NfdRevision(1, SjisGameTitle(6)));
       })},
      {"Press1", "press1_reader.dvr", Made(".P1", Press1Of)},
      {"DIP", "dip_reader.dvr", Made(".DIP", [](const DiskImage& d) {
         return IsShape(d, "1.25M") ? DipFile(d, SjisGameTitle(1)) : Bytes{};
       })},
      {"FIX", "fix_reader.dvr", Made(".FIX", [](const DiskImage& d) {
         return FixFile(d, {0, 0, "FIX", SjisGameTitle(2)});
       })},
      {"FIM", "fim_reader.dvr", Made(".FIM", [](const DiskImage& d) {
         // Only the sizes of its table; each has 154 tracks or more.
         return Regular(d) && d.track_count >= 154 ? FimFile(d, SjisGameTitle(3)) : Bytes{};
       })},
      {"DCP", "dcp_reader.dvr", Made(".DCP", [](const DiskImage& d) { return DcpOf(d, false); })},
      {"DCU", "dcp_reader.dvr", Made(".DCU", [](const DiskImage& d) { return DcpOf(d, true); })},
      {"STDFILE", "std_reader.dvr", Made(".STD", [](const DiskImage& d) { return StdFile(d); })},
      {"DFcnv", "dfcnv_reader.dvr", Made(".DFC", [](const DiskImage& d) {
         return DfcnvFile(d, SjisGameTitle(4));
       })},
  };
  return formats;
}

const std::vector<DiskShape>& SampleShapes() {
  static const std::vector<DiskShape> shapes = [] {
    std::vector<DiskShape> all = {{"4x4x128", 4, 4, 0}};
    for (const DiskShape& s : StandardShapes()) all.push_back(s);
    return all;
  }();
  return shapes;
}

void BuildSampleDisk(DiskImage& disk, const DiskShape& shape, uint32_t seed) {
  // "サンプル" in Shift-JIS.
  BuildDisk(disk, shape, seed, "\x83\x54\x83\x93\x83\x76\x83\x8B");
  FillWithMixedContent(disk, seed);
}

SampleFiles WrittenBy(const std::string& writer_path, const DiskImage& disk,
                      const std::string& base) {
  const SharedLibrary library = SharedLibrary::Open(writer_path);
  const auto write = reinterpret_cast<WriteDiskFn>(library.Symbol("WriteDisk"));
  if (write == nullptr) throw std::runtime_error("cannot load " + writer_path);
  const std::string folder = MakePrivateTempFolder();
  if (folder.empty()) throw std::runtime_error("cannot make a temporary folder");
  auto copy = std::make_unique<DiskImage>();
  std::memcpy(copy.get(), &disk, sizeof(DiskImage));
  char message[kMessageSize] = {};
  SampleFiles files;
  if (write(copy.get(), (folder + base + ".OUT").c_str(), 0, &Quiet, message) == kResultOk) {
    if (DIR* dir = opendir(folder.c_str())) {
      while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") files.push_back({name, ReadBytes(folder + name)});
      }
      closedir(dir);
    }
  }
  RemoveTree(folder);
  return files;
}

std::string SaveSample(const SampleFiles& files, const std::string& folder) {
  for (const SampleFile& file : files) {
    std::ofstream out(folder + file.name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.bytes.data()),
              static_cast<std::streamsize>(file.bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + folder + file.name);
  }
  return files.empty() ? std::string() : folder + files[0].name;
}

}  // namespace dravik::test
