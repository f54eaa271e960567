// What the volume layer has to tell the user beside the result of the call
// at hand: a journal played back or kept aside when an image was opened, a
// volume marked as changed whose journal is missing. The layer never writes
// to a stream itself; the front end says where these go (the command line:
// standard error, after "shardix: ").
#pragma once

#include <string>

namespace shardix {

using NoticeSink = void (*)(const std::string& text);

// Sends later notices to `sink`; nullptr drops them. Set once at start-up.
void SetNoticeSink(NoticeSink sink);

// One notice, a sentence or a few, without a program prefix.
void Notice(const std::string& text);

}  // namespace shardix
