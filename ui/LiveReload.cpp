#include "ui/LiveReload.h"

#include "core/ProjectFiles.h"
#include "core/RunState.h"
#include "persist/TextFile.h"
#include "platform/Platform.h"
#include "render/Workers.h"
#include "script/CompileNotes.h"
#include "ui/EditorState.h"
#include "ui/MainWindow.h"
#include "ui/StudioPoster.h"

#include <QFileInfo>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextCursor>
#include <cerrno>
#include <cstring>
#include <set>
#include <sys/stat.h>
#include <system_error>

namespace vortigo {
namespace {

constexpr int SETTLE_MS = 150;    // an editor's truncate-and-write reads as one change
constexpr int SYNC_MS = 500;      // how soon a newly named file is watched
constexpr int NOTE_POLL_MS = 200; // how often a reload's compile is looked at
constexpr int NOTE_POLLS = 50;    // and for how long
constexpr int NOTE_SHOWN_MS = 8000;
constexpr int COMPILE_WAIT_MS = 5000; // a compile that takes longer is not waited for

QString shortName(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).fileName();
}

QString folderOf(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).absolutePath();
}

char* textOf(int kind, int layer) {
    ProjectFiles& files = projectFiles();
    if (kind == KIND_SCRIPT) return files.scriptText.get();
    LayerSlot& slot = files.layers[static_cast<size_t>(layer)];
    return kind == KIND_VERTEX ? slot.vertexText.get() : slot.fragmentText.get();
}

uint8_t& dirtyOf(int kind, int layer) {
    ProjectFiles& files = projectFiles();
    if (kind == KIND_SCRIPT) return files.scriptDirty;
    LayerSlot& slot = files.layers[static_cast<size_t>(layer)];
    return kind == KIND_VERTEX ? slot.vertexDirty : slot.fragmentDirty;
}

bool shown(int kind, int layer) {
    const EditorState& editor = editorState();
    return editor.currentKind == kind && (kind == KIND_SCRIPT || editor.currentLayer == layer);
}

// The edits the user chose to replace go beside the file, under a name no
// other file has: "NAME.edited", "NAME.edited2", ...
std::string keepEditsBeside(const std::string& path, const char* text) {
    for (int n = 1; n < 1000; ++n) {
        const std::string aside = path + ".edited" + (n == 1 ? "" : std::to_string(n));
        struct stat info;
        if (::lstat(aside.c_str(), &info) == 0) continue;
        return replaceFileContents(aside, text, std::strlen(text)) ? aside : std::string();
    }
    return {};
}

} // namespace

LiveReload::LiveReload(MainWindow* main) : QObject(main), m_main(main) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(SETTLE_MS);
    connect(&m_settle, &QTimer::timeout, this, [this] { check(); });
    auto settleSoon = [this](const QString&) { m_settle.start(); };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, settleSoon);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, settleSoon);
    connect(&m_syncTimer, &QTimer::timeout, this, [this] { sync(); });
    m_syncTimer.start(SYNC_MS);
    connect(&m_notePoll, &QTimer::timeout, this, [this] {
        const std::string failure = takeCompileNote();
        if (!failure.empty()) {
            const std::string firstLine = failure.substr(0, failure.find_first_of("\r\n"));
            note(QStringLiteral("Reloaded %1: %2")
                     .arg(m_reloaded, QString::fromStdString(firstLine)));
            m_notePoll.stop();
        } else if (++m_notePolls >= NOTE_POLLS) {
            m_notePoll.stop();
        }
    });
}

std::map<std::string, std::vector<LiveReload::TextUse>> LiveReload::wantedFiles() const {
    const ProjectFiles& files = projectFiles();
    std::map<std::string, std::vector<TextUse>> wanted;
    if (files.scriptFile[0]) wanted[files.scriptFile].push_back(TextUse{KIND_SCRIPT, 0});
    for (int i = 0; i < LAYER_COUNT; ++i) {
        const LayerSlot& slot = files.layers[static_cast<size_t>(i)];
        if (slot.vertexFile[0]) wanted[slot.vertexFile].push_back(TextUse{KIND_VERTEX, i});
        if (slot.fragmentFile[0]) wanted[slot.fragmentFile].push_back(TextUse{KIND_FRAGMENT, i});
    }
    return wanted;
}

bool LiveReload::watches(const std::string& path) const {
    const auto found = m_files.find(path);
    return found != m_files.end() && !found->second.stopped;
}

void LiveReload::sync() {
    if (m_checking) return; // the files are being walked
    const auto wanted = wantedFiles();
    for (auto it = m_files.begin(); it != m_files.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        m_watcher.removePath(QString::fromStdString(it->first));
        it = m_files.erase(it);
    }
    std::set<QString> folders;
    for (const auto& [path, uses] : wanted) {
        auto [it, added] = m_files.try_emplace(path);
        Watched& w = it->second;
        if (added) {
            // What is on disk now is what the project loaded (or will be
            // saved over): only later changes are reloads.
            w.present = readFilePrefix(path, TEXT_SIZE, w.known) == 0;
        }
        if (w.stopped) continue;
        folders.insert(folderOf(path));
        const QString name = QString::fromStdString(path);
        // A file replaced by a rename is dropped by the watcher: take the new one.
        if (w.present && !m_watcher.files().contains(name)) m_watcher.addPath(name);
    }
    const QStringList watchedFolders = m_watcher.directories();
    for (const QString& folder : watchedFolders)
        if (!folders.count(folder)) m_watcher.removePath(folder);
    for (const QString& folder : folders)
        if (!watchedFolders.contains(folder)) m_watcher.addPath(folder);
}

