// What the message loop does with a key before it is dispatched: function
// keys go to the main window from any of the studio's windows, Enter in the
// editor marks the text edited and carries the line's leading tabs to the
// new line, and Alt+? or Alt+/ opens the About box. While a modal dialog or
// message box is open its keys are its own. User-interface thread only.
#pragma once

#include <QObject>

namespace vortigo {

class MainWindow;

class KeyRouter : public QObject {
  public:
    explicit KeyRouter(MainWindow* main) : m_main(main) {}
    void setMainWindow(MainWindow* main) { m_main = main; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    MainWindow* m_main;
};

} // namespace vortigo
