#include "scenario/layout_map_svg.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <set>
#include <tuple>

#include "scenario/manifest.h"

namespace shardix::scenario {

namespace {

constexpr int64_t kColumns = 64;
constexpr int kCell = 15;  // pixels: room for a two-digit piece number
constexpr int64_t kMaxRows = 128;
constexpr int64_t kMaxCells = kColumns * kMaxRows;
constexpr int kLeft = 72;  // room for the row labels
constexpr int kTop = 92;
constexpr int kWidth = kLeft + static_cast<int>(kColumns) * kCell + 24;
constexpr int kLine = 18;  // one legend entry
constexpr std::size_t kLegendFiles = 60;
constexpr std::size_t kLegendChars = 150;

// Distinct and readable on white and under white hatching; no greys, which
// stand for metadata and remnants.
constexpr const char* kPalette[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                    "#8c564b", "#e377c2", "#bcbd22", "#17becf", "#0b3d91",
                                    "#f4a300", "#6a3d9a", "#b15928", "#33a02c", "#fb9a99",
                                    "#a6cee3", "#cab2d6", "#66c2a5"};
constexpr std::size_t kColours = std::size(kPalette);
constexpr const char* kMetadataFill = "#4a4a4a";
constexpr const char* kRemnantFill = "#a0a0a0";
constexpr const char* kFreeFill = "#ffffff";

// What a stretch of clusters holds. `index` is into result.files for a file
// and into result.remnants for a remnant; `piece` is the file's run, from 1.
struct Owner {
  enum Kind : uint8_t { kFree, kFile, kMetadata, kRemnant } kind = kFree;
  std::size_t index = 0;
  uint32_t piece = 0;
  auto Key() const { return std::tie(kind, index, piece); }
  bool operator==(const Owner& other) const { return Key() == other.Key(); }
  bool operator<(const Owner& other) const { return Key() < other.Key(); }
};

// Clusters given to owners, first come first served: whatever is painted
// first wins where stretches overlap.
class ClusterOwners {
 public:
  struct Span {
    int64_t end;
    Owner owner;
  };
  void Paint(int64_t first, int64_t end, const Owner& owner) {
    int64_t at = first;
    auto next = spans_.upper_bound(at);
    if (next != spans_.begin() && std::prev(next)->second.end > at) at = std::prev(next)->second.end;
    while (at < end) {
      const int64_t stop = next == spans_.end() ? end : std::min(end, next->first);
      if (stop > at) spans_.emplace_hint(next, at, Span{stop, owner});
      if (next == spans_.end() || next->first >= end) break;
      at = next->second.end;
      ++next;
    }
  }
  const std::map<int64_t, Span>& spans() const { return spans_; }

