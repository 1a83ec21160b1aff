#include "run/plan_item.h"

namespace qv::run {

const char* CopyModeName(int copyMode) {
    switch (copyMode < 0 ? -copyMode : copyMode) {
        case kModeNone:
            return "None";
        case kModeDescend:
            return "Descend";
        case kModeCopyAtoB:
            return "CopyAtoB";
        case kModeCopyBtoA:
            return "CopyBtoA";
        case kModeReplaceBwithA:
            return "ReplaceBwithA";
        case kModeReplaceAwithB:
            return "ReplaceAwithB";
        case kModeDeleteInA:
            return "DeleteInA";
        case kModeDeleteInB:
            return "DeleteInB";
        case kModeAttrAtoB:
            return "AttrAtoB";
        case kModeAttrBtoA:
            return "AttrBtoA";
        default:
            return "Unknown";
    }
}

namespace {
std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}
}  // namespace

std::string PlanItem::source(const std::string& parentSource) const {
    return sourcePath ? *sourcePath : Join(parentSource, name);
}

std::string PlanItem::dest(const std::string& parentDest) const {
    return destPath ? *destPath : Join(parentDest, nameInB());
}

}  // namespace qv::run
