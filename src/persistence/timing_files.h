#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The pulse intervals of the files the timing analyses read: a stream log, a raw instrument
// reply, or a .JIT list as Load reads it. Every value is read, with no cap on the count. Errors
// are common::Error: the file's ("Cannot open \"<path>\": <reason>", "Cannot read ..."), or the
// reading's, naming the line ("line 3: '4000x' is not a valid integer value"; a reply's as
// "Reply line 3, stamp 1: ..."). Any thread.
namespace persistence {

// The deltas of a stream log, every line after the first (analysis::StreamLogParser). The file
// is read a block at a time and parsed as it comes, so its text is never held whole: the
// memory is the intervals' 8 bytes each.
std::vector<int64_t> ReadStreamLogIntervals(const std::string& path);

// Channel 1 intervals in ticks: ReadStreamLogIntervals with `stream_log`; else a file whose
// first line is one of the two .JIT headers as Load reads it (frequencies turned back into
// ticks; LF, CR LF and CR all end a line), and any other file as a raw reply
// (analysis::ReplyIntervals).
std::vector<int64_t> ReadPulseIntervals(const std::string& path, bool stream_log);

}  // namespace persistence
