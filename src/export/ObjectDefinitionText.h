#pragma once
// The stored text of a module or constraint, from the catalogue's definitions ({object id, sub-object
// id, "0x" hex}): Unicode bytes as UTF-16, other bytes as 8-bit text of the database's code page.
#include <string>
#include <vector>

#include "datafile/CatalogRecords.h"

namespace kestrane {

// The texts of every definition of object `idText` (decimal), appended in list order; "" when none.
std::wstring GetObjectDefinitionText(const std::vector<StringTriple>& definitions, const std::wstring& idText,
                                     int codePage);

}  // namespace kestrane