bool LiveReload::compileInProgress() const {
    if (!renderThreadRunning()) return false;
    const RunState& runs = runState();
    if (runs.compileRequest) return true;
    // The compile this class asked for reads the texts until it has ended.
    return m_compileAskedAt.isValid() && !runs.scriptReady && !scriptCompileFailed() &&
           m_compileAskedAt.elapsed() < COMPILE_WAIT_MS;
}

void LiveReload::check() {
    // The render thread reads the texts while it compiles, and a question
    // about edits runs an event loop of its own: a change waits for both,
    // and for a poster, whose tiles must all come from the same programs.
    if (m_checking || compileInProgress() || studioPosterRunning()) {
        m_settle.start();
        return;
    }
    sync();
    m_checking = true;
    const auto wanted = wantedFiles();
    bool changed = false;
    QString reloaded;
    for (auto& [path, w] : m_files) {
        if (w.stopped) continue;
        struct stat info;
        if (::stat(path.c_str(), &info) != 0) {
            if (w.present)
                note(QStringLiteral("%1 was removed; it is loaded again when it comes back")
                         .arg(shortName(path)));
            w.present = false;
            continue;
        }
        std::string bytes;
        int error = 0;
        if (S_ISDIR(info.st_mode))
            error = EISDIR;
        else
            error = readFilePrefix(path, TEXT_SIZE, bytes);
        if (error != 0) {
            w.stopped = true;
            m_watcher.removePath(QString::fromStdString(path));
            note(
                QStringLiteral("%1 %2: it is no longer watched")
                    .arg(
                        shortName(path),
                        error == EISDIR
                            ? QStringLiteral("is now a folder")
                            : QStringLiteral("cannot be read (%1)")
                                  .arg(QString::fromStdString(
                                      std::error_code(error, std::generic_category()).message()))));
            continue;
        }
        w.present = true;
        if (bytes == w.known) continue;
        w.known = bytes;
        const auto uses = wanted.find(path);
        if (uses == wanted.end()) continue;
        if (bytes.size() >= static_cast<size_t>(TEXT_SIZE)) {
            note(QStringLiteral("%1 was not reloaded: it is longer than 65535 characters")
                     .arg(shortName(path)));
            continue;
        }
        if (reload(path, bytes)) {
            changed = true;
            reloaded = reloaded.isEmpty() ? shortName(path) : reloaded + ", " + shortName(path);
        }
    }
    m_checking = false;
    if (!changed) return;
    takeCompileNote(); // an older quiet compile's error is not this one's
    m_main->recompileAfterReload();
    m_compileAskedAt.start();
    note(QStringLiteral("Reloaded %1").arg(reloaded));
    watchForCompileNote(reloaded);
}

bool LiveReload::reload(const std::string& path, const std::string& bytes) {
    const auto wanted = wantedFiles();
    bool any = false;
    for (const TextUse& use : wanted.at(path)) {
        char* text = textOf(use.kind, use.layer);
        if (!text) continue;
        const bool isShown = shown(use.kind, use.layer);
        if (isShown) m_main->storeShownText();
        if (bytes == text) continue;
        uint8_t& dirty = dirtyOf(use.kind, use.layer);
        if (dirty) {
            const std::string question =
                path +
                "\nwas changed by another program, and the studio holds edits of it "
                "that are not saved.\n\nYes: load the file as it is on disk; your edits "
                "are saved beside it as " +
                shortName(path).toStdString() +
                ".edited.\nNo: keep your edits; the file on disk stays as the other program "
                "saved it.";
            if (platform().messageBox(WindowId::Main, question, "File Changed", MsgButtons::YesNo,
                                      MsgIcon::Question) != MsgAnswer::Yes)
                continue;
            const std::string aside = keepEditsBeside(path, text);
            if (aside.empty()) {
                note(QStringLiteral("%1 was not reloaded: your edits could not be saved beside it")
                         .arg(shortName(path)));
                continue;
            }
        }
        std::memcpy(text, bytes.data(), bytes.size());
        text[bytes.size()] = 0;
        dirty = 0;
        if (isShown) {
            QPlainTextEdit* editor = m_main->editor();
            const int cursor = editor->textCursor().position();
            topLineOfKind(use.kind) = editor->verticalScrollBar()->value();
            m_main->showCurrentText();
            QTextCursor place = editor->textCursor();
            place.setPosition(std::min(cursor, editor->document()->characterCount() - 1));
            editor->setTextCursor(place);
            editor->verticalScrollBar()->setValue(topLineOfKind(use.kind));
        }
        any = true;
    }
    return any;
}

void LiveReload::note(const QString& text) {
    m_lastNote = text;
    m_main->statusBar()->showMessage(text, NOTE_SHOWN_MS);
}

void LiveReload::watchForCompileNote(const QString& reloaded) {
    m_reloaded = reloaded;
    m_notePolls = 0;
    m_notePoll.start(NOTE_POLL_MS);
}

} // namespace vortigo
