#include "ui/ExampleProjects.h"

#include "core/CaptureState.h"
#include "core/Handoff.h"
#include "persist/ProjectFile.h"
#include "platform/Platform.h"
#include "platform/ProgramDir.h"
#include "ui/FileFlows.h"
#include "ui/IdleRetry.h"
#include "ui/MainWindow.h"

#include <QFileDialog>
#include <QMenu>
#include <QStandardPaths>
#include <algorithm>
#include <filesystem>
#include <system_error>

namespace vortigo {
namespace {

namespace fs = std::filesystem;

ExampleFolderHook g_folderHook;

constexpr const char* EXAMPLES_CAPTION = "Examples";
// More copies of one example than anyone makes; the bound only ends the
// search for a free name.
constexpr int MAX_COPIES = 1000;

bool isInside(const fs::path& inner, const fs::path& outer) {
    std::error_code ec;
    const fs::path a = fs::weakly_canonical(inner, ec);
    if (ec) return false;
    const fs::path b = fs::weakly_canonical(outer, ec);
    if (ec) return false;
    auto [end, rest] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
    return end == b.end();
}

std::string askForFolder(MainWindow& window, const std::string& start) {
    if (g_folderHook) return g_folderHook(start);
    return QFileDialog::getExistingDirectory(&window, QObject::tr("Copy the example into"),
                                             QString::fromStdString(start))
        .toStdString();
}

void report(const std::string& text) {
    platform().messageBox(WindowId::Main, text, EXAMPLES_CAPTION, MsgButtons::Ok, MsgIcon::Error);
}

} // namespace

std::string examplesFolder() {
    return programDirectory() + "/examples";
}

std::vector<ExampleProject> listExamples(const std::string& folder) {
    std::vector<ExampleProject> result;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (fs::is_regular_file(it->path() / (name + ".vort"), ec))
            result.push_back({name, it->path().string()});
    }
    std::sort(result.begin(), result.end(),
              [](const ExampleProject& a, const ExampleProject& b) { return a.name < b.name; });
    return result;
}

std::string copyExample(const ExampleProject& example, const std::string& parent,
                        std::string& error) {
    std::error_code ec;
    fs::create_directories(parent, ec);
    // create_directory() claims a name only when nothing holds it yet, so a
    // copy never lands in (or mixes with) an existing folder.
    fs::path target;
    for (int n = 1; n <= MAX_COPIES && target.empty(); ++n) {
        const fs::path candidate =
            fs::path(parent) / (n == 1 ? example.name : example.name + "-" + std::to_string(n));
        if (fs::create_directory(candidate, ec)) target = candidate;
        if (ec) break;
    }
    if (target.empty()) {
        error = "Could not make a folder for the example " + example.name + " in " + parent +
                (ec ? ": " + ec.message() : ".");
        return {};
    }
    for (fs::directory_iterator it(example.folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const fs::path to = target / it->path().filename();
        if (!fs::copy_file(it->path(), to, ec)) break;
        // Installed files are read-only; the user's copy is theirs to edit.
        fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add,
                        ec);
        if (ec) break;
    }
    if (ec) {
        error = "Could not copy the example " + example.name + " to " + target.string() + ": " +
                ec.message();
        return {};
    }
    return (target / (example.name + ".vort")).string();
}

std::string defaultCopyParent() {
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    return documents.toStdString();
}

void setExampleFolderHook(ExampleFolderHook hook) {
    g_folderHook = std::move(hook);
}

void fillExamplesMenu(MainWindow& window, QMenu* menu) {
    menu->clear();
    const std::vector<ExampleProject> examples = listExamples(examplesFolder());
    if (examples.empty()) {
        menu->addAction(QObject::tr("(no examples installed)"))->setEnabled(false);
        return;
    }
    for (const ExampleProject& example : examples) {
        QObject::connect(menu->addAction(QString::fromStdString(example.name)), &QAction::triggered,
                         &window, [&window, example] { openExampleCommand(window, example); });
    }
}

void openExampleCommand(MainWindow& window, const ExampleProject& example) {
    // Opening replaces what the render thread reads, as File > Open does.
    if (!stopFlightAndCheckParked()) {
        retryWhenIdle(&window, [&window, example] { openExampleCommand(window, example); });
        return;
    }
    if (!mayDiscardEditedTexts(DISCARD_QUESTION)) return;
    const std::string parent = askForFolder(window, defaultCopyParent());
    if (parent.empty()) return;
    if (isInside(parent, example.folder) || isInside(parent, examplesFolder())) {
        report("The copy of an example cannot go into the examples' own folder: choose another "
               "folder.");
        return;
    }
    std::string error;
    const std::string project = copyExample(example, parent, error);
    if (project.empty()) {
        report(error);
        return;
    }
    openByExtension(window, project);
    // A capture started from the copy lands beside it, not wherever the
    // studio was started.
    CaptureState& capture = captureState();
    if (!capture.outputFile[0])
        storePath(capture.outputFile, fs::path(project).replace_extension(".avi").string());
}

} // namespace vortigo
