// Type 14: Group Associations.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row GROUP_ASSOCIATION_FIELDS[] = {
    string("group_name", "Group Name", 0x04),
};
// As many 3-byte items as the length holds.
inline constexpr Row GROUP_ASSOCIATION_ITEM_FIELDS[] = {
    integer("type", "Item Type", 0x00, 1),
    handle("handle", "Item Handle", 0x01),
};
inline constexpr Items GROUP_ASSOCIATION_ITEMS = items("items", "Items", 0x05, 0, 0, 3, GROUP_ASSOCIATION_ITEM_FIELDS);
inline constexpr TypeRows GROUP_ASSOCIATION_ROWS = rows(GROUP_ASSOCIATION_FIELDS, &GROUP_ASSOCIATION_ITEMS);

}  // namespace brantel::inventory::decoded
