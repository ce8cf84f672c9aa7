#include "app/config_search.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

// The candidates in order; -cfg= options replace the search; the first file
// that exists wins, and with none the one beside the program is named.
TEST(ConfigSearch, CandidatesAndTheFirstExistingFile) {
    TConfigSearch search;
    search.Home = "/home/u";
    search.ProgramDir = "/opt/q/bin";
    search.DataDir = "/usr/share/quenlor";
    EXPECT_EQ(ConfigCandidates(search),
              (std::vector<std::string>{
                  "/home/u/.config/quenlor/quenlor.cfg", "/opt/q/bin/quenlor.cfg",
                  "/opt/q/bin/../share/quenlor/quenlor.cfg", "/usr/share/quenlor/quenlor.cfg"}));
    search.XdgConfigHome = "/x/";
    EXPECT_EQ(ConfigCandidates(search).front(), "/x/quenlor/quenlor.cfg");
    search.CfgOptions = {"a.cfg", "/b/c.cfg"};
    EXPECT_EQ(FindConfigFiles(search), search.CfgOptions);

    const fs::path root = fs::temp_directory_path() / ("qsearch-" + std::to_string(::getpid()));
    for (const char* dir : {"xdg/quenlor", "prefix/bin", "prefix/share/quenlor"})
        fs::create_directories(root / dir);
    search = TConfigSearch{};
    search.XdgConfigHome = (root / "xdg").string();
    search.ProgramDir = (root / "prefix/bin").string();
    search.DataDir = (root / "nowhere").string();
    const std::string beside = (root / "prefix/bin/quenlor.cfg").string();
    EXPECT_EQ(FindConfigFiles(search), std::vector<std::string>{beside});
    for (const std::string file : {"prefix/share/quenlor/quenlor.cfg", "prefix/bin/quenlor.cfg",
                                   "xdg/quenlor/quenlor.cfg"}) {
        std::ofstream(root / file) << "# x\n";
        EXPECT_EQ(fs::path(FindConfigFiles(search).front()).lexically_normal(),
                  (root / file).lexically_normal());
    }
    fs::remove_all(root);
    EXPECT_EQ(FolderOf("quenlor.cfg"), ".");
    EXPECT_EQ(FolderOf("/quenlor.cfg"), "/");
    EXPECT_EQ(FolderOf("a/b/c.cfg"), "a/b");
}
