// The record file (--record FILE): one JSON line per update, appended, for a
// station's own bookkeeping. Several pelmark-flash processes may append to
// one file: each line is written whole under a lock, or not at all. The
// fields are described in cli/README.md ("Record file").
#pragma once

#include <ctime>
#include <iosfwd>
#include <optional>
#include <string>

#include "cli/update_summary.h"
#include "serial/adapter_facts.h"
#include "shell/display.h"

namespace pelmark::cli {

// What a record line says beside the update itself.
struct RecordContext {
    std::string host;                                // the computer's name
    std::string frontEnd;                            // "main", "upgrade", "loader"
    std::optional<serial::AdapterFacts> adapter;     // nothing when no adapter is known
    std::string time;                                // IsoLocalTime of the update's end
};

// The context of a record written now: this computer, `frontEnd`, the
// adapter behind the summary's device.
RecordContext RecordContextNow(const UpdateSummary& summary, FrontEnd frontEnd);

// One JSON object on one line, without the line break.
std::string RecordLine(const UpdateSummary& summary, const RecordContext& context);

// Appends `line` and a line break to the file at `path` (created 0644 when
// missing) in one write under an exclusive lock; a write that falls short is
// cut back off. False with the cause in `error` when the line is not there.
bool AppendRecord(const std::string& path, const std::string& line, std::string* error);

// "2026-12-10T16:40:05+01:00": the local time with its offset from UTC.
std::string IsoLocalTime(std::time_t time);

// The computer's name; empty when the system does not tell.
std::string HostName();

// Appends the record of `summary` (port, device path and tag filled in; the
// device path is written with its links resolved) to `path` (nothing when
// `path` is empty).
// Returns the exit status: the summary's, or kExitFailure in place of
// success when the record could not be written ("pelmark-flash: record:
// <why>" on `err`): a station must not count an update it did not record.
int RecordUpdate(const std::string& path, const UpdateSummary& summary, FrontEnd frontEnd, std::ostream& err);

}  // namespace pelmark::cli
