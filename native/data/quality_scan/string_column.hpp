// What makes a column a string column: most of its present (non-missing)
// values are str. One definition for `is_string_column` and for the checks
// that count it during their own scan of a column.
#pragma once

#include <cstddef>

namespace zeka::quality_scan {

inline bool is_mostly_str(std::size_t present, std::size_t strings) {
    return present > 0 && 2 * strings > present;
}

} // namespace zeka::quality_scan