 private:
  std::map<int64_t, Span> spans_;
};

bool InUse(const std::vector<uint8_t>& bitmap, int64_t lcn) {
  const auto byte = static_cast<std::size_t>(lcn >> 3);
  return byte < bitmap.size() && ((bitmap[byte] >> (lcn & 7)) & 1);
}

// Which part of the volume is drawn, and how many clusters a cell stands for.
struct Window {
  int64_t first = 0, end = 0;
  int64_t per_cell = 1;
  bool zoomed = false;
  int64_t Cells() const { return (end - first + per_cell - 1) / per_cell; }
};

Window ChooseWindow(const ScenarioResult& result) {
  Window window;
  const auto total = static_cast<int64_t>(result.geometry.cluster_count);
  window.end = total;
  if (total > kMaxCells) {
    // Too large to draw whole: the stretch that holds files and remnants.
    int64_t low = total, high = 0;
    const auto take = [&](int64_t lcn, uint64_t clusters) {
      low = std::min(low, lcn);
      high = std::max(high, lcn + static_cast<int64_t>(clusters));
    };
    for (const FileRecord& file : result.files)
      if (file.listed)
        for (const StreamRun& run : file.runs)
          if (run.lcn >= 0) take(run.lcn, run.clusters);
    for (const Remnant& remnant : result.remnants) take(remnant.first_cluster, remnant.clusters);
    if (low < high) {
      window.first = std::max<int64_t>(0, low - kColumns) / kColumns * kColumns;
      window.end = std::min(total, high + kColumns);
      window.zoomed = window.first > 0 || window.end < total;
    }
  }
  // Still too large: a cell stands for a power of two of clusters, and the
  // first cell starts on a multiple of it.
  while (window.end - window.first > kMaxCells * window.per_cell) window.per_cell *= 2;
  window.first = window.first / window.per_cell * window.per_cell;
  return window;
}

// Every cell's owner: the one that holds most of its clusters (the first in
// Owner order on a tie), free space counted too.
std::vector<Owner> CellOwners(const ScenarioResult& result, const Window& window) {
  ClusterOwners owners;
  const auto paint_files = [&](bool allocated) {
    for (std::size_t i = 0; i < result.files.size(); ++i) {
      const FileRecord& file = result.files[i];
      if (!file.listed || (file.state == "allocated") != allocated) continue;
      for (std::size_t k = 0; k < file.runs.size(); ++k)
        if (file.runs[k].lcn >= 0)
          owners.Paint(file.runs[k].lcn, file.runs[k].lcn + static_cast<int64_t>(file.runs[k].clusters),
                       {Owner::kFile, i, static_cast<uint32_t>(k + 1)});
    }
  };
  paint_files(true);
  // In use by no listed file: the volume's system files, folders' indexes
  // and files the recipe asked not to list.
  for (int64_t lcn = window.first; lcn < window.end;) {
    if (!InUse(result.bitmap, lcn)) {
      ++lcn;
      continue;
    }
    int64_t stop = lcn;
    while (stop < window.end && InUse(result.bitmap, stop)) ++stop;
    owners.Paint(lcn, stop, {Owner::kMetadata, 0, 0});
    lcn = stop;
  }
  paint_files(false);
  for (std::size_t i = 0; i < result.remnants.size(); ++i) {
    const Remnant& remnant = result.remnants[i];
    owners.Paint(remnant.first_cluster, remnant.first_cluster + static_cast<int64_t>(remnant.clusters),
                 {Owner::kRemnant, i, remnant.part});
  }

  const int64_t cells = window.Cells();
  std::vector<std::map<Owner, int64_t>> tallies(static_cast<std::size_t>(cells));
  const std::map<int64_t, ClusterOwners::Span>& spans = owners.spans();
  auto span = spans.upper_bound(window.first);
  if (span != spans.begin()) --span;
  for (; span != spans.end() && span->first < window.end; ++span) {
    int64_t at = std::max(span->first, window.first);
    const int64_t end = std::min(span->second.end, window.end);
    while (at < end) {
      const int64_t cell = (at - window.first) / window.per_cell;
      const int64_t cell_end = std::min(end, window.first + (cell + 1) * window.per_cell);
      tallies[static_cast<std::size_t>(cell)][span->second.owner] += cell_end - at;
      at = cell_end;
    }
  }
  std::vector<Owner> result_owners(static_cast<std::size_t>(cells));
  for (int64_t cell = 0; cell < cells; ++cell) {
    std::map<Owner, int64_t>& tally = tallies[static_cast<std::size_t>(cell)];
    const int64_t first = window.first + cell * window.per_cell;
    int64_t held = 0;
    for (const auto& [owner, count] : tally) held += count;
    tally[Owner{}] += std::min(window.end, first + window.per_cell) - first - held;
    const auto most = std::max_element(tally.begin(), tally.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    result_owners[static_cast<std::size_t>(cell)] = most->first;
  }
  return result_owners;
}

std::size_t Utf8Length(const std::string& text, std::size_t at) {
  const auto lead = static_cast<uint8_t>(text[at]);
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// At most `limit` code points of well-formed UTF-8, with an ellipsis when cut.
std::string Shortened(const std::string& text, std::size_t limit) {
  std::size_t at = 0;
  for (std::size_t count = 0; at < text.size(); ++count) {
    if (count == limit) return text.substr(0, at) + "\xE2\x80\xA6";
    at += Utf8Length(text, at);
  }
  return text;
}

std::string Name(const std::string& path, const std::string& stream) {
  return stream.empty() ? path : path + ":" + stream;
}
std::string Name(const FileRecord& file) { return Name(file.path, file.stream); }

std::size_t Pieces(const FileRecord& file) {
  return static_cast<std::size_t>(
      std::count_if(file.runs.begin(), file.runs.end(), [](const StreamRun& run) { return run.lcn >= 0; }));
}

class SvgWriter {
 public:
  SvgWriter(const ScenarioResult& result, const std::string& image_name)
      : result_(result), image_name_(image_name), window_(ChooseWindow(result)) {
    // Colours go to listed files in manifest order: the same file, the same
    // colour, every build.
    std::size_t listed = 0;
    colour_.resize(result.files.size());
    for (std::size_t i = 0; i < result.files.size(); ++i)
      if (result.files[i].listed) colour_[i] = listed++ % kColours;
  }

  std::string Write() {
    const std::vector<Owner> cells = CellOwners(result_, window_);
    const int64_t rows = (static_cast<int64_t>(cells.size()) + kColumns - 1) / kColumns;
    const int map_bottom = kTop + static_cast<int>(rows) * kCell;
    std::size_t listed = 0;
    for (const FileRecord& file : result_.files) listed += file.listed;
    const std::size_t legend_lines = 3 + std::min(listed, kLegendFiles) + (listed > kLegendFiles);
    const int height = map_bottom + 40 + static_cast<int>(legend_lines) * kLine + 16;

    out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) + "\" height=\"" +
            std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(kWidth) + " " +
            std::to_string(height) + "\" font-family=\"DejaVu Sans, Verdana, sans-serif\"" +
            " data-first-cluster=\"" + std::to_string(window_.first) + "\" data-clusters-per-cell=\"" +
            std::to_string(window_.per_cell) + "\">\n";
    Definitions();
    out_ += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    Captions();
    Cells(cells, rows);
    Legend(map_bottom + 40, listed);
    out_ += "</svg>\n";
    return std::move(out_);
  }

 private:
  void Definitions() {
    out_ += "<defs>\n";
    const auto hatch = [&](const std::string& id, const char* fill) {
      out_ += "<pattern id=\"" + id + "\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\"" +
              " patternTransform=\"rotate(45)\"><rect width=\"6\" height=\"6\" fill=\"" + fill +
              "\"/><rect width=\"2\" height=\"6\" fill=\"#ffffff\" fill-opacity=\"0.75\"/></pattern>\n";
    };
    for (std::size_t i = 0; i < kColours; ++i) hatch("hatch-" + std::to_string(i), kPalette[i]);
    hatch("hatch-remnant", kRemnantFill);
    out_ += "<pattern id=\"grid\" x=\"" + std::to_string(kLeft) + "\" y=\"" + std::to_string(kTop) +
            "\" width=\"" + std::to_string(kCell) + "\" height=\"" + std::to_string(kCell) +
            "\" patternUnits=\"userSpaceOnUse\"><path d=\"M" + std::to_string(kCell) + " 0H0V" +
            std::to_string(kCell) + "\" fill=\"none\" stroke=\"#d8d8d8\" stroke-width=\"1\"/></pattern>\n";
    out_ += "</defs>\n";
  }

  void Text(int x, int y, int size, const std::string& text, const std::string& extra = "") {
    out_ += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" font-size=\"" +
            std::to_string(size) + "\"" + extra + ">" + XmlText(text) + "</text>\n";
  }

  void Captions() {
    const ImageGeometry& geometry = result_.geometry;
    Text(kLeft, 24, 16, "Layout of " + image_name_, " font-weight=\"bold\"");
    Text(kLeft, 44, 12, std::to_string(geometry.cluster_count) + " clusters of " +
                            std::to_string(geometry.cluster_size) + " bytes; " +
                            std::to_string(result_.remnants.size()) + " remnants in free space");
    std::string scale = window_.per_cell == 1
                            ? "One cell is one cluster, 64 to a row; a row is labelled with its first cluster."
                            : "One cell stands for " + std::to_string(window_.per_cell) +
                                  " clusters, coloured by what fills most of them; a row is labelled with its first cluster.";
    Text(kLeft, 62, 12, scale);
    if (window_.zoomed)
      Text(kLeft, 80, 12, "Shown: clusters " + std::to_string(window_.first) + " to " +
                              std::to_string(window_.end - 1) +
                              ", where the files and remnants lie; the clusters before and after are not drawn.");
  }

  // The fill of an owner's cells, and what its tooltip says.
  std::string Fill(const Owner& owner) const {
    switch (owner.kind) {
      case Owner::kFree: return kFreeFill;
      case Owner::kMetadata: return kMetadataFill;
      case Owner::kRemnant: return "url(#hatch-remnant)";
      case Owner::kFile: break;
    }
    const std::size_t colour = colour_[owner.index];
    return result_.files[owner.index].state == "allocated" ? kPalette[colour]
                                                            : "url(#hatch-" + std::to_string(colour) + ")";
  }

  std::string Tooltip(const Owner& owner) const {
    if (owner.kind == Owner::kMetadata) return "in use: NTFS metadata, folders or files not listed";
    if (owner.kind == Owner::kRemnant) {
      const Remnant& remnant = result_.remnants[owner.index];
      return "remnant of " + Name(remnant.path, remnant.stream) + " part " + std::to_string(remnant.part) +
             ": " + remnant.why;
    }
    const FileRecord& file = result_.files[owner.index];
    return Name(file) + ", piece " + std::to_string(owner.piece) + " of " + std::to_string(file.runs.size()) +
           " (" + file.state + ")";
  }

  void Cells(const std::vector<Owner>& cells, int64_t rows) {
    const int64_t per_cell = window_.per_cell;
    const int map_width = static_cast<int>(kColumns) * kCell;
    for (int64_t row = 0; row < rows; ++row)
      Text(kLeft - 6, kTop + static_cast<int>(row) * kCell + 11, 9,
           std::to_string(window_.first + row * kColumns * per_cell), " text-anchor=\"end\" fill=\"#555555\"");
    for (int64_t column = 0; column < kColumns; column += 8)
      Text(kLeft + static_cast<int>(column) * kCell + 2, kTop - 3, 9, "+" + std::to_string(column * per_cell),
           " fill=\"#555555\"");
    std::string numbers;
    std::set<std::pair<std::size_t, uint32_t>> numbered;
    const auto count = static_cast<int64_t>(cells.size());
    for (int64_t at = 0; at < count;) {
      const Owner& owner = cells[static_cast<std::size_t>(at)];
      int64_t stop = at + 1;
      while (stop < count && stop % kColumns != 0 && cells[static_cast<std::size_t>(stop)] == owner) ++stop;
      const int x = kLeft + static_cast<int>(at % kColumns) * kCell;
      const int y = kTop + static_cast<int>(at / kColumns) * kCell;
      if (owner.kind != Owner::kFree) {
        const int64_t first = window_.first + at * per_cell;
        const int64_t last = std::min(window_.end, window_.first + stop * per_cell) - 1;
        out_ += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
                std::to_string((stop - at) * kCell) + "\" height=\"" + std::to_string(kCell) + "\" fill=\"" +
                Fill(owner) + "\" data-first=\"" + std::to_string(first) + "\" data-last=\"" +
                std::to_string(last) + "\"><title>" +
                XmlText(Tooltip(owner) + ": clusters " + std::to_string(first) + "-" + std::to_string(last)) +
                "</title></rect>\n";
        // A piece's number in its first cell, when a cell is one cluster.
        if (owner.kind == Owner::kFile && per_cell == 1 && Pieces(result_.files[owner.index]) > 1 &&
            numbered.insert({owner.index, owner.piece}).second) {
          const std::string number = std::to_string(owner.piece);
          const bool dark = owner.kind == Owner::kFile && Dark(kPalette[colour_[owner.index]]);
          numbers += "<text x=\"" + std::to_string(x + kCell / 2) + "\" y=\"" + std::to_string(y + 11) +
                     "\" font-size=\"" + (number.size() > 2 ? "7" : "10") +
                     "\" font-weight=\"bold\" text-anchor=\"middle\" fill=\"" + (dark ? "#ffffff" : "#000000") +
                     "\" pointer-events=\"none\">" + number + "</text>\n";
        }
      }
      at = stop;
    }
    out_ += numbers;
    // Cell edges over everything, and the volume's outline.
    const int full_rows_height = static_cast<int>(count / kColumns) * kCell;
    const int tail = static_cast<int>(count % kColumns) * kCell;
    out_ += "<path d=\"M" + std::to_string(kLeft) + " " + std::to_string(kTop) + "h" +
            std::to_string(map_width) + "v" + std::to_string(full_rows_height) +
            (tail ? "h" + std::to_string(tail - map_width) + "v" + std::to_string(kCell) + "h" +
                        std::to_string(-tail)
                  : "h" + std::to_string(-map_width)) +
            "z\" fill=\"url(#grid)\" stroke=\"#888888\" stroke-width=\"1\"/>\n";
  }

  static bool Dark(const char* colour) {
    unsigned red = 0, green = 0, blue = 0;
    std::sscanf(colour, "#%02x%02x%02x", &red, &green, &blue);
    return red * 299 + green * 587 + blue * 114 < 140000;
  }

  void Swatch(int y, const std::string& fill) {
    out_ += "<rect x=\"" + std::to_string(kLeft) + "\" y=\"" + std::to_string(y - 11) +
            "\" width=\"14\" height=\"14\" fill=\"" + fill + "\" stroke=\"#888888\" stroke-width=\"0.5\"/>";
  }

  void Legend(int y, std::size_t listed) {
    Text(kLeft, y, 13, "Legend", " font-weight=\"bold\"");
    y += kLine + 2;
    const auto entry = [&](const std::string& fill, const std::string& text) {
      Swatch(y, fill);
      Text(kLeft + 20, y, 11, Shortened(ManifestName(text), kLegendChars));
      y += kLine;
    };
    out_ += "<g class=\"legend-kind\">";
    entry(kMetadataFill, "NTFS metadata ($MFT, $LogFile and the other system files), folders, files not listed");
    out_ += "</g>\n<g class=\"legend-kind\">";
    entry("url(#hatch-remnant)",
          "remnants: free clusters holding an old copy of a file's piece (hatched grey); free space is white");
    out_ += "</g>\n<g class=\"legend-kind\">";
    Swatch(y, "url(#hatch-0)");
    Text(kLeft + 20, y, 11,
         "files in their colours, pieces numbered in file order; hatched: deleted, its former clusters");
    y += kLine;
    out_ += "</g>\n";
    std::size_t shown = 0;
    for (std::size_t i = 0; i < result_.files.size() && shown < kLegendFiles; ++i) {
      const FileRecord& file = result_.files[i];
      if (!file.listed) continue;
      ++shown;
      std::string text = Name(file) + " \xE2\x80\x94 " + file.state;
      const std::size_t pieces = Pieces(file);
      if (pieces > 1) text += ", " + std::to_string(pieces) + " pieces";
      for (const std::string& note : file.notes)
        if (note.rfind("part ", 0) != 0) text += "; " + note;
      out_ += "<g class=\"legend-file\" data-index=\"" + std::to_string(i) + "\">";
      entry(Fill({Owner::kFile, i, 1}), text);
      out_ += "</g>\n";
    }
    if (listed > shown)
      Text(kLeft + 20, y, 11, "and " + std::to_string(listed - shown) + " more files: see the manifest");
  }

  const ScenarioResult& result_;
  std::string image_name_;
  Window window_;
  std::vector<std::size_t> colour_;
  std::string out_;
};

}  // namespace

std::string XmlText(const std::string& text) {
  const std::string readable = ManifestName(text);
  std::string out;
  for (std::size_t at = 0; at < readable.size(); ++at) {
    const auto c = static_cast<unsigned char>(readable[at]);
    if (c == 0xEF && readable.compare(at, 2, "\xEF\xBF") == 0 && at + 2 < readable.size() &&
        (readable[at + 2] == '\xBE' || readable[at + 2] == '\xBF')) {
      out += "\xEF\xBF\xBD";  // U+FFFE and U+FFFF are not characters XML takes
      at += 2;
    } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '\'') {
      out += "&apos;";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string LayoutMapSvg(const ScenarioResult& result, const std::string& image_name) {
  return SvgWriter(result, image_name).Write();
}

}  // namespace shardix::scenario
