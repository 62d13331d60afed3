#include "platform/ActivityLogText.h"

#include "platform/TextCodec.h"

namespace kestrane {

void AppendActivityLog(RunState& state, const std::wstring& text) {
    if (!state.activityLog.isOpen()) return;
    const std::vector<uint8_t> bytes = WideToUtf16Le(text);
    state.activityLog.write(bytes.data(), bytes.size());
}

}  // namespace kestrane
