#include "volume/ntfsimage/image_builder.h"

#include "volume/error_codes.h"
#include "volume/ntfsimage/image_mount.h"
#include "volume/ntfsimage/journal/journal_device.h"
#include "volume/ntfsimage/ntfs_errors.h"
#include "volume/ntfsimage/ntfs_headers.h"
#include "volume/ntfsimage/time_stamps.h"

namespace shardix {

// Either the shared read-write mount (builder) or a private read-only one.
struct ImageFiles::State {
  std::shared_ptr<ntfsimage::ImageMount> mount;
  ntfs_volume* readonly = nullptr;
  std::vector<std::pair<int64_t, int64_t>> fenced;  // runs Fence marked in use

  ntfs_volume* vol() const { return mount ? mount->volume() : readonly; }
  std::unique_lock<std::mutex> Hold() {
    return mount ? std::unique_lock<std::mutex>(mount->lock()) : std::unique_lock<std::mutex>();
  }
  // For a change to the files: the moves' pre-flight map of owned clusters
  // no longer holds.
  std::unique_lock<std::mutex> HoldForChange() {
    auto hold = Hold();
    if (mount) mount->move_guard().Forget();
    return hold;
  }
  ~State() {
    if (readonly) ntfs_umount(readonly, FALSE);
  }
};

namespace {

using ntfsimage::CodeFromErrno;
constexpr std::size_t kChunk = 1u << 20;
// The mount's journal holds every write in memory until a commit; a large
// file is committed every this many bytes so that it is never held whole.
constexpr uint64_t kCommitBytes = uint64_t{64} << 20;

uint32_t Fail(uint32_t code, const std::string& what, std::string* error) {
  return ntfsimage::ReportFailure(code, what, error);
}

// A library name in UTF-16, freed with the object.
struct UnicodeName {
  ntfschar* text = nullptr;
  int length = 0;
  explicit UnicodeName(const std::string& name) {
    if (!name.empty()) length = ntfs_mbstoucs(name.c_str(), &text);
  }
  ~UnicodeName() { free(text); }
  bool ok(const std::string& name) const { return name.empty() || length > 0; }
};

bool SplitPath(const std::string& path, std::string* parent, std::string* name) {
  if (path.size() < 2 || path[0] != '/' || path.back() == '/') return false;
  const size_t slash = path.rfind('/');
  *parent = slash == 0 ? "/" : path.substr(0, slash);
  *name = path.substr(slash + 1);
  return !name->empty();
}

// Opens a record by walking the path one folder at a time, so no folder is
// ever open twice. Null with errno set on failure.
ntfs_inode* OpenPath(ntfs_volume* vol, const std::string& path) {
  ntfs_inode* ni = ntfs_inode_open(vol, FILE_root);
  size_t at = 1;
  while (ni && at < path.size()) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(at, end - at);
    at = end + 1;
    if (part.empty()) continue;
    errno = 0;
    const u64 mref = ntfs_inode_lookup_by_mbsname(ni, part.c_str());
    const int err = errno;
    ntfs_inode_close(ni);
    if (mref == static_cast<u64>(-1)) {
      errno = err ? err : ENOENT;
      return nullptr;
    }
    ni = ntfs_inode_open(vol, MREF(mref));
  }
  return ni;
}

// The library remembers names it looked up, a name that was not there too:
// a new file's name replaces that memory.
void RememberName(ntfs_inode* parent, const std::string& name, ntfs_inode* ni) {
  ntfs_inode_update_mbsname(parent, name.c_str(), ni->mft_no);
}

uint32_t OpenFailure(const std::string& path, std::string* error) {
  const uint32_t code = errno == ENOENT ? kErrorFileNotFound : CodeFromErrno(errno);
  return Fail(code, "Opening " + path, error);
}

// Splits `path` and opens its folder.
uint32_t OpenParent(ntfs_volume* vol, const std::string& path, std::string* parent_path,
                    std::string* name, ntfs_inode** parent, std::string* error) {
  if (!SplitPath(path, parent_path, name)) return Fail(kErrorBadPathname, path, error);
  errno = 0;
  *parent = OpenPath(vol, *parent_path);
  return *parent ? kErrorSuccess : OpenFailure(*parent_path, error);
}

// An open stream of an open record, closed (and the record with it) at the end.
struct OpenStream {
  ntfs_inode* ni = nullptr;
  ntfs_attr* na = nullptr;
  ~OpenStream() {
    if (na) ntfs_attr_close(na);
    if (ni) ntfs_inode_close(ni);
  }
};

uint32_t OpenExisting(ntfs_volume* vol, const std::string& path, const std::string& stream,
                      OpenStream* open, std::string* error) {
  UnicodeName name(stream);
  if (!name.ok(stream)) return Fail(CodeFromErrno(errno), "Converting the name " + stream, error);
  errno = 0;
  open->ni = OpenPath(vol, path);
  if (!open->ni) return OpenFailure(path, error);
  errno = 0;
  open->na = ntfs_attr_open(open->ni, AT_DATA, stream.empty() ? AT_UNNAMED : name.text,
                            static_cast<u32>(name.length));
  if (!open->na) return OpenFailure(path + (stream.empty() ? "" : ":" + stream), error);
  return kErrorSuccess;
}

uint32_t WriteAll(ntfs_attr* na, uint64_t size, const std::vector<DataRange>& data,
                  const ByteFiller& fill, const std::string& what, std::string* error) {
  errno = 0;
  if (ntfs_attr_truncate(na, 0) != 0) return Fail(CodeFromErrno(errno), "Emptying " + what, error);
  std::vector<DataRange> ranges = data;
  if (ranges.empty() && size > 0) ranges.push_back({0, size});
  std::vector<uint8_t> buffer;
  uint64_t uncommitted = 0;
  for (const DataRange& range : ranges) {
    uint64_t done = 0;
    while (done < range.length) {
      const std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(kChunk, range.length - done));
      buffer.resize(count);
      fill(range.offset + done, buffer.data(), count);
      std::size_t written = 0;
      while (written < count) {
        errno = 0;
        const s64 wrote = ntfs_attr_pwrite(na, static_cast<s64>(range.offset + done + written),
                                           static_cast<s64>(count - written), buffer.data() + written);
        if (wrote <= 0) return Fail(CodeFromErrno(errno), "Writing " + what, error);
        written += static_cast<std::size_t>(wrote);
      }
      done += count;
      if ((uncommitted += count) >= kCommitBytes) {
        uncommitted = 0;
        if (const uint32_t code = ntfsimage::CommitVolume(na->ni->vol))
          return Fail(code, "Committing " + what, error);
      }
    }
  }
  // A sparse file ends in a hole when its last data range stops short.
  if (static_cast<uint64_t>(na->data_size) < size) {
    errno = 0;
    if (ntfs_attr_truncate(na, static_cast<s64>(size)) != 0)
      return Fail(CodeFromErrno(errno), "Sizing " + what, error);
  }
  return kErrorSuccess;
}

}  // namespace

