#include "json/value.hpp"

#include <algorithm>

namespace tavo::json {

Value Value::object(std::vector<Member> members) {
    std::stable_sort(members.begin(), members.end(),
                     [](const Member& a, const Member& b) { return a.key < b.key; });
    // Keep the last of each run of equal keys.
    Object unique;
    unique.reserve(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i + 1 < members.size() && members[i + 1].key == members[i].key) continue;
        unique.push_back(std::move(members[i]));
    }
    return Value(Data(std::in_place_index<7>, std::move(unique)));
}

const Value* Value::find(std::string_view key) const {
    const Object& members = as_object();
    const auto it = std::lower_bound(members.begin(), members.end(), key,
                                     [](const Member& m, std::string_view k) { return m.key < k; });
    return it != members.end() && it->key == key ? &it->value : nullptr;
}

bool operator==(const Value& a, const Value& b) { return a.data_ == b.data_; }

}  // namespace tavo::json
