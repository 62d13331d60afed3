#include "sqltext/StandInValue.h"

namespace kestrane {

bool HasZeroValue(uint32_t typeCode) { return typeCode != kTypeGeometry && typeCode != kTypeGeography; }

StandIn ChooseStandIn(const ColumnDef& column, const RunState& state) {
    if (column.nullable != 0) return StandIn::Null;
    // The default constraint exists on the target only when the save writes the constraints.
    if (column.hasDefault != 0 && state.saveConstraints != 0) return StandIn::ColumnDefault;
    return HasZeroValue(column.typeCode) ? StandIn::Zero : StandIn::Null;
}

}  // namespace kestrane
