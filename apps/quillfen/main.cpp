// quillfen: the archiving station's command-line entry point.

#include <CLI/CLI.hpp>

#include <cstdio>

#include "base/Trace.h"

namespace {

void printVersion() {
    std::printf("quillfen %s\n", QUILLFEN_VERSION);
    std::printf("subsystems: %s\n", QUILLFEN_SUBSYSTEMS);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Quill Fen: archiving station for recorded surveillance media"};
    bool showVersion = false;
    bool trace = false;
    app.add_flag("--version", showVersion, "Print the version and the subsystems built, then exit");
    app.add_flag("--trace", trace, "Write diagnostic trace lines to stderr");
    CLI11_PARSE(app, argc, argv);

    if (trace) {
        Trace::setEnabled(true);
    }
    if (showVersion || argc == 1) {
        printVersion();
        return 0;
    }
    return 0;
}