ImageFiles::ImageFiles(std::unique_ptr<State> state) : state_(std::move(state)) {}
ImageFiles::~ImageFiles() = default;
ImageBuilder::ImageBuilder(std::unique_ptr<State> state) : ImageFiles(std::move(state)) {}

ImageGeometry ImageFiles::geometry() const {
  ntfs_volume* vol = state_->vol();
  return {vol->cluster_size, vol->sector_size, static_cast<uint64_t>(vol->nr_clusters)};
}

uint32_t ImageFiles::Facts(const std::string& path, const std::string& stream, StreamFacts* facts,
                           std::string* error) {
  auto hold = state_->Hold();
  OpenStream open;
  if (const uint32_t code = OpenExisting(state_->vol(), path, stream, &open, error)) return code;
  *facts = StreamFacts{};
  facts->mft_record = open.ni->mft_no;
  facts->size = static_cast<uint64_t>(open.na->data_size);
  facts->resident = !NAttrNonResident(open.na);
  if (facts->resident) return kErrorSuccess;
  errno = 0;
  if (ntfs_attr_map_whole_runlist(open.na) != 0)
    return Fail(CodeFromErrno(errno), "Reading the runs of " + path, error);
  for (const runlist_element* rl = open.na->rl; rl && rl->length; ++rl) {
    if (rl->lcn < LCN_HOLE) break;  // not mapped or past the end
    facts->runs.push_back({rl->vcn, rl->lcn == LCN_HOLE ? -1 : rl->lcn,
                           static_cast<uint64_t>(rl->length)});
  }
  return kErrorSuccess;
}

