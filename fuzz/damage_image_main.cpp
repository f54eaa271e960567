// shardix_damage_image IN OUT SEED [KIND]: writes IN with structure-aware
// damage chosen by SEED to OUT and prints what was damaged. KIND is mixed
// (the default), attribute-list or backup-boot (tests/support/image_damage.h). The damaged-image
// driver (fuzz/run-damaged-images.py) and its regression list use it, so a
// failing image is remade from its seed instead of being kept.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/support/image_damage.h"

int main(int argc, char** argv) {
  using shardix::test::DamageKind;
  const std::string kind_name = argc == 5 ? argv[4] : "mixed";
  const DamageKind kind = kind_name == "attribute-list" ? DamageKind::kAttributeList
                          : kind_name == "backup-boot"  ? DamageKind::kBackupBoot
                                                        : DamageKind::kMixed;
  if ((argc != 4 && argc != 5) || (kind == DamageKind::kMixed && kind_name != "mixed")) {
    std::fputs("usage: shardix_damage_image IN OUT SEED [mixed|attribute-list|backup-boot]\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  shardix::test::ImageBytes image(std::move(bytes));
  if (!image.ok()) {
    std::fprintf(stderr, "%s: no NTFS boot sector\n", argv[1]);
    return 1;
  }
  const std::string done = shardix::test::DamageImage(image, std::strtoull(argv[3], nullptr, 10), kind);
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.bytes().data()),
            static_cast<std::streamsize>(image.bytes().size()));
  out.close();
  if (!out) {
    std::perror(argv[2]);
    return 1;
  }
  std::printf("%s\n", done.c_str());
  return 0;
}
