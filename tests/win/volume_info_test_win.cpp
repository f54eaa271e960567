// The Volume Info dialog over the main window on a simulated volume: its
// lists, their sorting, a second opening, and the disk report it saves.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/app_state_win.h"
#include "job_test_support_win.h"
#include "report/disk_report.h"
#include "report/volume_analysis.h"
#include "resource.h"
#include "support/recording_display.h"
#include "test_support_win.h"

namespace shardix::test {
namespace {

using Rows = std::vector<std::array<std::string, 3>>;

std::vector<std::pair<std::string, std::string>> SummaryCells(HWND list) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const auto& row : ListCells(list)) rows.emplace_back(row[0], row[1]);
  return rows;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::string TempPath(const char* name) {
  char folder[MAX_PATH] = "";
  GetTempPathA(sizeof folder, folder);
  return std::string(folder) + name;
}

class VolumeInfoWindow : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    ProcessAllocationSortState() = {};
    // Runs: 0-99 free, 100-199 the file, 200-499 free, 500-599 the file,
    // 600-649 free, 650-699 metadata, 700-999 free.
    ASSERT_EQ(volume_->AddFile("f.bin", 200 * 4096, {{0, 100, 100}, {100, 100, 500}}), 0u);
    ASSERT_EQ(volume_->MarkUnmovable(650, 50), 0u);
    Analyze(window_, volume_.Path("f.bin"));
    ASSERT_TRUE(Enabled(window_, IDC_VOLUME_INFO));
  }

  // What the portable analysis gives for the same volume.
  StoredReportLists ExpectedLists() {
    RecordingDisplay display;
    EXPECT_EQ(AnalyzeVolume(g_app.session.volume.get(), display, VolumeAnalysisMode::kFillLists), 0);
    StoredReportLists lists;
    for (const auto& [label, value] : display.summary_rows) lists.summary.push_back({label, value});
    for (const auto& row : display.allocation_rows) lists.allocation.push_back({row.first_lcn, row.length, row.in_use != 0});
    return lists;
  }

  TestVolume volume_{"vi", 1000};
};

TEST_F(VolumeInfoWindow, ShowsTheVolumeSortsByColumnAndOpensAfreshEachTime) {
  const Rows in_cluster_order = {{"0 - 99", "100", "Free"},     {"100 - 199", "100", "In-Use"},
                                 {"200 - 499", "300", "Free"},  {"500 - 599", "100", "In-Use"},
                                 {"600 - 649", "50", "Free"},   {"650 - 699", "50", "In-Use"},
                                 {"700 - 999", "300", "Free"}};
  RECT main_rect;
  GetWindowRect(window_, &main_rect);
  int openings = 0;
  OpenVolumeInfo(window_, [&](HWND dialog) {
    ++openings;
    EXPECT_EQ(Text(dialog, IDC_DISK_REPORT_TITLE), "Disk Report for: (vi)");
    HWND allocation = GetDlgItem(dialog, IDC_ALLOCATION_LIST);
    EXPECT_EQ(ListCells(allocation), in_cluster_order);
    EXPECT_EQ(SummaryCells(GetDlgItem(dialog, IDC_SUMMARY_LIST)),
              (std::vector<std::pair<std::string, std::string>>{{"Cluster Size:", "4096 Bytes"},
                                                                {"Total Disk Clusters:", "1000"},
                                                                {"Total Occupied Clusters:", "250"},
                                                                {"Total Free Clusters:", "750"},
                                                                {"Largest Consecutive Free Block:", "300"},
                                                                {"Largest Consecutive Occupied Block:", "100"}}));
    // Centred over the main window (it fits on the screen).
    RECT rect;
    GetWindowRect(dialog, &rect);
    EXPECT_NEAR((rect.left + rect.right) / 2, (main_rect.left + main_rect.right) / 2, 2);
    EXPECT_NEAR((rect.top + rect.bottom) / 2, (main_rect.top + main_rect.bottom) / 2, 2);

    auto column = [&](int index) {
      std::vector<std::string> cells;
      for (const auto& row : ListCells(allocation)) cells.push_back(row[index]);
      return cells;
    };
    using Cells = std::vector<std::string>;
    ClickColumn(dialog, IDC_ALLOCATION_LIST, 0);  // the start state is "LCN Range" ascending
    EXPECT_EQ(column(0), (Cells{"700 - 999", "650 - 699", "600 - 649", "500 - 599", "200 - 499", "100 - 199", "0 - 99"}));
    ClickColumn(dialog, IDC_ALLOCATION_LIST, 0);
    EXPECT_EQ(ListCells(allocation), in_cluster_order);
    ClickColumn(dialog, IDC_ALLOCATION_LIST, 1);
    const Cells lengths = column(1);
    EXPECT_EQ(lengths, (Cells{"50", "50", "100", "100", "100", "300", "300"}));
    ClickColumn(dialog, IDC_ALLOCATION_LIST, 2);
    EXPECT_EQ(column(2), (Cells{"Free", "Free", "Free", "Free", "In-Use", "In-Use", "In-Use"}));
    ClickColumn(dialog, IDC_ALLOCATION_LIST, 1);  // leaves "# Clusters" ascending
  });
  ASSERT_EQ(openings, 1);

  // A second opening: a fresh analysis in cluster order; the sort state
  // carried over makes the next "# Clusters" click descending.
  OpenVolumeInfo(window_, [&](HWND dialog) {
    ++openings;
    HWND allocation = GetDlgItem(dialog, IDC_ALLOCATION_LIST);
    EXPECT_EQ(ListCells(allocation), in_cluster_order);
    EXPECT_EQ(ListCells(GetDlgItem(dialog, IDC_SUMMARY_LIST)).size(), 6u);
    ClickColumn(dialog, IDC_ALLOCATION_LIST, 1);
    EXPECT_EQ(ListCells(allocation)[0][1], "300");
  });
  EXPECT_EQ(openings, 2);
  EXPECT_TRUE(IsWindowEnabled(window_));
}

