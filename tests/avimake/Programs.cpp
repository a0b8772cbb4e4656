#include "Programs.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace avimaketest {

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Capture(const std::string& command, int* status) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("popen failed: " + command);
    std::string output;
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, got);
    }
    const int raw = ::pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

int RunAvimake(const std::vector<std::string>& args, std::string* errorOutput) {
    std::string command = ShellQuote(AVIMAKE_PATH);
    for (const std::string& a : args) command += " " + ShellQuote(a);
    command += " 2>&1";
    int status = 0;
    const std::string output = Capture(command, &status);
    if (errorOutput != nullptr) *errorOutput = output;
    return status;
}

bool HaveFfmpeg() {
    int status = 0;
    Capture("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1", &status);
    return status == 0;
}

Record ReadRecord(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    Record record;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        if (line[0] != '#') {
            record.frameLines.push_back(line);
            continue;
        }
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) {
            record.values[line.substr(1, colon - 1)] = line.substr(colon + 2);
        }
    }
    return record;
}

std::vector<std::string> BodyLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    }
    return lines;
}

}  // namespace avimaketest
