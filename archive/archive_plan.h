// How commands over many archive entries are planned and measured, shared by the
// archive window and tarnquill-cli: whether a list of files fits in an archive,
// which entries a list of names stands for, the share of each file in a command's
// progress, and the size estimates and percentages shown for a selection of
// entries.
#pragma once

#include "archive/archive_ops.h"
#include "archive/xfileframe.h"
#include "compress/compress.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tq {

// The entries a list of names stands for, one per name, in the list's order. The
// k-th occurrence of a name (letter case ignored) takes the k-th entry of that
// name in entry order, so a list naming every entry once (the window's list of
// nodes, sorted by name) reaches every entry exactly once, also when names repeat.
// A name without such an entry gives 0.
std::vector<std::int32_t> entriesForNames(const XFileFrame& frame, const std::vector<std::string>& names);

// An add is all or nothing: the checks of XFileFrame::CheckNewEntry (directory
// length, entry count, name length) made for the whole list at once, before
// anything is read or added. When not every file of `files` would fit, throws an
// ArchiveError that names the limit and how many of the files (the first ones,
// in this order) would fit.
void requireRoomForAll(const XFileFrame& frame, const std::vector<FileToAdd>& files);

// Share of one file in a command's progress (0..100), each file taking four steps:
// adding n files 100 / n (100 for one file); extracting n entries
// (32000 / n - 1) / 320, or 100 for the single selected entry. A share that
// comes out not positive is taken as 1.
double addShare(std::size_t count);
double extractShare(std::size_t count, bool singleSelected);
// Progress when file `index` (counted from 0) reaches step `step` (1..4).
double progressAt(double share, std::size_t index, int step);

struct EntrySizes {
    // Bytes of the payload in the archive.
    std::int64_t payload = 0;
    // Bytes extraction gives: for a compressed entry the decoded size of the whole
    // payload (the table bytes read as codes too) less the 506 table bytes, less
    // the padding byte of a marked entry; for a stored entry its payload size.
    std::int64_t estimate = 0;
};

// The sizes of entry n. Counts the codes with `compressor` (which is reset).
EntrySizes entrySizes(const XFileFrame& frame, TCompress& compressor, std::int32_t n);

// The saving of a payload against its estimate: 100 - (payload + 506) / estimate
// * 100, rounded to the nearest whole number with halves to even; 0 unless both
// are positive.
int estimatePercent(std::int64_t payload, std::int64_t estimate);

} // namespace tq
