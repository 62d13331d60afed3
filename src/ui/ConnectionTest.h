#pragma once
// The save options' connection test: the export session's test tried with each SQL Server ODBC driver in
// turn (best first), its steps in "TEST LOG", until one driver connects.
#include <optional>
#include <string>
#include <vector>

#include "export/LogListSink.h"
#include "export/SqlExportSession.h"
#include "platform/RunState.h"

namespace kestrane {

// The driver that connected, or nullopt when none did. After each failure but the last,
// "Connection failed with <driver> ..." follows the session's own lines. `fields.driver` is ignored.
std::optional<std::wstring> TestConnectionOverDrivers(SqlConnectionFields fields, const std::vector<std::wstring>& drivers,
                                                      RunState& state, LogListSink& testLog);

// The message a user sees when `driver` connected.
std::wstring ConnectionEstablishedText(const std::wstring& driver);

}  // namespace kestrane
