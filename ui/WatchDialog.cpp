#include "ui/WatchDialog.h"

#include "core/RunState.h"
#include "core/ViewFlags.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <atomic>

namespace vortigo {
namespace {

// User-interface thread only.
QPointer<WatchDialog> g_dialog;

// Set while a refresh is queued and has not started yet.
std::atomic<bool> g_refreshPending{false};

const char* const HEADERS[] = {"Variable Name", "Offset", "Type", "Value"};

} // namespace

WatchDialog::WatchDialog(QWidget* owner) : QDialog(owner) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("Watch Animation Script Globals"));

    auto* grid = new QGridLayout;
    for (int column = 0; column < 4; ++column)
        grid->addWidget(new QLabel(QString::fromLatin1(HEADERS[column]), this), 0, column);

    Controls& c = m_controls;
    for (int r = 0; r < WATCH_ROW_COUNT; ++r) {
        c.names[r] = new QLineEdit(this);
        c.offsets[r] = new QLineEdit(QStringLiteral("0"), this);
        c.types[r] = new QComboBox(this);
        c.values[r] = new QLineEdit(this);
        for (const char* item : WATCH_TYPE_NAMES)
            c.types[r]->addItem(QString::fromLatin1(item));
        c.types[r]->setCurrentIndex(-1);
        grid->addWidget(c.names[r], r + 1, 0);
        grid->addWidget(c.offsets[r], r + 1, 1);
        grid->addWidget(c.types[r], r + 1, 2);
        grid->addWidget(c.values[r], r + 1, 3);
    }
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 2);
    grid->setColumnStretch(3, 3);

    c.watch = new QPushButton(QStringLiteral("Watch"), this);
    c.set = new QPushButton(QStringLiteral("Set"), this);
    c.close = new QPushButton(QStringLiteral("Close"), this);
    c.watch->setDefault(true);
    connect(c.watch, &QPushButton::clicked, this, [this] { watch(); });
    connect(c.set, &QPushButton::clicked, this, [this] { set(); });
    connect(c.close, &QPushButton::clicked, this, [this] { closeWatch(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(c.watch);
    buttons->addWidget(c.set);
    buttons->addWidget(c.close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    g_dialog = this;
    m_attached = true;
    viewFlags().watchOpen = 1;
    setWatchRefreshHook(refreshWatchFromPostThread);
}

WatchDialog::~WatchDialog() {
    detach();
}

void WatchDialog::watch() {
    if (!runState().scriptReady) {
        showMessage(QStringLiteral("You need to compile first."), QStringLiteral("Watch Error"));
        return;
    }
    handleRows(false, false);
}

void WatchDialog::set() {
    if (!runState().scriptReady) {
        showMessage(QStringLiteral("You need to compile first."), QStringLiteral("Watch Error"));
        return;
    }
    handleRows(true, false);
}

void WatchDialog::closeWatch() {
    detach();
    close();
}

void WatchDialog::refresh() {
    // A refresh during one of our own message boxes would stack a second box
    // on the first at the next frame.
    if (m_boxOpen || m_refreshPaused || !m_attached) return;
    if (!runState().scriptReady || !viewFlags().watchOpen) return;
    handleRows(false, true);
}

void WatchDialog::handleRows(bool write, bool perFrame) {
    WatchRowSet rows;
    for (int r = 0; r < WATCH_ROW_COUNT; ++r) {
        rows[r].name = m_controls.names[r]->text().toStdString();
        rows[r].offsetText = m_controls.offsets[r]->text().toStdString();
        rows[r].type = m_controls.types[r]->currentIndex();
        // Latin-1 both ways, so a char element's byte comes back unchanged.
        rows[r].value = m_controls.values[r]->text().toLatin1().toStdString();
    }

    const WatchResult result = watchRows(rows, write);

    for (int r = 0; r < WATCH_ROW_COUNT; ++r) {
        QLineEdit* value = m_controls.values[r];
        const WatchRowStatus status = result.rows[r];
        if (!write && (status == WatchRowStatus::Shown || status == WatchRowStatus::Unknown)) {
            if (!(perFrame && value->isModified()))
                value->setText(QString::fromLatin1(rows[r].value));
        }
        if (write && status == WatchRowStatus::Stored) value->setModified(false);
    }
    if (!perFrame) m_refreshPaused = false;
    if (result.outcome == WatchOutcome::Fault) m_refreshPaused = true;

    QPointer<WatchDialog> self(this);
    if (write) {
        for (int r = 0; r < WATCH_ROW_COUNT; ++r) {
            if (result.rows[r] != WatchRowStatus::Unknown) continue;
            showMessage(QStringLiteral("Unknown identifier."),
                        QStringLiteral("Error setting value."));
            if (!self) return;
        }
    }
    if (result.outcome == WatchOutcome::Fault)
        showMessage(QStringLiteral("Watch caused an exception."), QStringLiteral("Watch Error"));
}

void WatchDialog::showMessage(const QString& text, const QString& caption) {
    QPointer<WatchDialog> self(this);
    m_boxOpen = true;
    if (m_messageSink) {
        m_messageSink(text, caption);
    } else {
        QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, this);
        box.exec();
    }
    if (self) m_boxOpen = false;
}

void WatchDialog::detach() {
    if (!m_attached) return;
    m_attached = false;
    setWatchRefreshHook(nullptr);
    viewFlags().watchOpen = 0;
    if (g_dialog == this) g_dialog = nullptr;
}

void WatchDialog::closeEvent(QCloseEvent* event) {
    detach();
    QDialog::closeEvent(event);
}

void WatchDialog::done(int result) {
    // Escape ends here without a close event.
    detach();
    QDialog::done(result);
}

WatchDialog* openWatchDialog(QWidget* owner) {
    if (viewFlags().watchOpen) {
        if (g_dialog) {
            g_dialog->raise();
            g_dialog->activateWindow();
        }
        return nullptr;
    }
    auto* dialog = new WatchDialog(owner);
    dialog->show();
    return dialog;
}

WatchDialog* watchDialog() {
    return g_dialog;
}

void refreshWatchFromPostThread() {
    if (g_refreshPending.exchange(true, std::memory_order_acq_rel)) return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        g_refreshPending.store(false, std::memory_order_release);
        return;
    }
    QMetaObject::invokeMethod(
        app,
        [] {
            // Cleared first: a frame that ends during this refresh queues the
            // next one.
            g_refreshPending.store(false, std::memory_order_release);
            if (WatchDialog* dialog = g_dialog) dialog->refresh();
        },
        Qt::QueuedConnection);
}

} // namespace vortigo