TEST_F(VolumeInfoWindow, SaveAsWritesTheListsInTheirShownOrder) {
  const std::string path = TempPath("shardix_volume_info_report.txt");
  std::remove(path.c_str());
  OPENFILENAMEW seen = {};
  std::wstring filter;
  TestUi().save_answers.push_back([&](OPENFILENAMEW* request, DWORD*) {
    seen = *request;
    filter.assign(request->lpstrFilter, 17);
    FillFileBuffer(request, path);
    return true;
  });
  OpenVolumeInfo(window_, [&](HWND dialog) {
    ClickColumn(dialog, IDC_ALLOCATION_LIST, 1);
    SendCommand(dialog, IDC_SAVE_AS);
    EXPECT_TRUE(IsWindow(dialog));
  });
  EXPECT_STREQ(seen.lpstrTitle, L"Save Disk Report");
  EXPECT_EQ(filter, std::wstring(L"Text Files\0*.TXT\0", 17));
  EXPECT_EQ(seen.Flags, static_cast<DWORD>(OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY));
  EXPECT_EQ(seen.nMaxFile, 512u);

  StoredReportLists expected = ExpectedLists();
  AllocationSortState state;
  expected.SortAllocation(state, 1);
  // Runs of equal length may lie in either order after the list's sort;
  // the report follows the list, so compare against the list's own order.
  const std::string saved = ReadFileBytes(path);
  EXPECT_EQ(saved.size(), DiskReportText(expected).size());
  EXPECT_EQ(saved.substr(0, saved.find("Cluster allocation")),
            DiskReportText(expected).substr(0, saved.find("Cluster allocation")));
  EXPECT_NE(saved.find("\t" + std::string("Cluster Size:") + std::string(37, ' ') + "4096 Bytes\r\n"), std::string::npos);
  // The allocation rows in the order shown: by length, ascending.
  std::istringstream lines(saved.substr(saved.find("LCN Range")));
  std::string line;
  std::getline(lines, line);  // the header
  std::vector<unsigned long long> lengths;
  while (std::getline(lines, line)) lengths.push_back(std::strtoull(line.substr(25, 15).c_str(), nullptr, 10));
  EXPECT_EQ(lengths, (std::vector<unsigned long long>{50, 50, 100, 100, 100, 300, 300}));
  std::remove(path.c_str());
}

TEST_F(VolumeInfoWindow, SavedReportEqualsThePortableWritersBytes) {
  const std::string path = TempPath("shardix_volume_info_exact.txt");
  TestUi().save_answers.push_back([&](OPENFILENAMEW* request, DWORD*) {
    FillFileBuffer(request, path);
    return true;
  });
  // In cluster order (two clicks on "LCN Range": descending, then back).
  OpenVolumeInfo(window_, [&](HWND dialog) {
    ClickColumn(dialog, IDC_ALLOCATION_LIST, 0);
    ClickColumn(dialog, IDC_ALLOCATION_LIST, 0);
    SendCommand(dialog, IDC_SAVE_AS);
  });
  EXPECT_EQ(ReadFileBytes(path), DiskReportText(ExpectedLists()));
  std::remove(path.c_str());
}

TEST_F(VolumeInfoWindow, ASaveThatCannotBeWrittenShowsTheBoxAndKeepsTheDialogOpen) {
  const std::string path = TempPath("shardix_no_such_folder\\report.txt");
  TestUi().save_answers.push_back([&](OPENFILENAMEW* request, DWORD*) {
    FillFileBuffer(request, path);
    return true;
  });
  // A cancelled dialog: nothing happens.
  TestUi().save_answers.push_back([](OPENFILENAMEW*, DWORD* error) {
    *error = 0;
    return false;
  });
  HWND dialog_seen = nullptr;
  bool open_after_failure = false;
  OpenVolumeInfo(window_, [&](HWND dialog) {
    dialog_seen = dialog;
    SendCommand(dialog, IDC_SAVE_AS);
    open_after_failure = IsWindow(dialog) && IsWindowVisible(dialog);
    SendCommand(dialog, IDC_SAVE_AS);
  });
  EXPECT_TRUE(open_after_failure);
  ASSERT_EQ(TestUi().boxes.size(), 1u);
  EXPECT_EQ(TestUi().boxes[0].caption, "File save error");
  EXPECT_EQ(TestUi().boxes[0].owner, dialog_seen);
  EXPECT_EQ(TestUi().boxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_FALSE(TestUi().boxes[0].text.empty());
  TestUi().boxes.clear();
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace shardix::test
