#include "app/ResultMessages.h"

#include <map>
#include <mutex>

#include "platform/Resources.h"

namespace {

// Parses the built-in table once: lines of a decimal id, one space and the text.
const std::map<std::int32_t, std::string>& Table() {
    static std::once_flag once;
    static std::map<std::int32_t, std::string> table;
    std::call_once(once, [] {
        const std::string_view text = uafw::ResourceText("STRING", 1);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos)
                end = text.size();
            const std::string_view line = text.substr(start, end - start);
            const std::size_t space = line.find(' ');
            if (space != std::string_view::npos && space > 0) {
                std::int32_t id = 0;
                bool digits = true;
                for (char c : line.substr(0, space)) {
                    if (c < '0' || c > '9') {
                        digits = false;
                        break;
                    }
                    id = id * 10 + (c - '0');
                }
                if (digits)
                    table.emplace(id, std::string(line.substr(space + 1)));
            }
            start = end + 1;
        }
    });
    return table;
}

}  // namespace

std::string ResultMessageText(std::int32_t id) {
    const auto& table = Table();
    const auto it = table.find(id);
    return it == table.end() ? std::string() : it->second;
}
