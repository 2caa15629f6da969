#include "engine/scan/display_filter.h"

namespace sorvane {

bool ShouldShowRow(ComparisonMark mark, int mode) {
    if (mode == static_cast<int>(DisplayMode::AllVersioned))
        return true;
    switch (mark) {
    case ComparisonMark::Orphan:
    case ComparisonMark::Equal:
        return false;
    case ComparisonMark::NewerTarget:
        return mode != static_cast<int>(DisplayMode::NewerOnly);
    default:
        return true;
    }
}

} // namespace sorvane
