#pragma once

// Registry keys as they stood before a change, to put back when the change
// fails part-way: a script's failed import must leave the till as it was.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zrn/json.h"
#include "zrn/platform/registry.h"

namespace zrn::cfg {

class Snapshot {
public:
    // Records the key at path under HKLM with its values and whole tree, or
    // that it does not exist. False when it could not be read completely.
    bool capture(platform::Registry& reg, std::string_view path);
    // Puts every recorded key back: a key that did not exist is deleted;
    // values and sub-keys added since are removed, changed ones rewritten,
    // removed ones made again. False when some part could not be restored.
    bool restore(platform::Registry& reg) const;

    // The recorded keys as a document, every value with its registry type
    // and exact bytes, and back: a backup written to disk restores exactly
    // what was recorded. from_json is false (the snapshot then empty) for a
    // document that is not such a record, with *error saying where.
    json::Value to_json() const;
    bool from_json(const json::Value& keys, std::string* error);

private:
    struct Key {
        std::string name;
        std::vector<std::pair<std::string, platform::RegData>> values;
        std::vector<Key> subkeys;
    };
    struct Root {
        std::string path;
        bool existed = false;
        Key key;
    };
    std::vector<Root> roots_;
};

// Deletes a key with everything below it. True when it is gone (or was
// never there).
bool delete_tree(platform::Registry& reg, platform::RegKey parent, std::string_view name);

}  // namespace zrn::cfg
