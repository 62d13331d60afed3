#include "ui/ConnectionTest.h"

namespace kestrane {

std::optional<std::wstring> TestConnectionOverDrivers(SqlConnectionFields fields, const std::vector<std::wstring>& drivers,
                                                      RunState& state, LogListSink& testLog) {
    for (size_t i = 0; i < drivers.size(); ++i) {
        fields.driver = drivers[i];
        CSqlExportSession session(state, NullProgressSink::instance());
        session.SetOwnerLog(&testLog);
        if (session.TestConnection(fields)) return drivers[i];
        if (i + 1 < drivers.size()) testLog.AddLine(state.testLogRow++, L"Connection failed with " + drivers[i] + L" ...");
    }
    return std::nullopt;
}

std::wstring ConnectionEstablishedText(const std::wstring& driver) {
    return L"Connection Established with " + driver + L" Driver.";
}

}  // namespace kestrane
