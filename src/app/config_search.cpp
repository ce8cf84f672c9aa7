#include "app/config_search.h"

#include <unistd.h>

namespace {

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::vector<std::string> ConfigCandidates(const TConfigSearch& search) {
    std::vector<std::string> out;
    if (!search.XdgConfigHome.empty()) {
        out.push_back(Join(search.XdgConfigHome, "quenlor/quenlor.cfg"));
    } else if (!search.Home.empty()) {
        out.push_back(Join(search.Home, ".config/quenlor/quenlor.cfg"));
    }
    if (!search.ProgramDir.empty()) {
        out.push_back(Join(search.ProgramDir, "quenlor.cfg"));
        out.push_back(Join(search.ProgramDir, "../share/quenlor/quenlor.cfg"));
    }
    if (!search.DataDir.empty()) out.push_back(Join(search.DataDir, "quenlor.cfg"));
    return out;
}

std::vector<std::string> FindConfigFiles(const TConfigSearch& search) {
    if (!search.CfgOptions.empty()) return search.CfgOptions;
    const std::vector<std::string> candidates = ConfigCandidates(search);
    for (const std::string& path : candidates) {
        if (::access(path.c_str(), R_OK) == 0) return {path};
    }
    return {search.ProgramDir.empty() ? std::string("quenlor.cfg")
                                      : Join(search.ProgramDir, "quenlor.cfg")};
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}
