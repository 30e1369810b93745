#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"

// Runs the built tarsil program as a separate process, as people run it.
struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string shellQuoted(const std::string& arg) {
    std::string result = "'";
    for (char c : arg) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

// Runs tarsil with `args`; its output files live in `dir`.
inline Outcome tarsil(const TempDir& dir, const std::vector<std::string>& args) {
    std::string command = TARSIL_BINARY;
    for (const std::string& arg : args) {
        command += " " + shellQuoted(arg);
    }
    std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
    command += " >" + shellQuoted(out) + " 2>" + shellQuoted(err);
    Outcome run;
    int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
}

inline int lines(const std::string& text) {
    int n = 0;
    for (char c : text) {
        n += c == '\n';
    }
    return n;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

