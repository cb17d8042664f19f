#include "platform/usb/NodeIdRegistry.h"

namespace uafw::usb {

std::uint32_t NodeIdRegistry::Acquire(Key key, bool& added) {
    if (auto it = ids_.find(key); it != ids_.end()) {
        added = false;
        return it->second;
    }
    // 0 means "no node"; after a wrap-around skip it and any id still in use.
    while (next_ == 0 || keys_.count(next_) != 0) {
        ++next_;
    }
    const std::uint32_t id = next_++;
    ids_[key] = id;
    keys_[id] = key;
    added = true;
    return id;
}

std::optional<std::uint32_t> NodeIdRegistry::Find(Key key) const {
    if (auto it = ids_.find(key); it != ids_.end()) {
        return it->second;
    }
    return std::nullopt;
}

std::optional<NodeIdRegistry::Key> NodeIdRegistry::KeyOf(std::uint32_t id) const {
    if (auto it = keys_.find(id); it != keys_.end()) {
        return it->second;
    }
    return std::nullopt;
}

std::uint32_t NodeIdRegistry::Forget(Key key) {
    auto it = ids_.find(key);
    if (it == ids_.end()) {
        return 0;
    }
    const std::uint32_t id = it->second;
    keys_.erase(id);
    ids_.erase(it);
    return id;
}

std::vector<NodeIdRegistry::Key> NodeIdRegistry::Keys() const {
    std::vector<Key> keys;
    keys.reserve(ids_.size());
    for (const auto& entry : ids_) {
        keys.push_back(entry.first);
    }
    return keys;
}

}  // namespace uafw::usb
