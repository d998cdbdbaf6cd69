#pragma once
// The workbook's shared strings: every item's text, unescaped, in one pool.
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class ZipArchive;

namespace xlsx {

struct SharedStrings {
    std::string pool;
    std::vector<uint32_t> ends;
    bool complete = false;

    size_t size() const { return ends.size(); }
    std::string_view at(size_t i) const {
        const uint32_t begin = i == 0 ? 0 : ends[i - 1];
        return std::string_view(pool).substr(begin, ends[i] - begin);
    }
};

// Reads the items of part into shared, which starts empty. lastNeeded: the highest index the
// caller needs, or -1 for all; shared is complete when every item was read. Throws WorkbookError.
void readSharedStrings(const ZipArchive& zip, const QString& part, int64_t lastNeeded, SharedStrings& shared);

} // namespace xlsx