uint32_t ImageFiles::Read(const std::string& path, const std::string& stream, const ByteSink& sink,
                          std::string* error) {
  auto hold = state_->Hold();
  OpenStream open;
  if (const uint32_t code = OpenExisting(state_->vol(), path, stream, &open, error)) return code;
  std::vector<uint8_t> buffer(kChunk);
  const s64 size = open.na->data_size;
  for (s64 done = 0; done < size;) {
    errno = 0;
    const s64 got = ntfs_attr_pread(open.na, done, std::min<s64>(kChunk, size - done), buffer.data());
    if (got <= 0) return Fail(got < 0 ? CodeFromErrno(errno) : kErrorReadFault, "Reading " + path, error);
    sink(buffer.data(), static_cast<std::size_t>(got));
    done += got;
  }
  return kErrorSuccess;
}

uint32_t ImageFiles::ReadClusters(int64_t lcn, uint64_t count, const ByteSink& sink,
                                  std::string* error) {
  auto hold = state_->Hold();
  ntfs_volume* vol = state_->vol();
  if (lcn < 0 || count > static_cast<uint64_t>(vol->nr_clusters) ||
      lcn > vol->nr_clusters - static_cast<int64_t>(count))
    return Fail(kErrorInvalidParameter, "Reading clusters past the end of the volume", error);
  std::vector<uint8_t> buffer(kChunk);
  const s64 end = (lcn + static_cast<s64>(count)) * vol->cluster_size;
  for (s64 at = lcn * vol->cluster_size; at < end;) {
    errno = 0;
    const s64 got = ntfs_pread(vol->dev, at, std::min<s64>(kChunk, end - at), buffer.data());
    if (got <= 0) return Fail(got < 0 ? CodeFromErrno(errno) : kErrorReadFault, "Reading clusters", error);
    sink(buffer.data(), static_cast<std::size_t>(got));
    at += got;
  }
  return kErrorSuccess;
}

uint32_t ImageFiles::RecordNumber(const std::string& path, uint64_t* mft_record,
                                  std::string* error) {
  auto hold = state_->Hold();
  errno = 0;
  ntfs_inode* ni = OpenPath(state_->vol(), path);
  if (!ni) return OpenFailure(path, error);
  *mft_record = ni->mft_no;
  ntfs_inode_close(ni);
  return kErrorSuccess;
}

namespace {

// Bytes [first_byte, first_byte + count) of the cluster bitmap.
uint32_t ReadBitmapBytes(ntfs_volume* vol, int64_t first_byte, std::size_t count, uint8_t* out,
                         std::string* error) {
  for (std::size_t done = 0; done < count;) {
    errno = 0;
    const s64 got = ntfs_attr_pread(vol->lcnbmp_na, first_byte + static_cast<s64>(done),
                                    static_cast<s64>(count - done), out + done);
    if (got <= 0)
      return Fail(got < 0 ? CodeFromErrno(errno) : kErrorReadFault, "Reading the cluster bitmap", error);
    done += static_cast<std::size_t>(got);
  }
  return kErrorSuccess;
}

}  // namespace

uint32_t ImageFiles::ClusterBitmap(std::vector<uint8_t>* bits, std::string* error) {
  auto hold = state_->Hold();
  ntfs_volume* vol = state_->vol();
  bits->assign(static_cast<std::size_t>((vol->nr_clusters + 7) / 8), 0);
  return ReadBitmapBytes(vol, 0, bits->size(), bits->data(), error);
}

