#include "UpdateTime.h"

std::string withoutUpdateTime(const std::string& out) {
    const std::string head = "Update time: ", tail = " sec\n";
    const size_t start = out.rfind(head);
    const bool ends =
        out.size() >= tail.size() && out.compare(out.size() - tail.size(), tail.size(), tail) == 0;
    if (start == std::string::npos || (start > 0 && out[start - 1] != '\n') || !ends)
        return out + "<no update time line>";
    // Seconds with four decimals: digits, a point, four digits.
    const std::string seconds =
        out.substr(start + head.size(), out.size() - tail.size() - start - head.size());
    const size_t point = seconds.find('.');
    const bool wellFormed = point != std::string::npos && point > 0 && seconds.size() - point - 1 == 4 &&
                            seconds.find_first_not_of("0123456789.") == std::string::npos &&
                            seconds.find('.', point + 1) == std::string::npos;
    if (!wellFormed) return out + "<no update time line>";
    return out.substr(0, start);
}
