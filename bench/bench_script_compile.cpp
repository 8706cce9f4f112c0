// How much the script host adds to libtcc's own compile: the host's whole
// compile (old udShutdown, compile, link into its code block, entry points,
// guarded udSetup) against a bare compile-and-relocate of the same text
// with the same include paths and libraries, in the same process.
//
// Run from the build folder: bin/bench_script_compile [repetitions]
#include "core/ProjectFiles.h"
#include "persist/ProjectDefaults.h"
#include "platform/HeadlessPlatform.h"
#include "platform/ProgramDir.h"
#include "script/ScriptHost.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <libtcc.h>
#include <string>
#include <vector>

using namespace vortigo;

namespace {

double elapsedMs(const std::function<bool()>& run) {
    const auto start = std::chrono::steady_clock::now();
    if (!run()) {
        std::fprintf(stderr, "compile failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool bareCompile(const std::string& text) {
    TCCState* s = tcc_new();
    if (!s) return false;
    tcc_set_lib_path(s, compilerHome().c_str());
    tcc_set_output_type(s, TCC_OUTPUT_MEMORY);
    tcc_add_include_path(s, (programDirectory() + "/lib").c_str());
    for (const char* library : {"tcc1", "c", "m", "GL"})
        tcc_add_library(s, library);
    bool ok = tcc_compile_string(s, text.c_str()) != -1;
    if (ok) {
        const int size = tcc_relocate(s, nullptr);
        ok = size >= 0;
        if (ok) {
            std::vector<char> block(static_cast<size_t>(size));
            tcc_relocate(s, block.data());
        }
    }
    tcc_delete(s);
    return ok;
}

std::string generatedScript(size_t bytes) {
    std::string text = "#include <vortigo.h>\nstatic float *u;\n";
    for (int i = 0; text.size() < bytes - 200; ++i)
        text += "static float f" + std::to_string(i) + "(float x) { return x * 1.5f + " +
                std::to_string(i % 50) + ".25f - u[" + std::to_string(i % 16) + "]; }\n";
    text += "void udSetup(void *w, float *udef, float *a, int *f, char *l) { u = udef; }\n";
    return text;
}

// The two kinds of compile alternate, so a busy moment of the machine
// weighs on both alike.
void report(const char* name, const std::string& text, int repetitions) {
    std::vector<double> bare, host;
    for (int i = 0; i < repetitions; ++i) {
        bare.push_back(elapsedMs([&] { return bareCompile(text); }));
        host.push_back(elapsedMs([&] { return compileScript(text.c_str()); }));
    }
    const double bareMs = median(bare), hostMs = median(host);
    std::printf("%-28s %7zu bytes  bare %7.3f ms  host %7.3f ms  host/bare %.3f\n", name,
                text.size(), bareMs, hostMs, hostMs / bareMs);
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 101;
    HeadlessPlatform headless;
    ScopedPlatform installed(&headless);
    if (!initialiseProjectState()) return 1;
    if (!headless.messageBoxes().empty()) {
        std::fprintf(stderr, "%s\n", headless.messageBoxes().front().text.c_str());
        return 1;
    }
    std::printf("medians of %d compiles each\n", repetitions);
    report("default script", projectFiles().scriptText.get(), repetitions);
    report("generated script", generatedScript(60 * 1024), repetitions);
    shutDownScript();
    return 0;
}
