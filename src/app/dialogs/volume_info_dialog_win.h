// The "Volume Info" dialog (template 101): the analysis of the whole volume
// of the analysed file in a summary list and an allocation list, sortable
// by column, and saved as the disk report. ShowVolumeInfo, which opens it
// modally over the main window, is declared in app/commands_win.h.
#pragma once

#include <windows.h>

#include <string>

namespace shardix {

INT_PTR CALLBACK VolumeInfoDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// The columns of both lists, and their widths after the analysis.
void InitVolumeInfoColumns(HWND dialog);
void SizeVolumeInfoColumns(HWND dialog);

// Writes the dialog's lists, in the order shown, as the disk report to
// `path`. Returns 0, or -1 after the "File save error" box.
int SaveDiskReport(HWND dialog, const std::string& path);

}  // namespace shardix
