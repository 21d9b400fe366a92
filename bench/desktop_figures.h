// The desktop rows of tarnquill-bench: the program's idle cost and its start-up
// time, measured under a private Xvfb display by bench/idle.sh and
// bench/startup.sh, which it runs and whose figures it prints as rows.
//
// Takes the folder of those scripts and the build folder that holds tarnquill,
// tarnquill-idle-window and tarnquill-first-window. Every row gives the figure,
// the minimal Qt window's figure from the same run (the baseline no Qt program
// can go below), the goal, and the ratio goal / figure: these quantities are
// lower-is-better, so 1x or more meets the goal. Rows below 1x are appended to
// `below` (name and ratio). When a tool or a built program is missing, or a
// script fails, prints one line saying which rows were skipped and why, and
// adds nothing.
#pragma once

#include <string>
#include <vector>

namespace tqbench {

struct DesktopFigureOptions {
    std::string scriptFolder;
    std::string buildFolder;
    int idleSeconds = 30;
    int startupRuns = 5;
};

void printDesktopRows(const DesktopFigureOptions& options, std::vector<std::string>& below);

} // namespace tqbench
