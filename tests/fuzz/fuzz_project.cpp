// The project reader on arbitrary bytes. Besides not crashing: whatever it
// reads, writing it out and reading that back must write the same text
// again. Only udef values below float's normal range may move, since six
// digits cannot always pick out one of those.
#include "FuzzState.h"
#include "core/Numbers.h"
#include "persist/ProjectFile.h"

#include <cfloat>
#include <cmath>
#include <sstream>
#include <string_view>

using namespace vortigo;

namespace {

bool tinyUdefLine(const std::string& line) {
    if (line.rfind("UDEF", 0) != 0) return false;
    const size_t equals = line.find('=');
    return equals != std::string::npos &&
           std::fabs(parseFloat(line.c_str() + equals + 1)) < FLT_MIN;
}

bool sameText(const std::string& a, const std::string& b) {
    std::istringstream left(a), right(b);
    std::string l, r;
    while (true) {
        const bool moreLeft = static_cast<bool>(std::getline(left, l));
        const bool moreRight = static_cast<bool>(std::getline(right, r));
        if (moreLeft != moreRight) return false;
        if (!moreLeft) return true;
        if (l != r && !(tinyUdefLine(l) && tinyUdefLine(r))) return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::initialiseOnce()) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    storePath(projectFiles().projectFile, "/nonexistent-vortigo-fuzz/project.vort");
    if (!hasProjectMagic(bytes)) return 0;
    readProjectEntries(bytes);
    const std::string first = projectFileText();
    fuzz::require(hasProjectMagic(first));
    readProjectEntries(first);
    fuzz::require(sameText(projectFileText(), first));
    (void)describeProject();
    fuzz::headless().clearRecords();
    return 0;
}
