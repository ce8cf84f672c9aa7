// Where the configuration comes from. In order: every -cfg=FILE given;
// else $XDG_CONFIG_HOME/quenlor/quenlor.cfg (or ~/.config/quenlor/...
// when XDG_CONFIG_HOME is unset or empty); else quenlor.cfg beside the
// program; else the installed data folder's sample (share/quenlor beside
// the program's bin folder, so an installed tree can move, then the folder
// fixed when the program was built). The program then works
// in the folder of the first file used, so relative names inside it
// (termcap, key files, logs, replays) are taken from there.
#pragma once

#include <string>
#include <vector>

struct TConfigSearch {
    std::vector<std::string> CfgOptions;  // -cfg= values, in order
    std::string XdgConfigHome;            // $XDG_CONFIG_HOME
    std::string Home;                     // $HOME
    std::string ProgramDir;               // folder of the executable
    std::string DataDir;                  // the installed data folder
};

// The files to load, in order. With no -cfg= option, the first candidate
// that exists (or, when none does, the one beside the program, so that the
// usual "Unable to open config file" names it).
std::vector<std::string> FindConfigFiles(const TConfigSearch& search);
// The candidates without -cfg=, in the order they are tried.
std::vector<std::string> ConfigCandidates(const TConfigSearch& search);
// The folder part of a path ("." for a bare name).
std::string FolderOf(const std::string& path);
