// Live reload: the project's text files (the script and every layer's vertex
// and fragment text) are watched, so a save from any other editor shows at
// once. A changed file is loaded into its text and the project recompiled,
// keeping the camera, the time and the parameters, with a note in the status
// line; compile errors of such a compile go to the status line, the Debug
// Output page and the editor's error jump, never into a message box. When
// the studio's copy holds unsaved edits the user is asked first, and the
// edits are written beside the file before the disk version replaces them.
//
// The folder of each file is watched too: editors that save by writing a
// temporary file and renaming it, or by deleting and recreating, replace the
// file the watcher held. A file that becomes a folder or unreadable is no
// longer watched, with a note, until the project names it again.
//
// Threads: user-interface thread only.
#pragma once

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <map>
#include <string>
#include <vector>

namespace vortigo {

class MainWindow;

class LiveReload : public QObject {
  public:
    explicit LiveReload(MainWindow* main);

    // Brings the watched set in line with the files the project names now.
    void sync();
    // Looks at every watched file now (the watcher's signals lead here
    // after a short settling time, so an editor's several writes read as one).
    void check();

    // The last note for the status line, for the tests.
    const QString& lastNote() const { return m_lastNote; }
    bool watches(const std::string& path) const;

  private:
    struct Watched {
        std::string known;   // the bytes last seen on disk
        bool present = true; // false while the file is missing
        bool stopped = false;
    };
    struct TextUse {
        int kind;
        int layer;
    };

    std::map<std::string, std::vector<TextUse>> wantedFiles() const;
    bool reload(const std::string& path, const std::string& bytes);
    void note(const QString& text);
    void watchForCompileNote(const QString& reloaded);
    bool compileInProgress() const;

    MainWindow* m_main;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QTimer m_syncTimer;
    QTimer m_notePoll;
    int m_notePolls = 0;
    bool m_checking = false;
    QElapsedTimer m_compileAskedAt; // when this class last asked for a compile
    QString m_reloaded;
    QString m_lastNote;
    std::map<std::string, Watched> m_files;
};

} // namespace vortigo
