#include "engine/archive/member_name.h"

#include <algorithm>

namespace sorvane {

std::optional<std::string> NormalizeMemberName(std::string_view stored) {
    if (stored.starts_with('/') || stored.find('\\') != std::string_view::npos ||
        stored.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::string name;
    name.reserve(stored.size());
    std::size_t start = 0;
    while (start <= stored.size()) {
        const auto end = std::min(stored.find('/', start), stored.size());
        const std::string_view part = stored.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return std::nullopt;
        if (!name.empty())
            name.push_back('/');
        name.append(part);
    }
    return name;
}

std::string_view MemberFileName(std::string_view name) {
    const auto slash = name.rfind('/');
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

} // namespace sorvane
