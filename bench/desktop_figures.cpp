#include "bench/desktop_figures.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace tqbench {
namespace {

constexpr double kWakeupGoal = 2.0;   // wake-ups per second at rest
constexpr double kCpuGoal = 0.05;     // percent of one core at rest
constexpr double kStartupGoal = 300;  // milliseconds to the first window

// The lines a shell command prints on standard output, and whether it ended well.
bool runLines(const std::string& command, std::vector<std::string>& lines)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return false;
    }
    std::string line;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        line += buffer;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            lines.push_back(line);
            line.clear();
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    const int status = ::pclose(pipe);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

bool onPath(const char* tool)
{
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

// Figures by the first word of each line: "name value value...". Lines whose
// second word is no number (headers, notes) are passed through as notes.
std::map<std::string, std::vector<double>> figures(const std::vector<std::string>& lines,
                                                   std::vector<std::string>& notes)
{
    std::map<std::string, std::vector<double>> out;
    for (const std::string& line : lines) {
        std::istringstream in(line);
        std::string name;
        double value = 0;
        if (!(in >> name >> value)) {
            if (line.find("skipped") != std::string::npos) {
                notes.push_back(line);
            }
            continue;
        }
        std::vector<double>& values = out[name];
        values.push_back(value);
        while (in >> value) {
            values.push_back(value);
        }
    }
    return out;
}

void printRow(const std::string& name, double figure, double baseline, double goal, const char* format,
              std::vector<std::string>& below)
{
    const double ratio = figure > 0 ? goal / figure : 99.99;
    char line[160];
    char figureText[32];
    char baselineText[32];
    char goalText[32];
    std::snprintf(figureText, sizeof figureText, format, figure);
    std::snprintf(baselineText, sizeof baselineText, format, baseline);
    std::snprintf(goalText, sizeof goalText, format, goal);
    std::snprintf(line, sizeof line, "%-34s %10s %10s %10s %9.2fx", name.c_str(), figureText, baselineText,
                  goalText, ratio > 99.99 ? 99.99 : ratio);
    std::printf("%s\n", line);
    if (ratio < 1.0) {
        char text[48];
        std::snprintf(text, sizeof text, " (%.2fx)", ratio);
        below.push_back(name + text);
    }
}

} // namespace

void printDesktopRows(const DesktopFigureOptions& options, std::vector<std::string>& below)
{
    std::printf("\nidle and start-up (lower is better; ratio = goal / figure; baseline: a minimal Qt\n"
                "window in the same run; under a private Xvfb, bench/idle.sh and bench/startup.sh)\n");
    for (const char* tool : {"bash", "Xvfb"}) {
        if (!onPath(tool)) {
            std::printf("idle and start-up rows skipped: %s is not installed (apt-get install -y xvfb)\n", tool);
            return;
        }
    }
    for (const char* program : {"/app/tarnquill", "/bench/tarnquill-idle-window", "/bench/tarnquill-first-window"}) {
        if (::access((options.buildFolder + program).c_str(), X_OK) != 0) {
            std::printf("idle and start-up rows skipped: %s%s is not built (a build with TARNQUILL_GUI)\n",
                        options.buildFolder.c_str(), program);
            return;
        }
    }
    std::printf("%-34s %10s %10s %10s %10s\n", "case", "figure", "minimal Qt", "goal", "goal/fig");

    std::vector<std::string> lines;
    std::vector<std::string> notes;
    if (!runLines("bash " + quoted(options.scriptFolder + "/startup.sh") + " -n " +
                      std::to_string(options.startupRuns) + " -b " + quoted(options.buildFolder),
                  lines)) {
        std::printf("start-up rows skipped: bench/startup.sh failed (its message is above)\n");
    } else {
        auto times = figures(lines, notes);
        const double base = times["minimal-qt-window"].empty() ? 0 : times["minimal-qt-window"][0];
        for (const char* name : {"main-window-first-start", "main-window-later-start", "tray-icon-first-start",
                                 "tray-icon-later-start"}) {
            if (!times[name].empty()) {
                printRow(std::string("start-up ms ") + name, times[name][0], base, kStartupGoal, "%.1f", below);
            }
        }
    }

    lines.clear();
    if (!runLines("bash " + quoted(options.scriptFolder + "/idle.sh") + " -t " +
                      std::to_string(options.idleSeconds) + " -b " + quoted(options.buildFolder),
                  lines)) {
        std::printf("idle rows skipped: bench/idle.sh failed (its message is above)\n");
    } else {
        auto idle = figures(lines, notes);
        const std::vector<double>& base = idle["minimal-qt-window"];
        for (const char* state : {"main-window", "archive-window", "minimized-no-tray", "tray"}) {
            const std::vector<double>& v = idle[state];
            if (v.size() < 2 || base.size() < 2) {
                continue;
            }
            printRow(std::string("idle wakeups/s ") + state, v[0], base[0], kWakeupGoal, "%.2f", below);
            printRow(std::string("idle CPU % ") + state, v[1], base[1], kCpuGoal, "%.3f", below);
        }
    }
    for (const std::string& note : notes) {
        std::printf("%s\n", note.c_str());
    }
}

} // namespace tqbench