uint32_t ImageBuilder::ZeroFreeClusters(int64_t lcn, uint64_t count, uint64_t* zeroed,
                                        std::string* error) {
  auto hold = state_->HoldForChange();
  ntfs_volume* vol = state_->vol();
  *zeroed = 0;
  if (lcn < 0 || count > static_cast<uint64_t>(vol->nr_clusters) ||
      lcn > vol->nr_clusters - static_cast<int64_t>(count))
    return Fail(kErrorInvalidParameter, "Zeroing clusters past the end of the volume", error);
  if (count == 0) return kErrorSuccess;
  const int64_t end = lcn + static_cast<int64_t>(count);
  std::vector<uint8_t> bits(static_cast<std::size_t>((end - 1) / 8 - lcn / 8 + 1));
  if (const uint32_t code = ReadBitmapBytes(vol, lcn / 8, bits.size(), bits.data(), error)) return code;
  const auto in_use = [&](int64_t n) {
    const int64_t at = n - (lcn & ~int64_t{7});
    return (bits[static_cast<std::size_t>(at >> 3)] >> (at & 7)) & 1;
  };
  const std::vector<uint8_t> zeros(kChunk, 0);
  uint64_t uncommitted = 0;
  for (int64_t n = lcn; n < end;) {
    if (in_use(n)) {
      ++n;
      continue;
    }
    int64_t stop = n;
    while (stop < end && !in_use(stop)) ++stop;
    const s64 last = stop * vol->cluster_size;
    for (s64 at = n * vol->cluster_size; at < last;) {
      const s64 piece = std::min<s64>(static_cast<s64>(zeros.size()), last - at);
      errno = 0;
      if (ntfs_pwrite(vol->dev, at, piece, zeros.data()) != piece)
        return Fail(CodeFromErrno(errno), "Zeroing freed clusters", error);
      at += piece;
      if ((uncommitted += static_cast<uint64_t>(piece)) >= kCommitBytes) {
        uncommitted = 0;
        if (const uint32_t code = ntfsimage::CommitVolume(vol))
          return Fail(code, "Committing zeroed clusters", error);
      }
    }
    *zeroed += static_cast<uint64_t>(stop - n);
    n = stop;
  }
  return kErrorSuccess;
}

uint32_t ImageBuilder::MakeFolder(const std::string& path, std::string* error) {
  auto hold = state_->HoldForChange();
  ntfs_volume* vol = state_->vol();
  std::string parent_path, name;
  ntfs_inode* parent = nullptr;
  if (const uint32_t code = OpenParent(vol, path, &parent_path, &name, &parent, error)) return code;
  UnicodeName uname(name);
  uint32_t result = kErrorSuccess;
  errno = 0;
  if (ntfs_inode_lookup_by_mbsname(parent, name.c_str()) == static_cast<u64>(-1)) {
    ntfs_inode* ni = uname.length > 0 ? ntfs_create(parent, const_cpu_to_le32(0), uname.text,
                                                    static_cast<u8>(uname.length), S_IFDIR)
                                      : nullptr;
    if (ni) RememberName(parent, name, ni);
    if (!ni) result = Fail(CodeFromErrno(errno), "Creating folder " + path, error);
    else if (ntfs_inode_close_in_dir(ni, parent) != 0)
      result = Fail(CodeFromErrno(errno), "Writing back folder " + path, error);
  }
  errno = 0;
  if (ntfs_inode_close(parent) != 0 && result == kErrorSuccess)
    result = Fail(CodeFromErrno(errno), "Writing back folder " + parent_path, error);
  return result;
}

uint32_t ImageBuilder::WriteStream(const std::string& path, const std::string& stream,
                                   uint64_t size, const std::vector<DataRange>& data,
                                   const ByteFiller& fill, std::string* error) {
  auto hold = state_->HoldForChange();
  ntfs_volume* vol = state_->vol();
  std::string parent_path, name;
  ntfs_inode* parent = nullptr;
  if (const uint32_t code = OpenParent(vol, path, &parent_path, &name, &parent, error)) return code;
  UnicodeName uname(name), ustream(stream);
  if (uname.length <= 0 || !ustream.ok(stream)) {
    ntfs_inode_close(parent);
    return Fail(kErrorInvalidName, "Converting the name " + path, error);
  }

  uint32_t result = kErrorSuccess;
  ntfs_inode* ni = nullptr;
  errno = 0;
  const u64 mref = ntfs_inode_lookup_by_mbsname(parent, name.c_str());
  if (mref != static_cast<u64>(-1)) {
    ni = ntfs_inode_open(vol, MREF(mref));
    if (!ni) result = OpenFailure(path, error);
  } else if (errno != ENOENT) {
    result = OpenFailure(path, error);
  } else {
    errno = 0;
    ni = ntfs_create(parent, const_cpu_to_le32(0), uname.text, static_cast<u8>(uname.length), S_IFREG);
    if (ni) RememberName(parent, name, ni);
    if (!ni) result = Fail(CodeFromErrno(errno), "Creating " + path, error);
  }
  const std::string what = path + (stream.empty() ? "" : ":" + stream);
  if (result == kErrorSuccess) {
    ntfschar* attr_name = stream.empty() ? AT_UNNAMED : ustream.text;
    const u32 attr_len = static_cast<u32>(ustream.length);
    errno = 0;
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, attr_name, attr_len);
    if (!na && errno == ENOENT && !stream.empty()) {
      errno = 0;
      if (ntfs_attr_add(ni, AT_DATA, attr_name, static_cast<u8>(attr_len), nullptr, 0) == 0)
        na = ntfs_attr_open(ni, AT_DATA, attr_name, attr_len);
    }
    if (!na) {
      result = Fail(CodeFromErrno(errno), "Opening the data of " + what, error);
    } else {
      result = WriteAll(na, size, data, fill, what, error);
      ntfs_attr_close(na);
    }
  }
  // Closed within the open folder: a plain close would open it a second time.
  errno = 0;
  if (ni && ntfs_inode_close_in_dir(ni, parent) != 0 && result == kErrorSuccess)
    result = Fail(CodeFromErrno(errno), "Writing back " + path, error);
  errno = 0;
  if (ntfs_inode_close(parent) != 0 && result == kErrorSuccess)
    result = Fail(CodeFromErrno(errno), "Writing back folder " + parent_path, error);
  return result;
}

