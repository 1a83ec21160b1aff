#include "sessions/filter_options.h"

#include "sessions/option_tables.h"

namespace qv::sessions {

plist::Value DefaultFilterRow() {
    return plist::Dict{
        {"onOff", 1},
        {"filterNameField", ""},
        {"filterFileNameOn", 0},
        {"filterFileNamePop", 0},
        {"filterFileNameField", ""},
        {"filterCreationDateOn", 0},
        {"filterCreationDatePop", 0},
        {"filterCreationDateMonth", 1},
        {"filterCreationDateDay", 1},
        {"filterCreationDateYear", 2011},
        {"filterModificationDateOn", 0},
        {"filterModificationDatePop", 0},
        {"filterModificationDateMonth", 1},
        {"filterModificationDateDay", 1},
        {"filterModificationDateYear", 2011},
        {"filterFileSizeOn", 0},
        {"filterFileSizePop", 0},
        {"filterFileSizeField", 0},
        {"filterFileSizeBytesPop", 0},
        {"filterTypeOn", 0},
        {"filterTypePop", 0},
        {"filterTypeField", ""},
        {"filterCreatorOn", 0},
        {"filterCreatorPop", 0},
        {"filterCreatorField", ""},
        {"filterKindOn", 0},
        {"filterKindPop", 0},
        {"filterOwnerOn", 0},
        {"filterOwnerPop", 0},
        {"filterOwnerField", ""},
        {"filterGroupOn", 0},
        {"filterGroupPop", 0},
        {"filterGroupField", ""},
    };
}

plist::Value DefaultFilterDict() {
    return plist::Dict{
        {"filterOn", 0},
        {"filterCopySkip", kFilterSkipMode},
        {"filterArray", plist::Array(kTableRows, DefaultFilterRow())},
    };
}

}  // namespace qv::sessions
