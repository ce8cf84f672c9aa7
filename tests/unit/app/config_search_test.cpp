#include "app/config_search.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(ConfigSearch, CandidatesInOrder) {
    TConfigSearch search;
    search.Home = "/home/u";
    search.ProgramDir = "/opt/q/bin";
    search.DataDir = "/usr/share/quenlor";
    const std::vector<std::string> home = {
        "/home/u/.config/quenlor/quenlor.cfg", "/opt/q/bin/quenlor.cfg",
        "/opt/q/bin/../share/quenlor/quenlor.cfg", "/usr/share/quenlor/quenlor.cfg"};
    EXPECT_EQ(ConfigCandidates(search), home);
    search.XdgConfigHome = "/x/";
    EXPECT_EQ(ConfigCandidates(search).front(), "/x/quenlor/quenlor.cfg");
    // -cfg= options replace the search, in their order.
    search.CfgOptions = {"a.cfg", "/b/c.cfg"};
    EXPECT_EQ(FindConfigFiles(search), search.CfgOptions);
}

TEST(ConfigSearch, FirstExistingFileWins) {
    const fs::path root = fs::temp_directory_path() / ("qsearch-" + std::to_string(::getpid()));
    fs::create_directories(root / "xdg/quenlor");
    fs::create_directories(root / "prefix/bin");
    fs::create_directories(root / "prefix/share/quenlor");
    auto touch = [](const fs::path& p) { std::ofstream(p) << "# x\n"; };
    TConfigSearch search;
    search.XdgConfigHome = (root / "xdg").string();
    search.ProgramDir = (root / "prefix/bin").string();
    search.DataDir = (root / "nowhere").string();
    // None exists: the one beside the program is named in the error.
    EXPECT_EQ(FindConfigFiles(search),
              std::vector<std::string>{(root / "prefix/bin/quenlor.cfg").string()});
    touch(root / "prefix/share/quenlor/quenlor.cfg");
    EXPECT_EQ(FolderOf(FindConfigFiles(search).front()),
              (root / "prefix/bin/../share/quenlor").string());
    touch(root / "prefix/bin/quenlor.cfg");
    EXPECT_EQ(FolderOf(FindConfigFiles(search).front()), search.ProgramDir);
    touch(root / "xdg/quenlor/quenlor.cfg");
    EXPECT_EQ(FindConfigFiles(search).front(), (root / "xdg/quenlor/quenlor.cfg").string());
    fs::remove_all(root);
}

TEST(ConfigSearch, FolderOf) {
    EXPECT_EQ(FolderOf("quenlor.cfg"), ".");
    EXPECT_EQ(FolderOf("/quenlor.cfg"), "/");
    EXPECT_EQ(FolderOf("a/b/c.cfg"), "a/b");
}

}  // namespace
