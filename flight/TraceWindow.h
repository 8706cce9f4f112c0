// The Trace window: shows the finished frames and receives the advance
// message. User-interface thread only.
#pragma once

#include <QWidget>

namespace vortigo {

class TraceWindow : public QWidget {
public:
    TraceWindow();

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vortigo