uint32_t ImageBuilder::Delete(const std::string& path, std::string* error) {
  auto hold = state_->HoldForChange();
  ntfs_volume* vol = state_->vol();
  std::string parent_path, name;
  ntfs_inode* parent = nullptr;
  if (const uint32_t code = OpenParent(vol, path, &parent_path, &name, &parent, error)) return code;
  UnicodeName uname(name);
  if (uname.length <= 0) {
    ntfs_inode_close(parent);
    return Fail(kErrorInvalidName, "Converting the name " + path, error);
  }
  errno = 0;
  const u64 mref = ntfs_inode_lookup_by_mbsname(parent, name.c_str());
  ntfs_inode* ni = mref == static_cast<u64>(-1) ? nullptr : ntfs_inode_open(vol, MREF(mref));
  if (!ni) {
    const uint32_t result = OpenFailure(path, error);
    ntfs_inode_close(parent);
    return result;
  }
  errno = 0;
  // Closes both ni and the folder whatever happens.
  if (ntfs_delete(vol, path.c_str(), ni, parent, uname.text, static_cast<u8>(uname.length)) != 0)
    return Fail(CodeFromErrno(errno), "Deleting " + path, error);
  return kErrorSuccess;
}

uint32_t ImageBuilder::PreferRecord(uint64_t mft_record, std::string* error) {
  auto hold = state_->HoldForChange();
  ntfs_volume* vol = state_->vol();
  if (mft_record >= static_cast<uint64_t>(vol->mft_na->initialized_size >> vol->mft_record_size_bits))
    return Fail(kErrorInvalidParameter, "MFT record " + std::to_string(mft_record), error);
  // The library's search takes the first free record of the bitmap byte it
  // starts in only when that record lies at or past the start, and skips the
  // whole byte otherwise; starting at the byte's first record finds its
  // lowest free record.
  vol->mft_data_pos = static_cast<s64>(mft_record & ~uint64_t{7});
  return kErrorSuccess;
}

uint32_t ImageBuilder::Fence(const std::vector<StreamRun>& allowed, std::string* error) {
  auto hold = state_->HoldForChange();
  ntfs_volume* vol = state_->vol();
  if (!state_->fenced.empty()) return Fail(kErrorInvalidParameter, "A fence is up already", error);
  std::vector<uint8_t> bits(static_cast<std::size_t>((vol->nr_clusters + 7) / 8));
  if (const uint32_t code = ReadBitmapBytes(vol, 0, bits.size(), bits.data(), error)) return code;
  for (const StreamRun& run : allowed)  // read as in use: left out of the fence
    for (int64_t n = std::max<int64_t>(run.lcn, 0);
         n < std::min<int64_t>(run.lcn + static_cast<int64_t>(run.clusters), vol->nr_clusters); ++n)
      bits[static_cast<std::size_t>(n >> 3)] |= static_cast<uint8_t>(1u << (n & 7));
  const auto in_use = [&](int64_t n) { return (bits[static_cast<std::size_t>(n >> 3)] >> (n & 7)) & 1; };
  for (int64_t n = 0; n < vol->nr_clusters;) {
    if (in_use(n)) {
      ++n;
      continue;
    }
    int64_t stop = n;
    while (stop < vol->nr_clusters && !in_use(stop)) ++stop;
    errno = 0;
    if (ntfs_bitmap_set_run(vol->lcnbmp_na, n, stop - n) != 0) {
      const uint32_t code = CodeFromErrno(errno);
      for (const auto& [first, count] : state_->fenced) ntfs_bitmap_clear_run(vol->lcnbmp_na, first, count);
      state_->fenced.clear();
      return Fail(code, "Fencing free clusters", error);
    }
    state_->fenced.emplace_back(n, stop - n);
    n = stop;
  }
  return kErrorSuccess;
}

