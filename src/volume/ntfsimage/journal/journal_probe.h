// Whether a journal can be made where it goes, asked before a job's first
// move rather than found out at its first commit.
#pragma once

#include <string>

namespace shardix::ntfsimage {

// Makes a file beside `journal_path`, as the journal's first commit would
// (its folder included), writes and flushes a block, and removes it again.
// 0, or the errno with *words the system's text.
int ProbeJournalPlace(const std::string& journal_path, std::string* words);

}  // namespace shardix::ntfsimage
