#include "params/ValueList.h"

#include <vector>

namespace XEVLibrary {

std::string formatValueList(const XEVParam& param) {
    std::vector<std::string> walked;
    const XEVParam::ValueIterator last = param.end();
    for (XEVParam::ValueIterator it = param.begin(); it != last; ++it)
        walked.push_back(*it);

    std::string text = "{ ";
    const std::size_t count = walked.size();
    if (count < 8) {
        for (std::size_t i = count; i > 0; --i) {
            text += walked[i - 1];
            if (i > 1)
                text += ", ";
        }
    } else {
        text += walked[0] + ", " + walked[1] + ", ... , " + walked[count - 2] + ", " +
                walked[count - 1];
    }
    text += " }";
    return text;
}

} // namespace XEVLibrary