uint32_t ImageBuilder::Unfence(std::string* error) {
  auto hold = state_->HoldForChange();
  ntfs_volume* vol = state_->vol();
  uint32_t result = kErrorSuccess;
  for (const auto& [first, count] : state_->fenced) {
    errno = 0;
    if (ntfs_bitmap_clear_run(vol->lcnbmp_na, first, count) != 0 && result == kErrorSuccess)
      result = Fail(CodeFromErrno(errno), "Taking down the fence", error);
  }
  state_->fenced.clear();
  return result;
}

uint32_t ImageBuilder::SetSerialNumber(uint64_t serial, std::string* error) {
  auto hold = state_->HoldForChange();
  ntfs_volume* vol = state_->vol();
  NTFS_BOOT_SECTOR boot;
  errno = 0;
  if (ntfs_pread(vol->dev, 0, sizeof boot, &boot) != static_cast<s64>(sizeof boot))
    return Fail(CodeFromErrno(errno), "Reading the boot sector", error);
  boot.volume_serial_number = cpu_to_le64(serial);
  // The backup boot sector is the sector after the last one the volume counts.
  const s64 backup = sle64_to_cpu(boot.number_of_sectors) * vol->sector_size;
  for (const s64 at : {s64{0}, backup}) {
    errno = 0;
    if (ntfs_pwrite(vol->dev, at, sizeof boot, &boot) != static_cast<s64>(sizeof boot))
      return Fail(CodeFromErrno(errno), "Writing the boot sector", error);
  }
  return kErrorSuccess;
}

uint32_t OpenImageBuilder(const std::string& image, std::unique_ptr<ImageBuilder>* out,
                          std::string* error) {
  out->reset();
  auto state = std::make_unique<ImageFiles::State>();
  if (const uint32_t code = ntfsimage::AcquireMount(image, &state->mount))
    return Fail(code, "Opening " + image, error);
  if (state->mount->read_only())  // something else has the image (image_in_use.h)
    return Fail(kErrorWriteProtect, "Opening " + image + " for writing", error);
  *out = std::make_unique<ImageBuilder>(std::move(state));
  return kErrorSuccess;
}

namespace {
class ImageReader final : public ImageFiles {
 public:
  explicit ImageReader(std::unique_ptr<State> state) : ImageFiles(std::move(state)) {}
};
}  // namespace

uint32_t OpenImageReader(const std::string& image, std::unique_ptr<ImageFiles>* out,
                         std::string* error) {
  out->reset();
  ntfsimage::InstallLibraryLogHandler();
  std::string canonical;
  if (!ntfsimage::CanonicalImagePath(image, &canonical))
    return Fail(kErrorFileNotFound, "Opening " + image, error);
  auto state = std::make_unique<ImageFiles::State>();
  errno = 0;
  state->readonly = ntfs_mount(canonical.c_str(), NTFS_MNT_RDONLY);
  if (!state->readonly)
    return Fail(ntfsimage::MountFailureCode(errno, canonical), "Opening " + image, error);
  *out = std::make_unique<ImageReader>(std::move(state));
  return kErrorSuccess;
}

uint32_t ImageBuilder::PinTimeStamps(int64_t since, int64_t pinned, std::string* error) {
  auto hold = state_->HoldForChange();
  return ntfsimage::PinTimeStamps(state_->vol(), since, pinned, error);
}

}  // namespace shardix
