// shardix demo: a small volume with a few files, shown through the volume
// layer.
#include <cstdio>

#include "cli/commands.h"
#include "volume/memory/memory_volume.h"

namespace shardix::cli {

int RunDemo(const std::vector<std::string>& args) {
  if (args.size() > 1) {
    std::fputs("usage: shardix demo [DIR]\n", stderr);
    return kExitUsage;
  }
  MemoryVolume::Options options;
  options.cluster_count = 65536;  // 256 MiB of 4 KiB clusters
  auto volume = MemoryVolume::Create(options);
  volume->MarkUnmovable(0, 16);  // boot sector and metadata
  volume->MarkUnmovable(32768, 64);
  volume->AddFileFirstFit("pictures/holiday.jpg", 3 << 20);
  volume->AddFileFirstFit("notes.txt", 40 << 10);
  volume->AddFileFirstFit("music/track01.flac", 24 << 20);
  // Free space in pieces, then a file that has to fill them.
  volume->AddFile("old/a.tmp", 0, {});
  volume->AddResidentFile("desktop.ini", 282);
  volume->AddFile("report.bin", 5 << 20,
                  {{0, 400, 12000}, {400, 500, 20000}, {900, 380, 40000}});
  RegisterMemoryVolume("demo", volume);
  std::puts("A simulated volume, read through the volume layer:\n");
  return PrintVolumeAndFile("memory:demo", "memory:demo/report.bin");
}

}  // namespace shardix::cli
